// SPDX-License-Identifier: GPL-3.0-or-later

// What database_write.cpp gives the session: a Save or an Update written as
// one transaction.
#pragma once

#include <functional>
#include <future>

#include <QString>

#include "record_store/conflict_copies.h"
#include "record_store/merge.h"
#include "record_store/versions.h"

namespace RecordStore::Internal {

// What the window's text descends from: the file as the session last read or
// wrote it, its digest, its id and its database text (worked out when first
// needed).
struct WriteBase
{
    ContentDigest digest;
    ContentId id;
    std::function<const QString &()> text;
};

// What a write put into the file, the digest and id of its bytes, and
// whether a load gives its text back as it is.
struct WriteOutcome
{
    WrittenDatabase database;
    ContentDigest digest;
    ContentId id;
    bool loadsAsWritten = false;
};

// One write of the window's whole text: the sync tools' copies merged in,
// another program's change of the file merged in, the file replaced, the
// versions kept and the write recorded, the versions no machine needs pruned
// (see database_write.cpp). The history is opened once, when first needed.
class DatabaseWrite
{
public:
    DatabaseWrite(const QString &programDirectory, const FileSystem::Folder &programFolder,
                  const WriteBase &base);

    // Writes `text`, telling `mergedBySearch` besides what it merges; the
    // copies merged before are `copies`, which then hold those merged here
    // and, after the write, none. `change` may tell where `text` differs
    // from one it was made from (see DatabaseSession::save).
    FileResult<WriteOutcome> run(const QString &text, const MergeReport &mergedBySearch,
                                 PendingCopies &copies,
                                 const std::optional<ShownChange> &change = std::nullopt);
    // The text that the file's bytes `file`, whose digest is `digest` and
    // whose id is `id`, and the window's text both descend from, the copies
    // `copies` merged into it; nothing when none is known. `older` is set
    // where an older content served for a nearer one no longer kept. What
    // the file holds is named in this machine's log as read.
    std::optional<QString> ancestorOf(const QByteArray &file, const ContentDigest &digest,
                                      const ContentId &id, const PendingCopies &copies,
                                      bool &older);

private:
    QList<CopyReport> mergeCopies(QString &text, PendingCopies &copies);
    // Merges another program's change of the file, read as `now` with the
    // digest `digest`, into `text`, which `textChange` may tell from another
    // text; `change` tells where the result differs from `text`, where the
    // merge knows it. Where the merge was made against what the window read
    // before the history named the file's ancestor, `unconfirmed` holds the
    // file's id being hashed, for mergedAgainstAncestor.
    FileResult<QString> mergeWithFile(const FileResult<FileBytes> &now, const ContentDigest &digest,
                                      const QString &text,
                                      const std::optional<ShownChange> &textChange,
                                      const PendingCopies &copies, MergeReport &report,
                                      std::optional<TextChange> &change,
                                      std::optional<std::future<ContentId>> &unconfirmed);
    // Whether the file's bytes `file` descend from what the window read as
    // the history tells, as a merge against it took them to (see ancestorOf,
    // which it calls); the write's next merge, where they do not, waits for
    // the history instead.
    bool mergedAgainstAncestor(const QByteArray &file, const ContentDigest &digest,
                               const ContentId &id, const PendingCopies &copies,
                               MergeReport &report);
    // Whether `text` is what the window read.
    bool isRead(const std::optional<QString> &text);
    WriteRecord recordOf(const PendingCopies &copies) const;

    QString m_programDirectory;
    FileSystem::Folder m_programFolder;
    WriteBase m_base;
    WriteHistory m_history;
    // The ids of the file's contents hashed while merging, by their digests.
    QList<std::pair<ContentDigest, ContentId>> m_idsSeen;
    // Whether a merge goes on before the history names the file's ancestor.
    bool m_guessAncestor = true;
};

} // namespace RecordStore::Internal
