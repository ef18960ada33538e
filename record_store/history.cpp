// SPDX-License-Identifier: GPL-3.0-or-later

// The history in the versions folder. Every content a write replaced or
// wrote is kept once, as stockbook-<id>.txt, the id a hash of its bytes; and
// every write appends to its machine's log, history-<machine>.txt, one line:
// the id written, then the ids it descends from (the content it replaced,
// the text the window last read or wrote, the copies it merged), then, for
// people, the local time. A version's name is its content, and a log has one
// writer, its machine; so a sync tool carries the folder without making
// conflict copies of its own, and the order of the history comes from these
// links alone, never from clocks or names. Only two machines with one name
// (one cloned from the other's disk: the same machine id and program folder)
// write one log; the sync tool's copies of it are read with it, and folded
// into it (its lines are a set) and removed by the next write.
//
// What a crash or a full disk leaves is never trusted: a version is written
// under a temporary name and takes its name once it is on the disk, and is
// used only when its bytes hash to its name (one that does not is written
// again when its content is kept again); a log line cut short is skipped,
// and the next line starts a line of its own.
#include "record_store/history.h"

#include "record_store/conflict_copies.h"
#include "record_store/file_names.h"

#if defined(STOCKBOOK_OPENSSL)
#include <openssl/sha.h>
#endif

#include <future>
#include <mutex>
#include <system_error>

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
// A log is read up to this size (half a million writes); of a larger one,
// its newest lines up to this size: the writes before them are not known
// (contents that descend from them are merged as without an ancestor), and
// the versions only they name are never removed.
constexpr qint64 kLargestLog = qint64(64) << 20;
// A log is compacted once it holds more lines than this, down to a summary
// and its newest half; a test may set a smaller number, so that short
// histories are compacted too, in STOCKBOOK_LOG_LINES.
qsizetype logLinesCompacted()
{
    static const qsizetype lines = [] {
        bool given = false;
        const int number = qEnvironmentVariableIntValue("STOCKBOOK_LOG_LINES", &given);
        return given && number >= 2 ? qsizetype(number) : qsizetype(400);
    }();
    return lines;
}
// A log that no machine has written to for this many days, and that every
// log written to since descends from, holds no versions any more: its
// machine has gone, or its program folder was moved.
constexpr qint64 kLogRetiredAfterDays = 30;

