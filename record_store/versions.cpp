// SPDX-License-Identifier: GPL-3.0-or-later

// The versions folder as a write uses it: just before the rename, the
// content the file holds and the content written are kept and the write is
// recorded in this machine's log; after it, what no machine needs any more
// goes.
#include <QDir>

#include "record_store/database_file.h"
#include "record_store/history.h"

namespace RecordStore {

QString DatabaseVersionsPath(const QString &programDirectory)
{
    return programDirectory + QStringLiteral("/stockbook-versions");
}

namespace Internal {

namespace {

QString notKeptReason(const QString &programDirectory, const QString &reason)
{
    return Texts::tr("its present content could not be kept in %1 (%2)")
        .arg(QDir::toNativeSeparators(DatabaseVersionsPath(programDirectory)), reason);
}

} // namespace

std::optional<QString> recordWrite(const QString &programDirectory,
                                   const FileResult<FileBytes> &now, QByteArrayView written,
                                   const ContentId &writtenId, const WriteRecord &record)
{
    const FileResult<FileSystem::Folder> program = FileSystem::openProgramFolder(programDirectory);
    if (!program.ok())
        return notKeptReason(programDirectory, program.reason);
    FileResult<History> history = History::open(program.value, programDirectory, true);
    if (!history.ok())
        return notKeptReason(programDirectory, history.reason);
    QList<ContentId> parents = record.parents;
    if (now.ok()) {
        const ContentId replaced = !record.knownId.isEmpty() && digestOf(now) == record.knownDigest
                                       ? record.knownId
                                       : contentIdOf(now.value.bytes);
        // Writing what the file holds is no new step of the history, so
        // repeated Saves of one content push no version out.
        if (replaced == writtenId && record.copies.isEmpty())
            return std::nullopt;
        if (std::optional<QString> reason = history.value.keep(replaced, now.value.bytes))
            return notKeptReason(programDirectory, *reason);
        parents.prepend(replaced);
    }
    for (const auto &[id, bytes] : record.copies) {
        if (std::optional<QString> reason = history.value.keep(id, bytes))
            return notKeptReason(programDirectory, *reason);
        parents.append(id);
    }
    std::optional<QString> reason = history.value.keep(writtenId, written);
    if (!reason)
        reason = history.value.record(writtenId, parents);
    if (reason)
        return notKeptReason(programDirectory, *reason);
    return std::nullopt;
}

void pruneVersions(const QString &programDirectory, const ContentId &written)
{
    const FileResult<FileSystem::Folder> program = FileSystem::openProgramFolder(programDirectory);
    if (!program.ok())
        return;
    FileResult<History> history = History::open(program.value, programDirectory, false);
    if (!history.ok())
        return;
    // A copy still waiting to be merged keeps the version it will be merged
    // against.
    QList<ContentId> pending;
    for (const QString &name : ListConflictCopies(programDirectory)) {
        const FileResult<QByteArray> copy =
            FileSystem::readFileIn(program.value, name, kLargestDatabaseFile);
        if (copy.ok())
            if (const std::optional<ContentId> base =
                    history.value.mergeBaseId(written, contentIdOf(copy.value)))
                pending.append(*base);
    }
    history.value.prune(pending);
}

} // namespace Internal

} // namespace RecordStore
