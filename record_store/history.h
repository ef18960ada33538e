// SPDX-License-Identifier: GPL-3.0-or-later

// The recorded history of the database's contents in the versions folder:
// each content a write replaced or wrote, kept as a file named by its
// content, and for each machine a log of its writes, so that the last content
// two contents both descend from can be found.
#pragma once

#include <optional>
#include <tuple>

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include "record_store/file_system.h"

namespace RecordStore::Internal {

// A content's name in the history: the first 32 hexadecimal digits of its
// SHA-256 hash.
using ContentId = QByteArray;
ContentId contentIdOf(QByteArrayView bytes);

// What a write records besides the content it replaced: what else the
// content it writes descends from (the text the session last read or wrote,
// the conflict copies it merged), and the ids of contents the caller has
// hashed already, by their digests, so that the content replaced need not be
// hashed again.
struct WriteRecord
{
    QList<ContentId> parents;
    // The conflict copies merged, kept as versions too.
    QList<std::pair<ContentId, QByteArray>> copies;
    QList<std::pair<ContentDigest, ContentId>> knownIds;
};

// The program folder as the session found it.
struct ProgramFolder
{
    FileSystem::Folder folder;
};

class History
{
public:
    // Waits until the versions the last prune chose are removed (see prune);
    // open() does so first.
    static void finishRemovals();
    // The history in the versions folder of `programFolder`, read from every
    // machine's log and the sync tools' copies of the logs; with `create`
    // (for a write), the folder is made where it is missing and the copies
    // are folded into their logs.
    static FileResult<History> open(const FileSystem::Folder &programFolder,
                                    const QString &programDirectory, bool create);
    // For a history opened without `create`: folds the copies of the logs
    // into their logs as open() with it does, with the lines read then.
    void foldCopies();

    // Keeps `bytes`, whose id is `id`, as a version, unless it is kept already
    // (whole: one cut short is written again).
    FileResult<void> keep(const ContentId &id, QByteArrayView bytes);
    // Keeps the content a write writes, as keep(); one kept already gets the
    // time of this write, so that the versions sorted by their modification
    // time follow the writes (the content a write replaces keeps the time it
    // was written).
    FileResult<void> keepWritten(const ContentId &id, QByteArrayView bytes);
    // Lets the system drop the kept version `id` from its cache of the disk
    // at once, rather than when it next wants memory: for one that is not
    // read again soon.
    void releaseFromCache(const ContentId &id) const;
    // Appends to this machine's log that `written` descends from `parents`;
    // `note`, for people, follows the time.
    FileResult<void> record(const ContentId &written, const QList<ContentId> &parents,
                            const char *note = "");
    // Records that this machine read `id`, whose bytes are `bytes`, from the
    // file, unless its log's newest entry is `id` already or no log knows it
    // (an editor's, or one whose log has not arrived yet): the newest entry
    // of each log is what that machine's windows descend from, and pruning
    // keeps it and what it shares with the others. A content that the logs
    // know as an ancestor of what this machine last read or wrote was put
    // back (a restore, a sync tool's revert): it is recorded as descending
    // from that newer content, so that every merge applies the restore.
    FileResult<void> recordRead(const ContentId &id, QByteArrayView bytes);
    // Whether the file's content `id` was put back so (see recordRead).
    bool isRestore(const ContentId &id) const;
    // Whether a sync tool's conflict copy beside the file may hold `content`
    // or a content made from it.
    bool waitsInCopy(const ContentId &content) const;
    // The contents that `b` and one of `a` (the contents a text was made
    // from) both descend from and that no other such content descends from,
    // whose versions are kept whole, with their bytes, nearest to `b` first:
    // two or more where the two sides each merged what the other had (a
    // criss-cross). Where none of those is kept, the nearest such content
    // that is, and `older` is set; none when none is known.
    QList<std::pair<ContentId, QByteArray>>
    mergeBases(const QList<ContentId> &a, const ContentId &b, bool *older = nullptr) const;
    std::optional<ContentId> mergeBaseId(const ContentId &a, const ContentId &b) const;
    // Whether the logs know `id` to descend from `ancestor` (or to be it).
    bool descendsFrom(const ContentId &id, const ContentId &ancestor) const;
    // Whether any log knows `id`.
    bool knows(const ContentId &id) const;
    // Removes the versions no machine's newest kVersionsKept writes name,
    // except those in `keepAlso` and the nearest kept content that each two
    // machines' newest writes descend from; versions no log names are never
    // removed. A log no machine writes to any more (see retiredLogs()) keeps
    // none. The files go on another thread, meanwhile.
    void prune(const QList<ContentId> &keepAlso);
    // Once this machine's log holds more than 400 lines, rewrites it as a
    // summary of its older lines followed by its newest 200 lines as they
    // stand, so that reading the history costs
    // the same however long it has been written. The summary keeps a line
    // for each older content whose version is still kept, that was
    // restored, that `keepAlso` names, or that a newer line, a restore's
    // line or another log names (another log's summary only by its parents);
    // its parents are the nearest contents still kept that it descends from
    // (a restore's stay as they are). So what descends from what among the
    // contents kept, and for every content still named, stays known.
    void compact(const QList<ContentId> &keepAlso);