bool isContentId(QByteArrayView token)
{
    if (token.size() != kIdLength)
        return false;
    return std::all_of(token.begin(), token.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool isLogName(const QString &name)
{
    return name.startsWith(kLogPrefix) && name.endsWith(kTextSuffix);
}

// Calls `onPart` for each part of `bytes` between the separators `separator`,
// in place: each Save reads every line of every log, and copies only what it
// keeps. Stops early where `onPart` returns false.
template <typename OnPart> void forEachPart(QByteArrayView bytes, char separator, OnPart onPart)
{
    for (qsizetype start = 0; start <= bytes.size();) {
        qsizetype end = bytes.indexOf(separator, start);
        if (end < 0)
            end = bytes.size();
        if (!onPart(bytes.sliced(start, end - start)))
            return;
        start = end + 1;
    }
}

// The ids of a log line: the id written, then the ids it descends from, up to
// the "#" before the time; nothing for a line that does not read so (cut
// short, or damaged).
QList<ContentId> idsOfLine(QByteArrayView line)
{
    if (const qsizetype comment = line.indexOf('#'); comment >= 0)
        line = line.first(comment);
    QList<ContentId> ids;
    bool readable = true;
    forEachPart(line, ' ', [&](QByteArrayView token) {
        const QByteArrayView id = token.trimmed();
        if (!id.isEmpty()) {
            readable = isContentId(id);
            if (readable)
                ids.append(id.toByteArray());
        }
        return readable;
    });
    return readable ? ids : QList<ContentId>();
}

// The lines of a log (or of a copy of one) that read as a write, and their
// ids; nothing when it cannot be read.
std::optional<QList<std::pair<QByteArray, QList<ContentId>>>>
linesOfLog(const FileSystem::Folder &folder, const QString &name)
{
    FileResult<QByteArray> log = FileSystem::readFileEndIn(folder, name, kLargestLog + 1);
    if (!log.ok())
        return std::nullopt;
    // Read from its end, a larger log's first line may be cut.
    if (log.value.size() > kLargestLog)
        log.value.remove(0, log.value.indexOf('\n') + 1);
    QList<std::pair<QByteArray, QList<ContentId>>> lines;
    forEachPart(log.value, '\n', [&lines](QByteArrayView line) {
        if (QList<ContentId> ids = idsOfLine(line); !ids.isEmpty())
            lines.append({line.trimmed().toByteArray(), std::move(ids)});
        return true;
    });
    return lines;
}

// Whether `line` of this machine's log is one that its tag `tag` wrote (one
// without a tag, of an earlier version, counts too).
bool isOwnLine(const QByteArray &line, const QByteArray &tag)
{
    return line.endsWith(QByteArray(" @" + tag)) || !line.contains(" @");
}

// Whether `line` is one of a compacted log's summary (see History::compact).
bool isSummaryLine(const QByteArray &line)
{
    return line.contains("# summary ");
}

// The local time a log line was written at, invalid when it says none.
QDateTime timeOfLine(const QByteArray &line)
{
    QByteArray comment = line.mid(line.indexOf('#') + 1).trimmed();
    if (comment.startsWith("summary "))
        comment.remove(0, 8);
    return QDateTime::fromString(QString::fromLatin1(comment.left(comment.indexOf(' '))),
                                 Qt::ISODate);
}

// The content id in a version's name, or nothing.
ContentId idOfVersionName(const QString &name)
{
    static const QRegularExpression pattern(u'^' + kVersionPrefix +
                                            QStringLiteral("([0-9a-f]{32})") +
                                            QRegularExpression::escape(kTextSuffix) + u'$');
    const QRegularExpressionMatch match = pattern.match(name);
    return match.hasMatch() ? match.captured(1).toLatin1() : ContentId();
}

// The content that a node of the history's walk (see
// History::ancestorsByDistance) stands for.
ContentId contentOfNode(const ContentId &node)
{
    return node.endsWith('+') ? node.chopped(1) : node;
}

} // namespace

namespace {

// The versions a write pruned are removed on a thread of their own, off the
// write's way (removing a 5.5 MB file takes a millisecond); the history is
// opened again only once they are gone.
std::mutex removingMutex;
std::future<void> removing;

void removeMeanwhile(const FileSystem::Folder &folder, const QStringList &names)
{
    if (names.isEmpty())
        return;
    History::finishRemovals();
    const auto remove = [folder, names] {
        for (const QString &name : names)
            static_cast<void>(FileSystem::removeFileIn(folder, name));
    };
    try {
        const std::lock_guard<std::mutex> lock(removingMutex);
        removing = std::async(std::launch::async, remove);
    } catch (const std::system_error &) {
        remove(); // no thread to be had
    }
}

} // namespace

void History::finishRemovals()
{
    std::future<void> pending;
    {
        const std::lock_guard<std::mutex> lock(removingMutex);
        pending = std::move(removing);
    }
    if (pending.valid())
        pending.wait();
}

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
    // A test may give the name itself, as two machines cloned from one disk
    // share one (their id and the program folder's path are the same).
    static const QRegularExpression given(QStringLiteral("^[0-9a-f]{1,32}$"));
    const QByteArray name = qgetenv("STOCKBOOK_MACHINE_NAME");
    if (given.match(QLatin1String(name)).hasMatch())
        return name;
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

QByteArray machineTag(const QString &programDirectory)
{
    // Two machines cloned from one disk share their name, but their windows
    // write from different host names, or different folders.
    const QString canonical = QFileInfo(programDirectory).canonicalFilePath();
    const QByteArray folder = (canonical.isEmpty() ? programDirectory : canonical).toUtf8();
    return QCryptographicHash::hash(
               QByteArray(QSysInfo::machineHostName().toUtf8() + '\n' + folder),
               QCryptographicHash::Blake2b_256)
        .toHex()
        .left(8);
}

ContentId History::lastReadHere(const FileSystem::Folder &programFolder,
                                const QString &programDirectory)
{
    // The newest lines of this machine's log are enough: a window reads or
    // writes once per line.
    constexpr qint64 kTail = 64 << 10;
    const FileResult<FileSystem::Folder> folder =
        FileSystem::openFolderIn(programFolder, kVersionsFolderName, false);
    if (!folder.ok())
        return ContentId();
    const QString log = kLogPrefix + QLatin1String(machineName(programDirectory)) + kTextSuffix;
    const FileResult<QByteArray> tail = FileSystem::readFileEndIn(folder.value, log, kTail);
    if (!tail.ok())
        return ContentId();
    const QByteArray tag = machineTag(programDirectory);
    const QList<QByteArray> lines = tail.value.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        if (const QList<ContentId> ids = idsOfLine(*line);
            !ids.isEmpty() && isOwnLine(line->trimmed(), tag))
            return ids.first();
    return ContentId();
}

QString History::versionName(const ContentId &id)
{
    return kVersionPrefix + QLatin1String(id) + kTextSuffix;
}

FileResult<History> History::open(const FileSystem::Folder &programFolder,
                                  const QString &programDirectory, bool create)
{
    finishRemovals();
    FileResult<FileSystem::Folder> folder =
        FileSystem::openFolderIn(programFolder, kVersionsFolderName, create);
    if (!folder.ok())
        return folder.with(History{});
    History history;
    history.m_programFolder = programFolder;
    history.m_folder = folder.value;
    history.m_machine = machineName(programDirectory);
    history.m_tag = machineTag(programDirectory);
    const FileResult<QStringList> names = FileSystem::listFolder(folder.value);
    if (!names.ok())
        return names.with(History{});
    history.m_files = names.value;
    for (const QString &name : names.value)
        if (const ContentId id = idOfVersionName(name); !id.isEmpty())
            history.m_versions.insert(id);
    history.readLogs();
    if (create)
        history.foldCopies();
    return {FileStatus::Ok, QString(), history};
}

void History::foldCopies()
{
    for (const auto &[copy, log, added] : std::as_const(m_unfolded))
        foldCopy(copy, log, added);
    m_unfolded.clear();
}

void History::readLogs()
{
    // Each log's lines: its own, then those its copies add. A log that cannot
    // be read tells nothing: what it names is merged as without a known
    // ancestor, and never pruned.
    QHash<QString, QSet<QByteArray>> seen;
    QHash<QString, QList<QList<ContentId>>> lines;
    // A restore's parent comes first, so that a merge base is looked for
    // after the restore before the content's older place.
    QSet<QByteArray> restores;
    const QStringList names = m_files;
    for (const bool copies : {false, true}) {
        for (const QString &name : names) {
            const QString copyOf = logOfConflictCopy(name);
            const QString log = copyOf.isEmpty() && isLogName(name) ? name : copyOf;
            if (log.isEmpty() || copyOf.isEmpty() == copies) // not of this round
                continue;
            const auto read = linesOfLog(m_folder, name);
            if (!read)
                continue;
            QByteArray added;
            // A summary's line (see compact()) needs of the others' lines
            // only those of the parents it names.
            if (log != logName())
                for (const auto &[line, ids] : *read)
                    for (qsizetype k = isSummaryLine(line) ? 1 : 0; k < ids.size(); ++k)
                        m_namedElsewhere.insert(ids[k]);
            QSet<QByteArray> &seenInLog = seen[log];
            QList<QList<ContentId>> &linesOfThisLog = lines[log];
            seenInLog.reserve(seenInLog.size() + read->size());
            const bool ownLog = log == logName();
            for (const auto &[line, ids] : *read) {
                // What this machine last read or wrote: its newest own line
                // (one without a tag, of an earlier version, counts too).
                if (ownLog && isOwnLine(line, m_tag))
                    m_ownLast = ids.first();
                if (!seenInLog.contains(line)) {
                    seenInLog.insert(line);
                    linesOfThisLog.append(ids);
                    if (copies)
                        added += line + '\n';
                    if (ids.size() > 1 && line.contains(" restored"))
                        restores.insert(ids[0] + ids[1]);
                }
            }
            if (!read->isEmpty())
                m_lastWritten[log] = qMax(m_lastWritten.value(log), timeOfLine(read->last().first));
            if (copies)
                m_unfolded.append({name, log, added});
        }
    }
    link(lines, restores);
}

void History::link(const QHash<QString, QList<QList<ContentId>>> &lines,
                   const QSet<QByteArray> &restores)
{
    for (auto log = lines.cbegin(); log != lines.cend(); ++log) {
        for (const QList<ContentId> &ids : log.value()) {
            QList<ContentId> &parents = m_parents[ids.first()];
            const bool restore = ids.size() > 1 && restores.contains(ids[0] + ids[1]);
            for (const ContentId &parent : ids.sliced(1))
                if (!parents.contains(parent))
                    restore ? parents.prepend(parent) : parents.append(parent);
            m_logs[log.key()].append(ids.first());
            if (restore && !m_restoredOver[ids[0]].contains(ids[1]))
                m_restoredOver[ids[0]].append(ids[1]);
        }
    }
    findBeforeRestores();
}

void History::findBeforeRestores()
{
    // What each restore was put back over was made from, through writes
    // alone: a write among these named the restored content before it was
    // put back.
    for (auto restored = m_restoredOver.cbegin(); restored != m_restoredOver.cend(); ++restored) {
        QList<ContentId> queue = restored.value();
        QSet<ContentId> before(queue.cbegin(), queue.cend());
        for (qsizetype k = 0; k < queue.size(); ++k) {
            const QList<ContentId> over = m_restoredOver.value(queue[k]);
            for (const ContentId &parent : m_parents.value(queue[k]))
                if (!over.contains(parent) && !before.contains(parent)) {
                    before.insert(parent);
                    queue.append(parent);
                }
        }
        m_beforeRestore[restored.key()] = std::move(before);
    }
}

void History::foldCopy(const QString &copy, const QString &log, const QByteArray &added)
{
    // What another window folds at the same time is appended twice: the
    // lines are a set.
    if (!added.isEmpty() && !FileSystem::appendToFileIn(m_folder, log, added).ok())
        return; // the copy stays, and is read with the log
    if (FileSystem::removeFileIn(m_folder, copy).ok())
        m_files.removeOne(copy);
}

FileResult<void> History::keep(const ContentId &id, QByteArrayView bytes)
{
    return keepVersion(id, bytes, false);
}

FileResult<void> History::keepWritten(const ContentId &id, QByteArrayView bytes)
{
    return keepVersion(id, bytes, true);
}

FileResult<void> History::keepVersion(const ContentId &id, QByteArrayView bytes, bool now)
{
    const QString name = versionName(id);
    FileResult<void> kept;
    // Twice: the version may be kept meanwhile by another window or machine.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const FileResult<QByteArray> there =
            FileSystem::readFileIn(m_folder, name, kLargestDatabaseFile);
        if (there.ok() && there.value == bytes) {
            // The time is for the order of the versions alone: one that
            // keeps its old time is kept all the same.
            if (now)
                static_cast<void>(FileSystem::touchFileIn(m_folder, name));
            kept = done();
            break;
        }
        // Cut short (a crash or a full disk while it was written), or
        // damaged since: written again (a removal that fails makes the
        // write below fail, saying why).
        if (there.ok())
            static_cast<void>(FileSystem::removeFileIn(m_folder, name));
        kept = FileSystem::writeNewFileIn(m_folder, name, bytes);
        if (kept.ok())
            break;
    }
    if (kept.ok() && !m_versions.contains(id)) {
        m_files.append(name);
        m_versions.insert(id);
    }
    return kept;
}

