// SPDX-License-Identifier: GPL-3.0-or-later

// The record store's file system calls that differ from system to system, in
// file_system_posix.cpp or file_system_portable.cpp (CMake builds one). The
// database file is found once (locate) and then named only through its folder.
#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>

#include "record_store/internal.h"

namespace RecordStore::FileSystem {

using Internal::FileBytes;
using Internal::FileStamp;

// An open folder (POSIX: its descriptor; portable: its path). Each
// implementation defines FolderState.
struct FolderState;
struct Folder
{
    std::shared_ptr<FolderState> state;
};

// Where the database file is: the folder that holds it and its name there,
// after the symbolic links that may be followed.
struct Location
{
    enum Entry { Missing, File, Other, UntrustedLink };
    Folder folder;
    QByteArray name;
    Entry entry = Missing;
    // Why a link is not followed (UntrustedLink), or why the folder of a
    // link's target could not be opened (Missing, and `folder` is empty).
    QString reason;
    // The entry as it was checked: its identity and stamp (where the system
    // gives one).
    std::optional<FileStamp> stamp;
};

// Finds the database file of `programDirectory`. A symbolic link is followed
// unless it lies in a folder that others may write to and belongs to another
// user than this one or root. Failed only when the program folder cannot be
// opened or the links go round in circles.
FileResult<Location> locate(const QString &programDirectory);

// Reads the file at `location`, never through a symbolic link, when it holds
// at most `limit` bytes. Failed when it is no longer the file that was
// located (replaced in between), is larger, or cannot be read.
FileResult<FileBytes> readFile(const Location &location, qint64 limit);

// A temporary file being written in a folder; removed when it goes unless it
// was renamed into place.
struct TemporaryState;
struct TemporaryFile
{
    std::shared_ptr<TemporaryState> state;
};

// The steps of replacing a file; each gives the system's reason when it
// fails, else nothing.
// A new, empty temporary file beside the file at `location`, created without
// following links and only when no such file exists, with the permissions of
// the file it will replace. Refused when that file is a folder or not
// writable.
FileResult<TemporaryFile> createTemporary(const Location &location);
std::optional<QString> writeAll(const TemporaryFile &file, QByteArrayView bytes);
// Flushes what was written to the disk.
std::optional<QString> flushToDisk(const TemporaryFile &file);
// Renames the temporary file over the entry at `location`, through the folder.
std::optional<QString> renameInto(const TemporaryFile &file, const Location &location);
// Flushes the folder's entries, so that a rename survives a power cut; best
// effort.
void syncFolder(const Folder &folder);

// For the files beside the database, looked up by path: why the symbolic link
// `path` in `directory` may not be followed by the rule of locate, or nothing;
// flushing an open file (false, errno set, on failure); flushing a folder.
std::optional<QString> untrustedLinkReason(const QString &directory, const QString &path);
bool syncFile(QFile &file);
void syncDirectory(const QString &directory);

} // namespace RecordStore::FileSystem
