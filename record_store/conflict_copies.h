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

// Merges the conflict copy `name` into `text`, whose content descends from
// `textBase`, against the content both are known to descend from; without
// one, every line of both is kept. A copy that cannot be read, or holds no
// database text (judged after decoding), is left out, saying why; the last
// line of a copy that does not end in a line end (one cut short) is left out
// of the merge and named in the report.
CopyMerge mergeConflictCopy(const FileSystem::Folder &programFolder, const History *history,
                            const QString &name, QString &text, const ContentId &textBase);

} // namespace RecordStore::Internal