void History::releaseFromCache(const ContentId &id) const
{
    FileSystem::dropCachedPagesIn(m_folder, versionName(id));
}

QString History::logName() const
{
    return kLogPrefix + QLatin1String(m_machine) + kTextSuffix;
}

FileResult<void> History::record(const ContentId &written, const QList<ContentId> &parents,
                                 const char *note)
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
    line += " # " + QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1() + note + " @" +
            m_tag + '\n';
    const QString name = logName();
    if (FileResult<void> appended = FileSystem::appendToFileIn(m_folder, name, line);
        !appended.ok())
        return appended;
    m_logs[name].append(written);
    m_ownLast = written;
    return done();
}

bool History::isRestore(const ContentId &id) const
{
    // A content that a write made anew since (the same records again, from
    // changes of a newer content) is no restore: one of its parents then
    // descends from it (its first writes' parents, not what an earlier
    // restore put it back over); nor is one that a write made from nothing
    // (a new database), as any machine may have; nor one beside a sync
    // tool's conflict copy that holds this machine's newer content, or one
    // made from it: the file is then the winner of a conflict over it, and
    // the newer content waits in the copy, to be merged.
    const ContentId &last = m_ownLast;
    if (last.isEmpty() || last == id || m_parents.value(id).isEmpty() || !descendsFrom(last, id) ||
        descendsFrom(id, last))
        return false;
    const QList<ContentId> madeFrom = walk(parentNodes(id));
    return !madeFrom.contains(id) && !madeFrom.contains(id + '+') && !waitsInCopy(last);
}

