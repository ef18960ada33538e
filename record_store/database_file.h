// SPDX-License-Identifier: GPL-3.0-or-later

// What database_file.cpp gives the other sources: the read of the file's
// bytes, their database text, and the write that records itself in the
// history. (The digest of the bytes and the size limit's reason are in
// file_system.h.)
#pragma once

#include <QByteArray>
#include <QString>

#include "record_store/file_system.h"
#include "record_store/history.h"

namespace RecordStore::Internal {

// The database text that a load of a file holding `bytes` gives.
QString databaseTextOf(const QByteArray &bytes);

// The file's bytes; Missing when there is no file, Failed when the program
// directory names none or the file may not or cannot be read.
FileResult<FileBytes> readDatabaseBytes(const QString &programDirectory);

// What a write wrote: the digest and the id of its bytes.
struct WrittenContent
{
    ContentDigest digest;
    ContentId id;
};

// WriteDatabaseFile, recording the write in the history with `record`.
FileResult<WrittenContent> writeDatabase(const QString &programDirectory, const QString &text,
                                         const std::optional<ContentDigest> &expected,
                                         const WriteRecord &record);
} // namespace RecordStore::Internal
