// SPDX-License-Identifier: GPL-3.0-or-later

// The copies of the database file that sync tools leave beside it when two
// machines changed it at once, found by their names, and their move into the
// versions folder once they have been taken in.
#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include "record_store/file_system.h"
#include "record_store/internal.h"

namespace RecordStore {

namespace {

// One pattern for each way a sync tool names its copy. Each captures the
// date (named "date": YYYYMMDD or YYYY-MM-DD) and, where the name holds it,
// the time ("time": HHMMSS) and the number that a second copy of the same
// moment gets ("number").
const QList<QRegularExpression> &conflictCopyPatterns()
{
    static const QList<QRegularExpression> patterns = {
        // Syncthing: the date and time the copy was made and the short id
        // (seven characters of base 32) of the device that made the change.
        QRegularExpression(QStringLiteral(
            R"(^stockbook\.sync-conflict-(?<date>\d{8})-(?<time>\d{6})-[A-Z2-7]{7}\.txt$)")),
        // Nextcloud, and ownCloud from its version 2.5: the file's time, the
        // user's name (without parentheses) when the server keeps the copies.
        QRegularExpression(
            QStringLiteral(R"(^stockbook \(conflicted copy (?:[^()]+ )?(?<date>\d{4}-\d{2}-\d{2}) )"
                           R"((?<time>\d{6})\)(?: \((?<number>\d+)\))?\.txt$)")),
        // ownCloud before 2.5, with or without a user's name.
        QRegularExpression(QStringLiteral(
            R"(^stockbook_conflict(?:[-_][^/]+)?-(?<date>\d{8})-(?<time>\d{6})\.txt$)")),
        // Dropbox: the name of the person or computer, the day, and a number
        // for a further copy of that day, inside or after the parentheses.
        QRegularExpression(
            QStringLiteral(R"(^stockbook \((?:.+['’]s )?conflicted copy (?<date>\d{4}-\d{2}-\d{2}))"
                           R"((?: \((?<number>\d+)\))?\)(?: \((?<number2>\d+)\))?\.txt$)")),
    };
    return patterns;
}

// What a copy is sorted by: the moment its name gives (a day alone counts
// from its midnight), then its number, each as fixed-width digits; empty for
// a name that is no conflict copy.
QString sortKeyOf(const QString &name)
{
    for (const QRegularExpression &pattern : conflictCopyPatterns()) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        QString date = match.captured(u"date");
        date.remove(u'-');
        const QString time = match.captured(u"time");
        const QString number = match.captured(u"number") + match.captured(u"number2");
        return date + (time.isEmpty() ? QStringLiteral("000000") : time) +
               number.rightJustified(9, u'0');
    }
    return QString();
}

} // namespace

QStringList ListConflictCopies(const QString &programDirectory)
{
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return {};
    QList<std::pair<QString, QString>> found; // sort key, name
    const QStringList names =
        QDir(programDirectory).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (const QString key = sortKeyOf(name); !key.isEmpty())
            found.append({key, name});
    }
    std::sort(found.begin(), found.end());
    QStringList copies;
    for (const auto &[key, name] : found)
        copies.append(name);
    return copies;
}

FileResult<QString> MoveConflictCopy(const QString &programDirectory, const QString &copyName)
{
    const auto failed = [](const QString &reason) {
        return FileResult<QString>{FileStatus::Failed, reason, QString()};
    };
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return failed(Texts::tr("Stockbook does not know the folder it was started from"));
    if (sortKeyOf(copyName).isEmpty())
        return failed(Texts::tr("%1 is no sync tool's copy of the database").arg(copyName));
    const QString folder = DatabaseVersionsPath(programDirectory);
    if (const std::optional<QString> unusable = Internal::versionsFolderRefusal(programDirectory))
        return failed(*unusable);
    const QString source = programDirectory + u'/' + copyName;
    if (!QFileInfo::exists(source))
        return failed(Texts::tr("%1 is no longer there").arg(copyName));
    // QFile::rename never replaces a file that is there: a name that is taken
    // gets "-2", "-3", ... before its ".txt".
    const QString stem = copyName.chopped(4); // every copy's name ends in ".txt"
    for (int n = 1; n < 1000; ++n) {
        const QString target =
            folder + u'/' +
            (n == 1 ? copyName : stem + u'-' + QString::number(n) + QStringLiteral(".txt"));
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        QFile file(source);
        if (file.rename(target)) {
            FileSystem::syncDirectory(folder);
            FileSystem::syncDirectory(programDirectory);
            return {FileStatus::Ok, QString(), target};
        }
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue; // taken in between
        return failed(file.errorString());
    }
    return failed(Texts::tr("Too many copies named %1 in %2").arg(copyName, folder));
}

namespace Internal {

namespace {

using LineCounts = QHash<QStringView, int>;

LineCounts countLines(const Lines &lines)
{
    LineCounts counts;
    for (const QStringView line : lines)
        ++counts[line];
    return counts;
}

// How many lines two texts differ in, equal lines being interchangeable.
qsizetype linesDiffering(const LineCounts &a, const LineCounts &b)
{
    qsizetype differing = 0;
    for (auto it = a.cbegin(); it != a.cend(); ++it)
        differing += qAbs(it.value() - b.value(it.key()));
    for (auto it = b.cbegin(); it != b.cend(); ++it)
        if (!a.contains(it.key()))
            differing += it.value();
    return differing;
}

// The bytes of a file beside the database, not through another user's link
// in a folder that others may write to.
FileResult<QByteArray> readBeside(const QString &programDirectory, const QString &path)
{
    if (const std::optional<QString> untrusted =
            FileSystem::untrustedLinkReason(programDirectory, path))
        return failure<QByteArray>(*untrusted);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure<QByteArray>(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure<QByteArray>(file.errorString());
    return {FileStatus::Ok, QString(), bytes};
}

} // namespace

FileResult<CopyReport> mergeConflictCopy(const QString &programDirectory, const QString &name,
                                         QString &text)
{
    CopyReport report;
    report.name = name;
    const FileResult<QByteArray> copy =
        readBeside(programDirectory, programDirectory + u'/' + name);
    if (!copy.ok()) {
        report.unreadable = copy.reason;
        return {FileStatus::Failed, copy.reason, report};
    }
    const QString copyText = databaseTextOf(copy.value);
    const Lines mine = linesOf(text);
    const Lines theirs = linesOf(copyText);
    const LineCounts mineCounts = countLines(mine);
    const LineCounts theirCounts = countLines(theirs);
    QString ancestor;
    qsizetype closest = -1;
    const QDir versions(DatabaseVersionsPath(programDirectory));
    for (const QString &version : versions.entryList(QDir::Files, QDir::Name)) {
        const FileResult<QByteArray> bytes =
            readBeside(programDirectory, versions.filePath(version));
        if (!bytes.ok())
            continue;
        QString candidate = databaseTextOf(bytes.value);
        const LineCounts counts = countLines(linesOf(candidate));
        const qsizetype distance =
            linesDiffering(counts, mineCounts) + linesDiffering(counts, theirCounts);
        if (closest < 0 || distance < closest) {
            closest = distance;
            ancestor = std::move(candidate);
        }
    }
    report.withoutAncestor = closest < 0;
    std::optional<MergedText> merged = mergeTexts(ancestor, text, copyText);
    if (!merged)
        return {FileStatus::Failed, Texts::tr("the copy could not be merged"), report};
    text = std::move(merged->text);
    report.merge = std::move(merged->report);
    report.merge.merged = true;
    return {FileStatus::Ok, QString(), report};
}

} // namespace Internal

} // namespace RecordStore