bool History::waitsInCopy(const ContentId &content) const
{
    for (const QString &name : conflictCopiesIn(m_programFolder)) {
        const FileResult<QByteArray> copy =
            FileSystem::readFileIn(m_programFolder, name, kLargestDatabaseFile);
        // One that cannot be read, or that no log knows (its log not come
        // yet, or in another encoding), may hold it.
        const ContentId id = copy.ok() ? contentIdOf(copy.value) : ContentId();
        if (id.isEmpty() || !knows(id) || descendsFrom(id, content))
            return true;
    }
    return false;
}

FileResult<void> History::recordRead(const ContentId &id, QByteArrayView bytes)
{
    const ContentId last = m_ownLast;
    if (last == id)
        return done();
    // A content no log knows is not named: an editor's, or another
    // machine's whose log has not arrived yet, where nothing tells what it
    // was made from.
    if (!knows(id))
        return done();
    const bool restored = isRestore(id);
    QList<ContentId> parents;
    if (restored)
        parents.append(last);
    if (FileResult<void> kept = keep(id, bytes); !kept.ok())
        return kept;
    FileResult<void> recorded = record(id, parents, restored ? " restored" : " read");
    if (restored) {
        m_parents[id].move(m_parents[id].indexOf(last), 0);
        if (!m_restoredOver[id].contains(last))
            m_restoredOver[id].append(last);
        findBeforeRestores();
    }
    return recorded;
}

