// SPDX-License-Identifier: GPL-3.0-or-later

// The versions folder as a write uses it: the history opened once for the
// write; just before the rename, the content the file holds and the content
// written kept and the write recorded in this machine's log; after it, what
// no machine needs any more pruned.
#include "record_store/versions.h"

#include <algorithm>

#include <QDir>

#include "record_store/file_names.h"

namespace RecordStore {

QString DatabaseVersionsPath(const QString &programDirectory)
{
    return programDirectory + u'/' + Internal::kVersionsFolderName;
}

namespace Internal {

namespace {

FileResult<void> notKept(const QString &programDirectory, const QString &reason)
{
    return failure<void>(
        Texts::tr("its present content could not be kept in %1 (%2)")
            .arg(QDir::toNativeSeparators(DatabaseVersionsPath(programDirectory)), reason));
}

} // namespace

WriteHistory::WriteHistory(const FileSystem::Folder &programFolder, const QString &programDirectory)
    : m_programFolder(programFolder), m_programDirectory(programDirectory)
{
}

History *WriteHistory::forReading()
{
    if (!m_opened && m_programFolder.state)
        m_opened = History::open(m_programFolder, m_programDirectory, false);
    return m_opened && m_opened->ok() ? &m_opened->value : nullptr;
}

FileResult<History *> WriteHistory::forRecording()
{
    if (!m_forRecording && m_opened && m_opened->ok())
        m_opened->value.foldCopies();
    else if (!m_forRecording)
        m_opened = History::open(m_programFolder, m_programDirectory, true);
    m_forRecording = true;
    return m_opened->with(m_opened->ok() ? &m_opened->value : nullptr);
}

History *WriteHistory::recorded()
{
    return m_forRecording && m_opened->ok() ? &m_opened->value : nullptr;
}

void WriteHistory::useFolder(const FileSystem::Folder &programFolder)
{
    if (!m_programFolder.state)
        m_programFolder = programFolder;
}

namespace {

// Keeps the contents the write replaces and takes in, and the content it
// writes, and adds its line to this machine's log.
FileResult<void> keepAndRecord(History &history, const FileResult<FileBytes> &now,
                               QByteArrayView written, const ContentId &writtenId,
                               const WriteRecord &record)
{
    QList<ContentId> parents = record.parents;
    if (now.ok()) {
        const ContentDigest digest = digestOf(now);
        const auto known = std::find_if(record.knownIds.cbegin(), record.knownIds.cend(),
                                        [&](const auto &id) { return id.first == digest; });
        const ContentId replaced =
            known != record.knownIds.cend() ? known->second : contentIdOf(now.value.bytes);
        if (FileResult<void> version = history.keep(replaced, now.value.bytes); !version.ok())
            return version;
        // The next write compares the content written here, not this one:
        // its pages go now, for the next writes to take. (Left to the
        // system, the version written after another writer's write and
        // version took 10 ms instead of 1 ms on a virtual machine, for new
        // pages.)
        history.releaseFromCache(replaced);
        parents.prepend(replaced);
    }
    for (const auto &[id, bytes] : record.copies) {
        if (FileResult<void> version = history.keep(id, bytes); !version.ok())
            return version;
        parents.append(id);
    }
    FileResult<void> recorded = history.keepWritten(writtenId, written);
    if (recorded.ok())
        recorded = history.record(writtenId, parents);
    return recorded;
}

} // namespace

FileResult<void> recordWrite(const QString &programDirectory,
                             const FileResult<FileSystem::Folder> &program,
                             const FileResult<FileBytes> &now, QByteArrayView written,
                             const ContentId &writtenId, const WriteRecord &record,
                             WriteHistory &history)
{
    // Writing what the file holds is no new step of the history, so repeated
    // Saves of one content push no version out; it is what this machine read.
    // (Where the history cannot be written, the read is not recorded: its
    // version is then left to the pruning as any other.)
    if (now.ok() && now.value.bytes == written && record.copies.isEmpty()) {
        if (History *read = program.ok() ? history.forReading() : nullptr)
            static_cast<void>(read->recordRead(writtenId, written));
        return done();
    }
    if (!program.ok())
        return notKept(programDirectory, program.reason);
    const FileResult<History *> kept = history.forRecording();
    if (!kept.ok())
        return notKept(programDirectory, kept.reason);
    if (FileResult<void> recorded = keepAndRecord(*kept.value, now, written, writtenId, record);
        !recorded.ok())
        return notKept(programDirectory, recorded.reason);
    return done();
}

void pruneVersions(History &history, const ContentId &written)
{
    // A copy still waiting to be merged keeps the version it will be merged
    // against; one that is no plain file is never read, so it keeps none.
    QList<ContentId> pending;
    QList<ContentId> copies;
    const FileResult<QStringList> names = FileSystem::listFolder(history.programFolder());
    for (const QString &name : conflictCopiesAmong(names.value)) {
        const FileResult<QByteArray> copy =
            FileSystem::readFileIn(history.programFolder(), name, kLargestDatabaseFile);
        if (!copy.ok())
            continue;
        copies.append(contentIdOf(copy.value));
        if (const std::optional<ContentId> base = history.mergeBaseId(written, copies.last()))
            pending.append(*base);
    }
    history.prune(pending);
    // The copies' own lines stay too: their merge looks for what they
    // descend from.
    history.compact(pending + copies);
}

} // namespace Internal

} // namespace RecordStore
