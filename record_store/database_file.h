// SPDX-License-Identifier: GPL-3.0-or-later

// What database_file.cpp gives the other sources: where the file is, the
// read of its bytes and their database text. (The digest of the bytes and the
// size limit's reason are in file_system.h.)
#pragma once

#include <QByteArray>
#include <QString>

#include "record_store/file_system.h"

namespace RecordStore::Internal {

// The database file of the program directory. Only an absolute program
// directory names one; a link that may not be followed fails, saying why.
FileResult<FileSystem::Location> locateDatabase(const QString &programDirectory);

// The database text that a load of a file holding `bytes` gives.
QString databaseTextOf(const QByteArray &bytes);

// The file's bytes; Missing when there is no file, Failed when the program
// directory names none or the file may not or cannot be read.
FileResult<FileBytes> readDatabaseBytes(const QString &programDirectory);

} // namespace RecordStore::Internal