bool History::knows(const ContentId &id) const
{
    return m_parents.contains(id) ||
           std::any_of(m_parents.cbegin(), m_parents.cend(),
                       [&id](const QList<ContentId> &parents) { return parents.contains(id); });
}

bool History::descendsFrom(const ContentId &id, const ContentId &ancestor) const
{
    const QList<ContentId> nodes = ancestorsByDistance(id);
    return nodes.contains(ancestor) || nodes.contains(ancestor + '+');
}

QList<ContentId> History::ancestorsByDistance(const ContentId &from) const
{
    return walk({m_restoredOver.contains(from) ? from + '+' : from});
}

QList<ContentId> History::walk(QList<ContentId> from) const
{
    QSet<ContentId> seen;
    QList<ContentId> order;
    for (qsizetype k = 0; k < from.size(); ++k)
        if (!seen.contains(from[k])) {
            seen.insert(from[k]);
            order.append(from[k]);
            from += parentNodes(from[k]);
        }
    return order;
}

QList<ContentId> History::parentNodes(const ContentId &node) const
{
    // A restored content's newer place descends from what it was put back
    // over alone; its older place from what it was first written from.
    const bool putBack = node.endsWith('+');
    const ContentId id = contentOfNode(node);
    const QList<ContentId> over = m_restoredOver.value(id);
    QList<ContentId> nodes;
    for (const ContentId &parent : m_parents.value(id)) {
        if (over.contains(parent) != putBack)
            continue;
        const bool older =
            !m_restoredOver.contains(parent) || m_beforeRestore.value(parent).contains(id);
        nodes.append(older ? parent : parent + '+');
    }
    return nodes;
}

std::optional<QByteArray> History::keptVersion(const ContentId &id) const
{
    if (!m_versions.contains(id))
        return std::nullopt;
    FileResult<QByteArray> bytes =
        FileSystem::readFileIn(m_folder, versionName(id), kLargestDatabaseFile);
    if (!bytes.ok() || contentIdOf(bytes.value) != id)
        return std::nullopt;
    return std::move(bytes.value);
}

QList<ContentId> History::lowest(const QList<ContentId> &ids) const
{
    // Everything any of them descends from, through one walk from their
    // parents.
    QList<ContentId> parents;
    for (const ContentId &id : ids)
        parents += parentNodes(id);
    const QList<ContentId> walked = walk(parents);
    const QSet<ContentId> older(walked.cbegin(), walked.cend());
    QList<ContentId> result;
    for (const ContentId &id : ids)
        if (!older.contains(id))
            result.append(id);
    return result;
}

