// SPDX-License-Identifier: GPL-3.0-or-later

// What conflict_copies.cpp gives the session: the copies beside the database
// and the merge of one of them.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "record_store/history.h"
#include "record_store/merge.h"

namespace RecordStore::Internal {

// What a conflict copy brought into a text, and its
// content and id when it was merged.
struct CopyMerge
{
    CopyReport report;
    ContentId id;
    QByteArray bytes;
};

// ListConflictCopies, through the open program folder.
QStringList conflictCopiesIn(const FileSystem::Folder &programFolder);

// The text that a text made from the contents `madeFrom` and the content
// `other` both descend from, for their merge: a content, or where each side
// merged what the other had, their common ancestors merged (as git's
// recursive merge makes a virtual ancestor); none when none is known.
// `older` is set where an older content served for a nearer one no longer
// kept.
std::optional<QString> ancestorText(const History &history, const QList<ContentId> &madeFrom,
                                    const ContentId &other, bool *older, int depth = 0);

// Merges the conflict copy `name` into `text`, whose content was made from
// the contents `textBases`, against the content both are known to descend from; without
// one, every line of both is kept. A copy that cannot be read, or holds no
// database text (judged after decoding), is left out, saying why; the last
// line of a copy that does not end in a line end (one cut short) is left out
// of the merge and named in the report.
CopyMerge mergeConflictCopy(const FileSystem::Folder &programFolder, const History *history,
                            const QString &name, QString &text, const QList<ContentId> &textBases);

// The conflict copies merged into the window's text and not yet written: the
// write that takes them in keeps their contents as versions and names them
// as parents, and then they leave the folder.
class PendingCopies
{
public:
    // Merges into `text`, whose content was made from `textBases` and the
    // copies merged so far, the copies `names` in `programFolder` not merged
    // yet (see mergeConflictCopy), against `history` where there is one.
    QList<CopyReport> mergeInto(const FileSystem::Folder &programFolder, const QStringList &names,
                                const History *history, QString &text, QList<ContentId> textBases);
    // The ids of the copies merged.
    QList<ContentId> ids() const;
    // The contents of the copies, by their ids, as the write keeps them.
    QList<std::pair<ContentId, QByteArray>> versions() const;
    // After the write that took them in: removes each copy that is as it was
    // merged (one that changed since stays, and is merged again next time).
    void removeWritten(const FileSystem::Folder &programFolder);

private:
    struct Copy
    {
        QString name;
        ContentId id;
        QByteArray bytes;
    };
    QList<Copy> m_copies;
};

} // namespace RecordStore::Internal
