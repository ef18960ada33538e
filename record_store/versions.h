// SPDX-License-Identifier: GPL-3.0-or-later

// What versions.cpp gives the write: the record of a write in the history,
// and the pruning after it.
#pragma once

#include <optional>

#include <QByteArrayView>
#include <QString>

#include "record_store/history.h"

namespace RecordStore::Internal {

// Keeps the content the file holds `now` and the content
// written, and records the write; the reason when it could not.
// `history` is left open for pruneVersions, where the write was recorded.
// `program` is the program folder as the write opened it.
std::optional<QString> recordWrite(const QString &programDirectory,
                                   const FileResult<FileSystem::Folder> &program,
                                   const FileResult<FileBytes> &now, QByteArrayView written,
                                   const ContentId &writtenId, const WriteRecord &record,
                                   std::optional<History> &history);
// After a write of `written`: removes the versions no machine needs any more
// (see History::prune), keeping those that a waiting conflict copy will be
// merged against.
void pruneVersions(History &history, const ContentId &written);

} // namespace RecordStore::Internal
