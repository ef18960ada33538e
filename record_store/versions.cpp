// SPDX-License-Identifier: GPL-3.0-or-later

// The versions folder as a write uses it: just before the rename, the
// content the file holds and the content written are kept and the write is
// recorded in this machine's log; after it, what no machine needs any more
// goes.
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

QString notKeptReason(const QString &programDirectory, const QString &reason)
{
    return Texts::tr("its present content could not be kept in %1 (%2)")
        .arg(QDir::toNativeSeparators(DatabaseVersionsPath(programDirectory)), reason);
}

} // namespace

std::optional<QString> recordWrite(const QString &programDirectory,
                                   const FileResult<FileSystem::Folder> &program,
                                   const FileResult<FileBytes> &now, QByteArrayView written,
                                   const ContentId &writtenId, const WriteRecord &record,
                                   std::optional<History> &history)
{
    // Writing what the file holds is no new step of the history, so repeated
    // Saves of one content push no version out; it is what this machine read.
    if (now.ok() && now.value.bytes == written && record.copies.isEmpty()) {
        if (program.ok())
            if (FileResult<History> opened = History::open(program.value, programDirectory, false);
                opened.ok())
                static_cast<void>(opened.value.recordRead(writtenId, written, false));
        return std::nullopt;
    }
    if (!program.ok())
        return notKeptReason(programDirectory, program.reason);
    FileResult<History> opened = History::open(program.value, programDirectory, true);
    if (!opened.ok())
        return notKeptReason(programDirectory, opened.reason);
    History &kept = history.emplace(std::move(opened.value));
    QList<ContentId> parents = record.parents;
    if (now.ok()) {
        const ContentDigest digest = digestOf(now);
        const auto known = std::find_if(record.knownIds.cbegin(), record.knownIds.cend(),
                                        [&](const auto &id) { return id.first == digest; });
        const ContentId replaced =
            known != record.knownIds.cend() ? known->second : contentIdOf(now.value.bytes);
        if (std::optional<QString> reason = kept.keep(replaced, now.value.bytes))
            return notKeptReason(programDirectory, *reason);
        parents.prepend(replaced);
    }
    for (const auto &[id, bytes] : record.copies) {
        if (std::optional<QString> reason = kept.keep(id, bytes))
            return notKeptReason(programDirectory, *reason);
        parents.append(id);
    }
    std::optional<QString> reason = kept.keepWritten(writtenId, written);
    if (!reason)
        reason = kept.record(writtenId, parents);
    if (reason)
        return notKeptReason(programDirectory, *reason);
    return std::nullopt;
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
