// SPDX-License-Identifier: GPL-3.0-or-later

// The history in the versions folder. Every content a write replaced or
// wrote is kept once, as stockbook-<id>.txt, the id a hash of its bytes; and
// every write appends to its machine's log, history-<machine>.txt, one line:
// the id written, then the ids it descends from (the content it replaced,
// the text the window last read or wrote, the copies it merged), then, for
// people, the local time. No file is written by two machines: a version's
// name is its content, and a log has one writer. So a sync tool carries the
// folder without making conflict copies of its own, and the order of the
// history comes from these links alone, never from clocks or names.
#include "record_store/history.h"

#if defined(STOCKBOOK_OPENSSL)
#include <openssl/sha.h>
#endif

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSysInfo>

namespace RecordStore::Internal {

namespace {

constexpr qsizetype kIdLength = 32;
// A log is read up to this size (half a million writes); a larger one is not.
constexpr qint64 kLargestLog = qint64(64) << 20;

bool isContentId(QByteArrayView token)
{
    if (token.size() != kIdLength)
        return false;
    return std::all_of(token.begin(), token.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool isLogName(const QString &name)
{
    return name.startsWith(QLatin1String("history-")) && name.endsWith(QLatin1String(".txt"));
}

// The content id in a version's name, or nothing.
ContentId idOfVersionName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^stockbook-([0-9a-f]{32})\\.txt$"));
    const QRegularExpressionMatch match = pattern.match(name);
    return match.hasMatch() ? match.captured(1).toLatin1() : ContentId();
}

} // namespace

ContentId contentIdOf(QByteArrayView bytes)
{
    // SHA-256, through OpenSSL where it is there (several times faster, on
    // processors with SHA instructions), else through Qt: the same ids.
#if defined(STOCKBOOK_OPENSSL)
    unsigned char digest[SHA256_DIGEST_LENGTH];
    ::SHA256(reinterpret_cast<const unsigned char *>(bytes.data()), size_t(bytes.size()), digest);
    return QByteArray(reinterpret_cast<const char *>(digest), sizeof digest)
        .toHex()
        .left(kIdLength);
#else
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(kIdLength);
#endif
}

QByteArray machineName(const QString &programDirectory)
{
    // Where the system has no machine id (some containers), the host name
    // stands in; a test may name the machine itself.
    QByteArray machine = qgetenv("STOCKBOOK_MACHINE_ID");
    if (machine.isEmpty())
        machine = QSysInfo::machineUniqueId();
    if (machine.isEmpty())
        machine = QSysInfo::machineHostName().toUtf8();
    const QString canonical = QFileInfo(programDirectory).canonicalFilePath();
    const QByteArray folder = (canonical.isEmpty() ? programDirectory : canonical).toUtf8();
    return QCryptographicHash::hash(QByteArray(machine + '\n' + folder),
                                    QCryptographicHash::Blake2b_256)
        .toHex()
        .left(12);
}

QString History::versionName(const ContentId &id)
{
    return QStringLiteral("stockbook-") + QLatin1String(id) + QStringLiteral(".txt");
}

FileResult<History> History::open(const FileSystem::Folder &programFolder,
                                  const QString &programDirectory, bool create)
{
    FileResult<FileSystem::Folder> folder =
        FileSystem::openFolderIn(programFolder, QStringLiteral("stockbook-versions"), create);
    if (!folder.ok())
        return folder.with(History{});
    History history;
    history.m_programFolder = programFolder;
    history.m_folder = folder.value;
    history.m_machine = machineName(programDirectory);
    const FileResult<QStringList> names = FileSystem::listFolder(folder.value);
    if (!names.ok())
        return names.with(History{});
    history.m_files = names.value;
    for (const QString &name : names.value) {
        if (!isLogName(name))
            continue;
        // A log that cannot be read (or is larger) tells nothing: what it names
        // is merged as without a known ancestor, and never pruned.
        const FileResult<QByteArray> log = FileSystem::readFileIn(folder.value, name, kLargestLog);
        if (!log.ok())
            continue;
        QList<ContentId> &writes = history.m_logs[name];
        for (const QByteArray &line : log.value.split('\n')) {
            const QList<QByteArray> tokens = line.trimmed().split(' ');
            if (tokens.isEmpty() || !isContentId(tokens.first()))
                continue;
            const ContentId &written = tokens.first();
            QList<ContentId> &parents = history.m_parents[written];
            for (qsizetype k = 1; k < tokens.size() && isContentId(tokens[k]); ++k)
                if (!parents.contains(tokens[k]))
                    parents.append(tokens[k]);
            writes.append(written);
        }
    }
    return {FileStatus::Ok, QString(), history};
}

std::optional<QString> History::keep(const ContentId &id, QByteArrayView bytes)
{
    const QString name = versionName(id);
    if (m_files.contains(name))
        return std::nullopt;
    std::optional<QString> reason = FileSystem::writeNewFileIn(m_folder, name, bytes);
    // Kept meanwhile by another window or machine: the same content.
    if (reason) {
        const FileResult<QByteArray> there = FileSystem::readFileIn(m_folder, name, bytes.size());
        if (there.ok() && contentIdOf(there.value) == id)
            reason.reset();
    }
    if (!reason)
        m_files.append(name);
    return reason;
}

std::optional<QString> History::record(const ContentId &written, const QList<ContentId> &parents)
{
    QByteArray line = written;
    QList<ContentId> &known = m_parents[written];
    for (const ContentId &parent : parents) {
        if (parent.isEmpty() || parent == written)
            continue;
        line += ' ' + parent;
        if (!known.contains(parent))
            known.append(parent);
    }
    line += " # " + QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1() + '\n';
    const QString name =
        QStringLiteral("history-") + QLatin1String(m_machine) + QStringLiteral(".txt");
    if (std::optional<QString> reason = FileSystem::appendToFileIn(m_folder, name, line))
        return reason;
    m_logs[name].append(written);
    return std::nullopt;
}

bool History::knows(const ContentId &id) const
{
    return m_parents.contains(id) ||
           std::any_of(m_parents.cbegin(), m_parents.cend(),
                       [&id](const QList<ContentId> &parents) { return parents.contains(id); });
}

bool History::descendsFrom(const ContentId &id, const ContentId &ancestor) const
{
    return ancestorsByDistance(id).contains(ancestor);
}

QList<ContentId> History::ancestorsByDistance(const ContentId &from) const
{
    QList<ContentId> order{from};
    QSet<ContentId> seen{from};
    for (qsizetype k = 0; k < order.size(); ++k) {
        for (const ContentId &parent : m_parents.value(order[k]))
            if (!seen.contains(parent)) {
                seen.insert(parent);
                order.append(parent);
            }
    }
    return order;
}

std::optional<ContentId> History::mergeBaseId(const ContentId &a, const ContentId &b) const
{
    if (!knows(a) || !knows(b))
        return std::nullopt;
    const QList<ContentId> fromA = ancestorsByDistance(a);
    const QSet<ContentId> ofA(fromA.cbegin(), fromA.cend());
    // The nearest common ancestor whose content is still kept. An older one
    // is an ancestor of both too: merging with it may bring back a record
    // removed since, but never removes one.
    for (const ContentId &id : ancestorsByDistance(b))
        if (ofA.contains(id) && m_files.contains(versionName(id)))
            return id;
    return std::nullopt;
}

std::optional<QByteArray> History::mergeBase(const ContentId &a, const ContentId &b) const
{
    const std::optional<ContentId> id = mergeBaseId(a, b);
    if (!id)
        return std::nullopt;
    const FileResult<QByteArray> bytes =
        FileSystem::readFileIn(m_folder, versionName(*id), kLargestDatabaseFile);
    if (!bytes.ok() || contentIdOf(bytes.value) != *id)
        return std::nullopt;
    return bytes.value;
}

void History::prune(const QList<ContentId> &keepAlso)
{
    QSet<ContentId> kept(keepAlso.cbegin(), keepAlso.cend());
    QSet<ContentId> named;
    for (const QList<ContentId> &writes : std::as_const(m_logs)) {
        for (qsizetype k = 0; k < writes.size(); ++k) {
            const bool recent = k + kVersionsKept >= writes.size();
            for (const ContentId &id : QList<ContentId>{writes[k]} + m_parents.value(writes[k])) {
                named.insert(id);
                if (recent)
                    kept.insert(id);
            }
        }
    }
    for (const QString &name : QStringList(m_files)) {
        const ContentId id = idOfVersionName(name);
        if (!id.isEmpty() && named.contains(id) && !kept.contains(id) &&
            !FileSystem::removeFileIn(m_folder, name))
            m_files.removeOne(name);
    }
}

} // namespace RecordStore::Internal