QList<std::pair<ContentId, QByteArray>> History::mergeBases(const QList<ContentId> &a,
                                                            const ContentId &b, bool *older) const
{
    if (!knows(b))
        return {};
    QSet<ContentId> ofA;
    for (const ContentId &made : a)
        if (knows(made))
            for (const ContentId &id : ancestorsByDistance(made))
                ofA.insert(id);
    QList<ContentId> common;
    for (const ContentId &id : ancestorsByDistance(b))
        if (ofA.contains(id))
            common.append(id);
    QList<std::pair<ContentId, QByteArray>> bases;
    for (const ContentId &node : lowest(common)) {
        const ContentId id = contentOfNode(node);
        const bool taken = std::any_of(bases.cbegin(), bases.cend(),
                                       [&id](const auto &base) { return base.first == id; });
        if (std::optional<QByteArray> bytes = taken ? std::nullopt : keptVersion(id))
            bases.append({id, std::move(*bytes)});
    }
    // Else the nearest common ancestor still kept whole. An older one is an
    // ancestor of both too: merging with it may bring back a record removed
    // since, but never removes one.
    for (qsizetype k = 0; k < common.size() && bases.isEmpty(); ++k)
        if (std::optional<QByteArray> bytes = keptVersion(contentOfNode(common[k]))) {
            bases.append({contentOfNode(common[k]), std::move(*bytes)});
            if (older)
                *older = true;
        }
    return bases;
}

std::optional<ContentId> History::mergeBaseId(const ContentId &a, const ContentId &b) const
{
    const QList<std::pair<ContentId, QByteArray>> bases = mergeBases({a}, b);
    if (bases.isEmpty())
        return std::nullopt;
    return bases.first().first;
}

ContentId History::nearestKeptAncestor(const ContentId &a, const ContentId &b) const
{
    const QList<ContentId> fromA = ancestorsByDistance(a);
    const QSet<ContentId> ofA(fromA.cbegin(), fromA.cend());
    for (const ContentId &node : ancestorsByDistance(b))
        if (ofA.contains(node) && m_versions.contains(contentOfNode(node)))
            return contentOfNode(node);
    return ContentId();
}

QSet<QString> History::retiredLogs() const
{
    const QDateTime now = QDateTime::currentDateTime();
    QStringList old;
    QList<ContentId> liveHeads;
    for (auto log = m_logs.cbegin(); log != m_logs.cend(); ++log) {
        const QDateTime last = m_lastWritten.value(log.key());
        if (log.key() != logName() && last.isValid() && last.daysTo(now) > kLogRetiredAfterDays)
            old.append(log.key());
        else if (!log.value().isEmpty())
            liveHeads.append(log.value().last());
    }
    QSet<QString> retired;
    for (const QString &log : old) {
        const ContentId &head = m_logs[log].last();
        if (!liveHeads.isEmpty() &&
            std::all_of(liveHeads.cbegin(), liveHeads.cend(),
                        [&](const ContentId &live) { return descendsFrom(live, head); }))
            retired.insert(log);
    }
    return retired;
}

void History::prune(const QList<ContentId> &keepAlso)
{
    QSet<ContentId> kept(keepAlso.cbegin(), keepAlso.cend());
    QSet<ContentId> named;
    QList<ContentId> heads;
    const QSet<QString> retired = retiredLogs();
    for (auto log = m_logs.cbegin(); log != m_logs.cend(); ++log) {
        const QList<ContentId> &writes = log.value();
        const bool holdsVersions = !retired.contains(log.key());
        for (qsizetype k = 0; k < writes.size(); ++k) {
            const bool recent = holdsVersions && k + kVersionsKept >= writes.size();
            for (const ContentId &id : QList<ContentId>{writes[k]} + m_parents.value(writes[k])) {
                named.insert(id);
                if (recent)
                    kept.insert(id);
            }
        }
        if (!writes.isEmpty() && holdsVersions)
            heads.append(writes.last());
    }
    // What a machine's window descends from and another's does too: the base
    // of their merge, however many writes either made since (a machine
    // offline for a busy week).
    for (qsizetype i = 0; i < heads.size(); ++i)
        for (qsizetype j = i + 1; j < heads.size(); ++j)
            kept.insert(nearestKeptAncestor(heads[i], heads[j]));
    QStringList pruned;
    for (const QString &name : QStringList(m_files)) {
        const ContentId id = idOfVersionName(name);
        if (!id.isEmpty() && named.contains(id) && !kept.contains(id)) {
            pruned.append(name);
            m_files.removeOne(name);
            m_versions.remove(id);
        }
    }
    removeMeanwhile(m_folder, pruned);
}

