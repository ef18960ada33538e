// SPDX-License-Identifier: GPL-3.0-or-later

// The versions folder: before a write replaces the database file, the bytes
// the file held go into stockbook-versions beside it, as
// stockbook-YYYYMMDD-HHMMSS.txt (local time; -2, -3, ... for further versions
// of the same second). The newest kVersionsKept are kept. Nothing in the
// folder but those versions is ever removed.
#include <algorithm>
#include <cerrno>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "record_store/file_system.h"
#include "record_store/internal.h"

namespace RecordStore {

QString DatabaseVersionsPath(const QString &programDirectory)
{
    return programDirectory + QStringLiteral("/stockbook-versions");
}

namespace Internal {

namespace {

struct Version
{
    QString name;
    QString stamp; // YYYYMMDD-HHMMSS
    int number = 1;
};

bool olderThan(const Version &a, const Version &b)
{
    return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
}

// The versions in the folder, oldest first.
std::vector<Version> versionsIn(const QDir &folder)
{
    static const QRegularExpression pattern(
        QStringLiteral("^stockbook-(\\d{8}-\\d{6})(?:-(\\d{1,6}))?\\.txt$"));
    std::vector<Version> versions;
    const QStringList names = folder.entryList({QStringLiteral("stockbook-*.txt")}, QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (match.hasMatch())
            versions.push_back(
                {name, match.captured(1), match.hasCaptured(2) ? match.captured(2).toInt() : 1});
    }
    std::sort(versions.begin(), versions.end(), olderThan);
    return versions;
}

bool holds(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes;
}

// Creates `name` in `folder` (never through a link or over a file), writes
// `bytes` into it and flushes it to disk; else the reason.
std::optional<QString> writeNewFile(const QDir &folder, const QString &name,
                                    const QByteArray &bytes)
{
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return file.errorString();
    std::optional<QString> reason;
    if (file.write(bytes) != bytes.size() || !file.flush())
        reason = file.errorString();
    else if (!FileSystem::syncFile(file))
        reason = qt_error_string(errno);
    if (reason)
        file.remove();
    return reason;
}

} // namespace

std::optional<QString> versionsFolderRefusal(const QString &programDirectory)
{
    const QString path = DatabaseVersionsPath(programDirectory);
    if (FileSystem::untrustedLinkReason(programDirectory, path))
        return Texts::tr("stockbook-versions is a symbolic link that belongs to another user, in "
                         "a folder that others may write to");
    if (!QDir(path).exists() && !QDir(programDirectory).mkdir(QStringLiteral("stockbook-versions")))
        return Texts::tr("the folder %1 could not be made").arg(QDir::toNativeSeparators(path));
    return std::nullopt;
}

std::optional<QString> keepVersion(const QString &programDirectory, const QByteArray &bytes)
{
    if (std::optional<QString> unusable = versionsFolderRefusal(programDirectory))
        return unusable;
    QDir folder(DatabaseVersionsPath(programDirectory));
    std::vector<Version> versions = versionsIn(folder);
    // The content the newest version holds already is not kept twice.
    if (!versions.empty() && holds(folder.filePath(versions.back().name), bytes))
        return std::nullopt;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    int number = 1;
    for (const Version &version : versions)
        if (version.stamp == stamp)
            number = qMax(number, version.number + 1);
    std::optional<QString> reason = Texts::tr("no free name for a version of this second");
    for (int tries = 0; tries < 100; ++tries, ++number) {
        const QString name = number == 1
                                 ? QStringLiteral("stockbook-%1.txt").arg(stamp)
                                 : QStringLiteral("stockbook-%1-%2.txt").arg(stamp).arg(number);
        if (folder.exists(name))
            continue;
        reason = writeNewFile(folder, name, bytes);
        if (reason)
            return reason;
        versions.push_back({name, stamp, number});
        break;
    }
    if (reason)
        return reason;
    // The new version stays even when the clock went back behind older ones.
    const QString kept = versions.back().name;
    std::sort(versions.begin(), versions.end(), olderThan);
    for (size_t k = 0; k + kVersionsKept < versions.size(); ++k)
        if (versions[k].name != kept)
            folder.remove(versions[k].name);
    return std::nullopt;
}

} // namespace Internal

} // namespace RecordStore
