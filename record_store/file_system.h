// The file system calls of the record store that differ from system to system:
// file_system_posix.cpp uses the POSIX calls, file_system_portable.cpp only Qt
// and standard C++; CMake builds one of them.
#pragma once

#include <optional>

#include <QFile>
#include <QString>

#include "record_store/record_store.h"

namespace RecordStore::FileSystem {

// The stamp of the file `path` names now (links followed), or of the open
// `file`; nothing when there is none or the system gives none.
std::optional<FileStamp> stampOf(const QString &path);
std::optional<FileStamp> stampOf(const QFile &file);

// Why the symbolic link `path` in `directory` may not be followed, or an empty
// text (also when `path` is no link).
QString untrustedLinkReason(const QString &directory, const QString &path);

// Flushes the open `file`'s content to disk; false, with errno set, when the
// system could not.
bool syncFile(QFile &file);

// Flushes the directory entry of a file just renamed into `directory`, so
// that the rename survives a power cut; best effort.
void syncDirectory(const QString &directory);

} // namespace RecordStore::FileSystem