QList<ContentId> History::nearestOf(const ContentId &id, const QSet<ContentId> &targets,
                                    const QHash<ContentId, QList<ContentId>> &known,
                                    QSet<ContentId> &barren) const
{
    QList<ContentId> nearest;
    QList<ContentId> queue = m_parents.value(id);
    QSet<ContentId> seen{id};
    for (qsizetype k = 0; k < queue.size(); ++k) {
        const ContentId at = queue[k];
        if (seen.contains(at))
            continue;
        seen.insert(at);
        if (targets.contains(at)) {
            if (!nearest.contains(at))
                nearest.append(at);
        } else if (barren.contains(at)) {
            continue;
        } else if (const auto found = known.constFind(at); found != known.cend()) {
            for (const ContentId &target : *found)
                if (!nearest.contains(target))
                    nearest.append(target);
        } else {
            queue.append(m_parents.value(at));
        }
    }
    // Where none was found, none is found through any content passed.
    if (nearest.isEmpty())
        barren.unite(seen);
    return nearest;
}

std::optional<QByteArray> History::compacted(const QByteArray &bytes,
                                             const QList<ContentId> &keepAlso) const
{
    QList<std::pair<QByteArray, QList<ContentId>>> lines;
    for (const QByteArray &line : bytes.split('\n'))
        if (QList<ContentId> ids = idsOfLine(line); !ids.isEmpty())
            lines.append({line.trimmed(), std::move(ids)});
    if (lines.size() <= logLinesCompacted())
        return std::nullopt;
    const qsizetype older = lines.size() - logLinesCompacted() / 2;
    const QSet<ContentId> &kept = m_versions;
    // What stays known: the contents still kept, restored or that the
    // caller keeps, and what the newer lines, a restore's line and the other
    // logs name.
    const QList<ContentId> restored = m_restoredOver.keys();
    QSet<ContentId> named =
        kept + m_namedElsewhere + QSet<ContentId>(restored.cbegin(), restored.cend());
    named.unite(QSet<ContentId>(keepAlso.cbegin(), keepAlso.cend()));
    for (qsizetype k = 0; k < lines.size(); ++k)
        if (k >= older || lines[k].first.contains(" restored"))
            named.unite(QSet<ContentId>(lines[k].second.cbegin(), lines[k].second.cend()));
    // Each older content that stays, by its newest line (a restore's line
    // rather: its parents stay as they are, what it was restored over
    // first).
    QList<qsizetype> order;
    QHash<ContentId, qsizetype> lineOf;
    for (qsizetype k = older - 1; k >= 0; --k) {
        const ContentId &id = lines[k].second.first();
        if (!named.contains(id))
            continue;
        if (!lineOf.contains(id))
            order.append(k);
        if (!lineOf.contains(id) || lines[k].first.contains(" restored"))
            lineOf[id] = k;
    }
    // Oldest first, so that the search from a newer content stops at an
    // older one whose nearest kept contents are known already.
    QByteArray summary;
    QHash<ContentId, QList<ContentId>> nearest;
    QSet<ContentId> barren;
    for (auto at = order.crbegin(); at != order.crend(); ++at) {
        const auto &[line, ids] = lines[lineOf.value(lines[*at].second.first())];
        const bool restore = line.contains(" restored");
        nearest[ids.first()] = nearestOf(ids.first(), kept, nearest, barren);
        summary += ids.first();
        for (const ContentId &parent : restore ? ids.sliced(1) : nearest[ids.first()])
            summary += ' ' + parent;
        const QByteArray comment = line.mid(line.indexOf('#') + 1).trimmed();
        summary += " # " + (isSummaryLine(line) ? comment : "summary " + comment) + '\n';
    }
    for (qsizetype k = older; k < lines.size(); ++k)
        summary += lines[k].first + '\n';
    return summary;
}

void History::compact(const QList<ContentId> &keepAlso)
{
    if (m_logs.value(logName()).size() <= logLinesCompacted())
        return;
    // A log that cannot be rewritten stays as it is, whole: it is only read
    // more slowly.
    static_cast<void>(
        FileSystem::rewriteFileIn(m_folder, logName(), kLargestLog, [&](const QByteArray &bytes) {
            return compacted(bytes, keepAlso);
        }));
}

} // namespace RecordStore::Internal
