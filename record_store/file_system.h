// SPDX-License-Identifier: GPL-3.0-or-later

// The record store's file system calls that differ from system to system, in
// file_system_posix.cpp or file_system_portable.cpp (CMake builds one). The
// database file is found once (locate) and then named only through its folder;
// a read gives its bytes and its stamp. The helpers of a read (its digest, the
// stamps compared, the size limit's reason) are here too.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include "record_store/internal.h"

namespace RecordStore::Internal {

// Which file a read found, and as of when: device, inode, size and the
// modification and change times in nanoseconds. Only the search's snapshot
// compares stamps (see DatabaseSnapshot and ContentDigest).
struct FileStamp
{
    qint64 device = -1;
    qint64 inode = -1;
    qint64 size = -1;
    qint64 modified = -1;
    qint64 changed = -1;
};

// The bytes of one read of the file, the file's stamp after the read, and
// whether the file stayed unchanged while it was read. (Where the system
// gives no such stamp, `unchanged` is always false.)
struct FileBytes
{
    QByteArray bytes;
    FileStamp stamp;
    bool unchanged = false;
};

// The digest of the bytes of a file, or of a read: no file, or the bytes read.
inline ContentDigest digestOf(const QByteArray &bytes)
{
    return {true, bytes.size(), qHash(bytes, 0)};
}
inline ContentDigest digestOf(const FileResult<FileBytes> &read)
{
    return read.status == FileStatus::Ok ? digestOf(read.value.bytes) : ContentDigest{};
}

inline bool sameStamp(const FileStamp &a, const FileStamp &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

// Why a file of `size` bytes is not read.
inline QString tooLargeReason(qint64 size, qint64 limit)
{
    return Texts::tr("the file holds %1 bytes (%2 MiB), more than the %3 bytes (%4 MiB) "
                     "that Stockbook reads as a database")
        .arg(size)
        .arg(size >> 20)
        .arg(limit)
        .arg(limit >> 20);
}

} // namespace RecordStore::Internal

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
    // The entry as it was checked: its identity and stamp (where the system
    // gives one).
    std::optional<FileStamp> stamp;
};

// Finds the database file of `programDirectory`. A symbolic link is followed
// unless it lies in a folder that others may write to and belongs to another
// user than this one or root (UntrustedLink). Missing, saying why, when the
// program folder or the folder of a link's target is not there; failed only
// when the program folder cannot be opened or the links go round in circles.
FileResult<Location> locate(const QString &programDirectory);
// Why the link at `location`, an UntrustedLink, is not followed.
QString untrustedLinkReason(const Location &location);

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

// The steps of replacing a file; each fails with the system's reason.
// A new, empty temporary file beside the file at `location`, created without
// following links and only when no such file exists, with the permissions of
// the file it will replace. Refused when that file is a folder or not
// writable.
FileResult<TemporaryFile> createTemporary(const Location &location);
FileResult<void> writeAll(const TemporaryFile &file, QByteArrayView bytes);
// Flushes what was written to the disk.
FileResult<void> flushToDisk(const TemporaryFile &file);
// Renames the temporary file over the entry at `location`, through the folder.
FileResult<void> renameInto(const TemporaryFile &file, const Location &location);
// Flushes the folder's entries, so that a rename survives a power cut; best
// effort.
void syncFolder(const Folder &folder);

// The files beside the database (the versions folder, the history, the sync
// tools' copies), named through an open folder and never through a symbolic
// link that another user could swap in.

// The program folder itself, opened once; a link to it is followed.
FileResult<Folder> openProgramFolder(const QString &programDirectory);
// Whether two open folders are one folder (the same device and inode; where
// the system cannot tell, the same path).
bool sameFolder(const Folder &a, const Folder &b);
// The folder `name` in `parent`, made when missing and `create` is set. In a
// folder that others may write to, a symbolic link in its place is refused;
// a file in its place is refused, saying so. Missing when there is none and
// none was made.
FileResult<Folder> openFolderIn(const Folder &parent, const QString &name, bool create);
// The names of the plain files in `folder` (no links, folders or FIFOs); with
// AllButFolders, of every entry but a folder or a link to one.
enum class Listing { PlainFiles, AllButFolders };
FileResult<QStringList> listFolder(const Folder &folder, Listing listing = Listing::PlainFiles);
// The bytes of the file `name` in `folder`, opened without following a link
// and without waiting for a writer (a FIFO or device is refused), when it is
// a regular file of at most `limit` bytes. Missing when there is none.
FileResult<QByteArray> readFileIn(const Folder &folder, const QString &name, qint64 limit);
// The last `limit` bytes of the file `name` in `folder` (all of a smaller
// one), opened as by readFileIn.
FileResult<QByteArray> readFileEndIn(const Folder &folder, const QString &name, qint64 limit);
// Writes `bytes` to a new temporary file in `folder`, flushes it to disk and
// gives it the name `name`, which it never takes from an entry that has it
// (refused then); so `name` holds all of `bytes` or is not made, and on
// failure nothing is left behind.
FileResult<void> writeNewFileIn(const Folder &folder, const QString &name, QByteArrayView bytes);
// Appends `bytes` to the regular file `name` in `folder`, made when missing,
// never through a symbolic link, and flushes it to disk. `bytes` start a line
// of their own: where the file does not end in a line end (LF), one is
// written first.
FileResult<void> appendToFileIn(const Folder &folder, const QString &name, QByteArrayView bytes);
// Rewrites the regular file `name` in `folder`: `rewrite` is given its bytes
// (of a file larger than `limit`, its lines that start in its last `limit`
// bytes) and gives the new ones, or nothing to leave it as it is. The new bytes go to a temporary
// file that then takes the name; this machine's windows that append or rewrite meanwhile wait (they
// take the same lock), so none of their lines is lost. (The portable build has no such lock.)
using Rewrite = std::function<std::optional<QByteArray>(const QByteArray &)>;
FileResult<void> rewriteFileIn(const Folder &folder, const QString &name, qint64 limit,
                               const Rewrite &rewrite);
// Sets the modification time of the regular file `name` in `folder` to now,
// not through a symbolic link.
FileResult<void> touchFileIn(const Folder &folder, const QString &name);
FileResult<void> removeFileIn(const Folder &folder, const QString &name);
// Lets the system drop the regular file `name` in `folder` from its cache of
// the disk; best effort (the portable build leaves it to the system).
void dropCachedPagesIn(const Folder &folder, const QString &name);

} // namespace RecordStore::FileSystem