    const FileSystem::Folder &programFolder() const
    {
        return m_programFolder;
    }
    static QString versionName(const ContentId &id);
    // What this machine's own newest line names, read from its log's end
    // alone, without reading the history: nothing when none is found.
    static ContentId lastReadHere(const FileSystem::Folder &programFolder,
                                  const QString &programDirectory);

private:
    // Reads every machine's log, with the sync tools' copies of it, noting
    // the lines each copy adds for foldCopies().
    void readLogs();
    // Takes in each log's lines, the ids each names, written first; a
    // restore's line, by its first two ids in `restores`, puts what it was
    // restored over first among the content's parents.
    void link(const QHash<QString, QList<QList<ContentId>>> &lines,
              const QSet<QByteArray> &restores);
    // Appends to `log` the lines `added` that its copy `copy` adds, and
    // removes the copy.
    void foldCopy(const QString &copy, const QString &log, const QByteArray &added);
    // keep(), and with `now` keepWritten().
    FileResult<void> keepVersion(const ContentId &id, QByteArrayView bytes, bool now);
    // What `from` descends from, itself first, nearest first. A content
    // restored is two places of the history: the content put back (a node
    // of its id and "+", whose parent is what it was put back over) and the
    // content as first written (its id). `from` is the newer place; a write
    // that what the restore was put back over descends from, written before
    // the restore, names the older.
    QList<ContentId> ancestorsByDistance(const ContentId &from) const;
    // The nodes (see ancestorsByDistance()) that `from` and those nodes
    // descend from, nearest first.
    QList<ContentId> walk(QList<ContentId> from) const;
    // The nodes that the node `node` names as its parents.
    QList<ContentId> parentNodes(const ContentId &node) const;
    // Finds, for each restored content, what was written before its
    // restore (m_beforeRestore).
    void findBeforeRestores();
    // The logs that hold no versions any more: written to last more than
    // kLogRetiredAfterDays days ago, by another machine (or another program
    // folder), and descended from by the newest write of every log written
    // to since.
    QSet<QString> retiredLogs() const;
    // The log `bytes` of this machine compacted (see compact()), or nothing
    // when it is short enough.
    std::optional<QByteArray> compacted(const QByteArray &bytes,
                                        const QList<ContentId> &keepAlso) const;
    // The nearest contents in `targets` that `id` descends from, nearest
    // first, not through one another; through a content in `known`, the
    // nearest ones found for it already; never through one in `barren`,
    // from which none is reached, and to which it adds.
    QList<ContentId> nearestOf(const ContentId &id, const QSet<ContentId> &targets,
                               const QHash<ContentId, QList<ContentId>> &known,
                               QSet<ContentId> &barren) const;
    // The nearest content that `a` and `b` both descend from whose version is
    // there, unchecked; empty when none.
    ContentId nearestKeptAncestor(const ContentId &a, const ContentId &b) const;
    QString logName() const;
    // The bytes of the version of `id`, when it is kept whole.
    std::optional<QByteArray> keptVersion(const ContentId &id) const;
    // Of `ids`, those that no other of them descends from.
    QList<ContentId> lowest(const QList<ContentId> &ids) const;

    FileSystem::Folder m_programFolder;
    FileSystem::Folder m_folder;
    QByteArray m_machine;
    // This machine's tag on the lines it writes, and the newest content its
    // own lines name: what it last read from or wrote to the file.
    QByteArray m_tag;
    ContentId m_ownLast;
    // Every recorded write's parents, by the content written.
    QHash<ContentId, QList<ContentId>> m_parents;
    // Each log's writes, oldest first.
    QHash<QString, QList<ContentId>> m_logs;
    // The contents put back by a restore, with what each was put back over
    // (also their first parents); and for each, the contents that what it
    // was put back over was made from through writes alone (written before
    // the restore).
    QHash<ContentId, QList<ContentId>> m_restoredOver;
    QHash<ContentId, QSet<ContentId>> m_beforeRestore;
    // When each log's newest line was written, as it says.
    QHash<QString, QDateTime> m_lastWritten;
    // The contents the other machines' logs name.
    QSet<ContentId> m_namedElsewhere;
    QStringList m_files;
    // The copies of the logs not folded yet: the copy, its log and the lines
    // it adds.
    QList<std::tuple<QString, QString, QByteArray>> m_unfolded;
    // The contents whose versions are there (not checked whole).
    QSet<ContentId> m_versions;
};

// This machine's name in the history: a hash of the machine's id and the
// program folder's path, so that two machines, and two program folders on
// one machine, write logs of their own; only a machine cloned from another's
// disk shares its name (see History::open). STOCKBOOK_MACHINE_NAME, when it
// holds hexadecimal digits, is the name.
QByteArray machineName(const QString &programDirectory);
// What tells apart, in one log, the lines of machines that share its name.
QByteArray machineTag(const QString &programDirectory);

} // namespace RecordStore::Internal
