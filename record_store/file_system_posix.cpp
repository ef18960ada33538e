// SPDX-License-Identifier: GPL-3.0-or-later

// The record store's file system calls on POSIX systems (Linux, macOS, the
// BSDs). Every file is named relative to an open folder (openat, fstatat,
// renameat), so that what was checked is what is used: the database is opened
// without following links (O_NOFOLLOW) and its identity compared with the
// entry that was checked, the temporary file is created with O_EXCL, and the
// rename and the flush go through the folder's descriptor.
// file_system_portable.cpp is the counterpart in Qt alone.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>

#include "record_store/file_names.h"
#include "record_store/file_system.h"
#include "record_store/internal.h"

namespace RecordStore::FileSystem {

using Internal::done;
using Internal::failure;

struct FolderState
{
    int fd = -1;
    ~FolderState()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

struct TemporaryState
{
    Folder folder;
    QByteArray name;
    int fd = -1;
    bool renamed = false;
    ~TemporaryState()
    {
        ::close(fd);
        if (!renamed)
            ::unlinkat(folder.state->fd, name.constData(), 0);
    }
};

namespace {

QString systemReason(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

qint64 nanoseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileStamp stampFrom(const struct stat &status)
{
#if defined(__APPLE__)
    const struct timespec &modified = status.st_mtimespec;
    const struct timespec &changed = status.st_ctimespec;
#else
    const struct timespec &modified = status.st_mtim;
    const struct timespec &changed = status.st_ctim;
#endif
    return {qint64(status.st_dev), qint64(status.st_ino), qint64(status.st_size),
            nanoseconds(modified), nanoseconds(changed)};
}

// The folder `path` names, relative to the folder `from`, or nothing.
std::optional<Folder> openFolder(int from, const QByteArray &path)
{
    const int fd = ::openat(from, path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    Folder folder{std::make_shared<FolderState>()};
    folder.state->fd = fd;
    return folder;
}

// The entry `name` of the folder, not followed, and for a symbolic link the
// text it holds. Where the system can open the link itself (O_PATH), the text
// is read from the very link whose status was taken; elsewhere the status is
// taken again after the text was read and must not have changed.
bool inspect(int folder, const QByteArray &name, struct stat &entry, QByteArray &target)
{
#if defined(O_PATH)
    const int fd = ::openat(folder, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fstat(fd, &entry) == 0;
    if (ok && S_ISLNK(entry.st_mode)) {
        target.resize(qMax<qsizetype>(entry.st_size, 255) + 1);
        const ssize_t length = ::readlinkat(fd, "", target.data(), size_t(target.size()));
        ok = length >= 0 && length < target.size();
        target.resize(ok ? length : 0);
    }
    ::close(fd);
    return ok;
#else
    if (::fstatat(folder, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISLNK(entry.st_mode))
        return true;
    target.resize(qMax<qsizetype>(entry.st_size, 255) + 1);
    const ssize_t length = ::readlinkat(folder, name.constData(), target.data(), target.size());
    struct stat again;
    if (length < 0 || length >= target.size() ||
        ::fstatat(folder, name.constData(), &again, AT_SYMLINK_NOFOLLOW) != 0 ||
        again.st_ino != entry.st_ino || again.st_dev != entry.st_dev ||
        stampFrom(again).changed != stampFrom(entry).changed) {
        errno = EAGAIN;
        return false;
    }
    target.resize(length);
    return true;
#endif
}

// Whether the link of the given status in `folder` is followed: in a folder
// that others than its owner may write to, only the links of this user and of
// root are (the rule the kernel applies in sticky folders).
bool trustedLink(int folder, const struct stat &link)
{
    struct stat status;
    return link.st_uid == ::geteuid() || link.st_uid == 0 ||
           (::fstat(folder, &status) == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0);
}

// No file, since the folder that should hold it cannot be found.
FileResult<Location> noFolder()
{
    return {FileStatus::Missing, systemReason(), Location{}};
}

} // namespace

FileResult<Location> locate(const QString &programDirectory)
{
    std::optional<Folder> folder = openFolder(AT_FDCWD, QFile::encodeName(programDirectory));
    if (!folder && (errno == ENOENT || errno == ENOTDIR))
        return noFolder();
    if (!folder)
        return failure<Location>(systemReason());
    Location at;
    at.folder = *folder;
    at.name = QByteArray(Internal::kDatabaseFileName.latin1());
    // As many links in a row as the kernel follows.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat entry;
        QByteArray target;
        if (!inspect(at.folder.state->fd, at.name, entry, target)) {
            if (errno == ENOENT || errno == ENOTDIR)
                return {FileStatus::Ok, QString(), at};
            if (errno == EAGAIN)
                continue;
            return failure<Location>(systemReason());
        }
        if (!S_ISLNK(entry.st_mode)) {
            at.entry = S_ISREG(entry.st_mode) ? Location::File : Location::Other;
            at.stamp = stampFrom(entry);
            return {FileStatus::Ok, QString(), at};
        }
        if (!trustedLink(at.folder.state->fd, entry)) {
            at.entry = Location::UntrustedLink;
            return {FileStatus::Ok, QString(), at};
        }
        // The target names a file relative to the link's folder.
        const qsizetype slash = target.lastIndexOf('/');
        if (slash >= 0) {
            folder = openFolder(at.folder.state->fd, target.left(qMax<qsizetype>(slash, 1)));
            if (!folder)
                return noFolder();
            at.folder = *folder;
        }
        at.name = target.mid(slash + 1);
    }
    return failure<Location>(systemReason(ELOOP));
}

QString untrustedLinkReason(const Location &location)
{
    return Texts::tr("%1 is a symbolic link that belongs to another user, in a folder that "
                     "others may write to, so Stockbook does not follow it")
        .arg(QFile::decodeName(location.name));
}

namespace {

// Reads into `bytes` as many bytes as it holds room for (as many as the file
// held when it was opened), and on, up to one more than `limit`, as long as
// the file grew meanwhile; `bytes` then holds what was read. Why a read
// failed, if one did.
FileResult<void> readToEnd(int fd, QByteArray &bytes, qint64 limit)
{
    qint64 got = 0;
    FileResult<void> result;
    while (got <= limit) {
        char more[65536];
        const bool within = got < bytes.size();
        const ssize_t chunk = within ? ::read(fd, bytes.data() + got, size_t(bytes.size() - got))
                                     : ::read(fd, more, sizeof more);
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0) {
            if (chunk < 0)
                result = failure<void>(systemReason());
            break;
        }
        if (!within)
            bytes.append(more, chunk);
        got += chunk;
    }
    bytes.resize(got);
    return result;
}

} // namespace

FileResult<FileBytes> readFile(const Location &location, qint64 limit)
{
    // Not the file that was located: a link now (O_NOFOLLOW fails), or
    // another file.
    const QString replaced = Texts::tr("%1 was replaced while Stockbook opened it; try again")
                                 .arg(QFile::decodeName(location.name));
    const int fd = ::openat(location.folder.state->fd, location.name.constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failure<FileBytes>(errno == ELOOP ? replaced : systemReason());
    struct stat status = {};
    const bool opened = ::fstat(fd, &status) == 0;
    const FileStamp before = stampFrom(status);
    if (!opened || !location.stamp || before.device != location.stamp->device ||
        before.inode != location.stamp->inode || before.size > limit) {
        ::close(fd);
        return failure<FileBytes>(opened && before.size > limit
                                      ? Internal::tooLargeReason(before.size, limit)
                                      : replaced);
    }
    FileBytes read;
    read.bytes = QByteArray(before.size, Qt::Uninitialized);
    const FileResult<void> readAll = readToEnd(fd, read.bytes, limit);
    const qint64 got = read.bytes.size();
    const bool after = ::fstat(fd, &status) == 0;
    ::close(fd);
    if (!readAll.ok())
        return readAll.with(FileBytes{});
    if (got > limit)
        return failure<FileBytes>(
            Internal::tooLargeReason(qMax<qint64>(got, status.st_size), limit));
    // Unchanged while it was read: the same stamp before and after, and as
    // many bytes as the file holds.
    if (after) {
        read.stamp = stampFrom(status);
        read.unchanged = Internal::sameStamp(before, read.stamp) && read.stamp.size == got;
    }
    return {FileStatus::Ok, QString(), read};
}

FileResult<TemporaryFile> createTemporary(const Location &location)
{
    if (!location.folder.state)
        return failure<TemporaryFile>(systemReason(ENOENT));
    const int folder = location.folder.state->fd;
    struct stat existing;
    const bool exists =
        ::fstatat(folder, location.name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return failure<TemporaryFile>(systemReason(EISDIR));
    if (exists &&
        ::faccessat(folder, location.name.constData(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        return failure<TemporaryFile>(systemReason());
    TemporaryFile file{std::make_shared<TemporaryState>()};
    file.state->folder = location.folder;
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100 && file.state->fd < 0; ++attempt) {
        // "~syncthing~...tmp": a name that Syncthing never synchronises and
        // that Nextcloud's and ownCloud's default ignore list (~*.tmp) skips.
        file.state->name = "~syncthing~" + location.name + '.';
        for (int k = 0; k < 6; ++k)
            file.state->name += letters[QRandomGenerator::global()->bounded(36)];
        file.state->name += ".tmp";
        file.state->fd = ::openat(folder, file.state->name.constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (file.state->fd < 0 && errno != EEXIST)
            break;
    }
    if (file.state->fd < 0) {
        const QString reason = systemReason();
        file.state->renamed = true; // nothing to remove
        return failure<TemporaryFile>(reason);
    }
    // The new file keeps the permissions of the one it replaces.
    if (exists && ::fchmod(file.state->fd, existing.st_mode & 0777) != 0)
        return failure<TemporaryFile>(systemReason());
    return {FileStatus::Ok, QString(), file};
}

// Writes all of `bytes`. A disk that fills up part way makes the system write
// fewer bytes without an error; writing the rest then fails with the reason
// ("No space left on device", "File too large").
FileResult<void> writeAll(const TemporaryFile &file, QByteArrayView bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk =
            ::write(file.state->fd, bytes.data() + written, size_t(bytes.size() - written));
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0)
            return failure<void>(chunk < 0 ? systemReason() : systemReason(EIO));
        written += chunk;
    }
    return done();
}

FileResult<void> flushToDisk(const TemporaryFile &file)
{
    if (::fsync(file.state->fd) != 0)
        return failure<void>(systemReason());
    return done();
}

FileResult<void> renameInto(const TemporaryFile &file, const Location &location)
{
    const int folder = file.state->folder.state->fd;
    if (::renameat(folder, file.state->name.constData(), location.folder.state->fd,
                   location.name.constData()) != 0)
        return failure<void>(systemReason());
    file.state->renamed = true;
    return done();
}

void syncFolder(const Folder &folder)
{
    ::fsync(folder.state->fd);
}

FileResult<Folder> openProgramFolder(const QString &programDirectory)
{
    std::optional<Folder> folder = openFolder(AT_FDCWD, QFile::encodeName(programDirectory));
    if (!folder)
        return {errno == ENOENT || errno == ENOTDIR ? FileStatus::Missing : FileStatus::Failed,
                systemReason(), Folder{}};
    return {FileStatus::Ok, QString(), *folder};
}

bool sameFolder(const Folder &a, const Folder &b)
{
    struct stat x, y;
    return a.state && b.state && ::fstat(a.state->fd, &x) == 0 && ::fstat(b.state->fd, &y) == 0 &&
           x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

namespace {

bool othersMayWrite(int folder)
{
    struct stat status;
    return ::fstat(folder, &status) != 0 || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

} // namespace

FileResult<Folder> openFolderIn(const Folder &parent, const QString &name, bool create)
{
    const int at = parent.state->fd;
    const QByteArray entry = QFile::encodeName(name);
    // In a folder that others may write to, a link in the folder's place is
    // never followed; in one that only its owner writes to, nobody else can
    // have put it there.
    const int noFollow = othersMayWrite(at) ? O_NOFOLLOW : 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd =
            ::openat(at, entry.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | noFollow);
        if (fd >= 0) {
            Folder folder{std::make_shared<FolderState>()};
            folder.state->fd = fd;
            return {FileStatus::Ok, QString(), folder};
        }
        if (errno == ELOOP)
            return failure<Folder>(Texts::tr("%1 is a symbolic link in a folder that others may "
                                             "write to, so Stockbook does not follow it")
                                       .arg(name));
        if (errno == ENOTDIR)
            return failure<Folder>(
                Texts::tr("a file named %1 is in the way of the folder of that name").arg(name));
        if (errno != ENOENT)
            return failure<Folder>(systemReason());
        if (!create)
            return {FileStatus::Missing, QString(), Folder{}};
        if (::mkdirat(at, entry.constData(), 0777) != 0 && errno != EEXIST)
            return failure<Folder>(systemReason());
    }
    return failure<Folder>(systemReason());
}

namespace {

// Whether listFolder names `entry` of the folder `fd`.
bool isListed(int fd, const struct dirent *entry, Listing listing)
{
    struct stat status;
    if (listing == Listing::PlainFiles)
        return entry->d_type == DT_REG ||
               (entry->d_type == DT_UNKNOWN &&
                ::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(status.st_mode));
    // A link is named unless it leads to a folder; one that leads nowhere is.
    if (entry->d_type == DT_DIR)
        return false;
    return (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) ||
           ::fstatat(fd, entry->d_name, &status, 0) != 0 || !S_ISDIR(status.st_mode);
}

} // namespace

FileResult<QStringList> listFolder(const Folder &folder, Listing listing)
{
    const int fd = ::openat(folder.state->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        const QString reason = systemReason();
        if (fd >= 0)
            ::close(fd);
        return failure<QStringList>(reason);
    }
    QStringList names;
    while (const struct dirent *entry = ::readdir(dir)) {
        if (isListed(folder.state->fd, entry, listing))
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return {FileStatus::Ok, QString(), names};
}

namespace {

// The plain file `name` in `folder`, opened to read without following a link
// and without waiting for a writer (a FIFO or device is refused), and its
// status; else -1, and `result` says why.
int openPlainFileIn(const Folder &folder, const QString &name, struct stat &status,
                    FileResult<QByteArray> &result)
{
    const int fd = ::openat(folder.state->fd, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        result = errno == ENOENT
                     ? FileResult<QByteArray>{FileStatus::Missing, QString(), {}}
                     : failure<QByteArray>(errno == ELOOP ? Texts::tr("it is a symbolic link")
                                                          : systemReason());
        return -1;
    }
    const bool statted = ::fstat(fd, &status) == 0;
    if (!statted || !S_ISREG(status.st_mode)) {
        result =
            failure<QByteArray>(statted ? Texts::tr("it is not a plain file") : systemReason());
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

FileResult<QByteArray> readFileIn(const Folder &folder, const QString &name, qint64 limit)
{
    struct stat status = {};
    FileResult<QByteArray> result;
    const int fd = openPlainFileIn(folder, name, status, result);
    if (fd < 0)
        return result;
    FileResult<void> read;
    QByteArray bytes;
    if (status.st_size > limit) {
        read = failure<void>(Internal::tooLargeReason(status.st_size, limit));
    } else {
        bytes = QByteArray(status.st_size, Qt::Uninitialized);
        read = readToEnd(fd, bytes, limit);
        if (read.ok() && bytes.size() > limit)
            read = failure<void>(Internal::tooLargeReason(bytes.size(), limit));
    }
    ::close(fd);
    if (!read.ok())
        return read.with(QByteArray());
    return {FileStatus::Ok, QString(), bytes};
}

FileResult<QByteArray> readFileEndIn(const Folder &folder, const QString &name, qint64 limit)
{
    struct stat status = {};
    FileResult<QByteArray> result;
    const int fd = openPlainFileIn(folder, name, status, result);
    if (fd < 0)
        return result;
    const qint64 from = qMax<qint64>(0, qint64(status.st_size) - limit);
    QByteArray bytes(qint64(status.st_size) - from, Qt::Uninitialized);
    qsizetype got = 0;
    std::optional<QString> reason;
    while (got < bytes.size()) {
        const ssize_t chunk =
            ::pread(fd, bytes.data() + got, size_t(bytes.size() - got), off_t(from + got));
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk < 0)
            reason = systemReason();
        if (chunk <= 0)
            break;
        got += chunk;
    }
    ::close(fd);
    if (reason)
        return failure<QByteArray>(*reason);
    bytes.resize(got);
    return {FileStatus::Ok, QString(), bytes};
}

namespace {

FileResult<void> writeAllTo(int fd, QByteArrayView bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk = ::write(fd, bytes.data() + written, size_t(bytes.size() - written));
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0)
            return failure<void>(chunk < 0 ? systemReason() : systemReason(EIO));
        written += chunk;
    }
    if (::fsync(fd) != 0)
        return failure<void>(systemReason());
    return done();
}

} // namespace

FileResult<void> writeNewFileIn(const Folder &folder, const QString &name, QByteArrayView bytes)
{
    Location at{folder, QFile::encodeName(name), Location::Missing, std::nullopt};
    struct stat existing;
    if (::fstatat(folder.state->fd, at.name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return failure<void>(systemReason(EEXIST));
    const FileResult<TemporaryFile> temporary = createTemporary(at);
    if (!temporary.ok())
        return failure<void>(temporary.reason);
    if (FileResult<void> written = writeAllTo(temporary.value.state->fd, bytes); !written.ok())
        return written;
    // A hard link never replaces an entry; the temporary name goes with the
    // temporary file. Where links cannot be made, a rename that refuses a
    // taken name, where the system has one.
    const int fd = folder.state->fd;
    const char *from = temporary.value.state->name.constData();
    if (::linkat(fd, from, fd, at.name.constData(), 0) != 0) {
#if defined(RENAME_NOREPLACE)
        if (errno == EEXIST ||
            ::renameat2(fd, from, fd, at.name.constData(), RENAME_NOREPLACE) != 0)
            return failure<void>(systemReason());
        temporary.value.state->renamed = true;
#else
        return failure<void>(systemReason());
#endif
    }
    ::fsync(fd);
    return done();
}

namespace {

// Opens the regular file `name` in `folder` (made when missing, never through
// a symbolic link) and takes its lock: one writer at a time among this
// machine's windows. A file that another window rewrote meanwhile (renamed
// another file over it) is opened again. -1 when it cannot be, and `reason`
// says why.
int openLockedIn(const Folder &folder, const QString &name, QString &reason)
{
    const QByteArray entry = QFile::encodeName(name);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd =
            ::openat(folder.state->fd, entry.constData(),
                     O_RDWR | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            reason = errno == ELOOP ? Texts::tr("%1 is a symbolic link").arg(name) : systemReason();
            return -1;
        }
        struct stat opened = {};
        struct stat named = {};
        const bool statted = ::fstat(fd, &opened) == 0;
        if (!statted || !S_ISREG(opened.st_mode)) {
            reason = statted ? Texts::tr("%1 is not a plain file").arg(name) : systemReason();
            ::close(fd);
            return -1;
        }
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        if (::fstatat(folder.state->fd, entry.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
            return fd;
        ::close(fd);
    }
    reason = systemReason(EAGAIN);
    return -1;
}

} // namespace

FileResult<void> appendToFileIn(const Folder &folder, const QString &name, QByteArrayView bytes)
{
    QString why;
    const int fd = openLockedIn(folder, name, why);
    if (fd < 0)
        return failure<void>(why);
    struct stat status;
    char last = '\n';
    FileResult<void> result;
    if (::fstat(fd, &status) != 0)
        result = failure<void>(systemReason());
    // A line cut short (a crash while it was appended) is not joined.
    else if (status.st_size > 0 && ::pread(fd, &last, 1, status.st_size - 1) != 1)
        result = failure<void>(systemReason());
    else
        result =
            writeAllTo(fd, last == '\n' ? bytes.toByteArray() : bytes.toByteArray().prepend('\n'));
    ::close(fd);
    return result;
}

namespace {

// Writes `bytes` to a temporary file beside the regular file `name` in
// `folder`, which it then replaces.
FileResult<void> replaceFile(const Folder &folder, const QString &name, QByteArrayView bytes)
{
    const Location at{folder, QFile::encodeName(name), Location::File, std::nullopt};
    const FileResult<TemporaryFile> temporary = createTemporary(at);
    if (!temporary.ok())
        return failure<void>(temporary.reason);
    FileResult<void> result = writeAll(temporary.value, bytes);
    if (result.ok())
        result = flushToDisk(temporary.value);
    if (result.ok())
        result = renameInto(temporary.value, at);
    if (result.ok())
        syncFolder(folder);
    return result;
}

} // namespace

FileResult<void> rewriteFileIn(const Folder &folder, const QString &name, qint64 limit,
                               const Rewrite &rewrite)
{
    QString why;
    const int fd = openLockedIn(folder, name, why);
    if (fd < 0)
        return failure<void>(why);
    // The lock is held until the new file has taken the name: a window that
    // appends meanwhile waits, then finds the new file.
    struct stat status;
    QByteArray bytes;
    FileResult<void> result;
    if (::fstat(fd, &status) != 0) {
        result = failure<void>(systemReason());
    } else {
        const off_t from = qMax<off_t>(0, status.st_size - limit);
        bytes = QByteArray(qint64(status.st_size - from), Qt::Uninitialized);
        if (::lseek(fd, from, SEEK_SET) != from)
            result = failure<void>(systemReason());
        else
            result = readToEnd(fd, bytes, limit);
        if (from > 0)
            bytes.remove(0, bytes.indexOf('\n') + 1);
    }
    const std::optional<QByteArray> replacement = result.ok() ? rewrite(bytes) : std::nullopt;
    if (replacement)
        result = replaceFile(folder, name, *replacement);
    ::close(fd);
    return result;
}

FileResult<void> touchFileIn(const Folder &folder, const QString &name)
{
    if (::utimensat(folder.state->fd, QFile::encodeName(name).constData(), nullptr,
                    AT_SYMLINK_NOFOLLOW) != 0)
        return failure<void>(systemReason());
    return done();
}

FileResult<void> removeFileIn(const Folder &folder, const QString &name)
{
    if (::unlinkat(folder.state->fd, QFile::encodeName(name).constData(), 0) != 0)
        return failure<void>(systemReason());
    return done();
}

void dropCachedPagesIn(const Folder &folder, const QString &name)
{
    const int fd = ::openat(folder.state->fd, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

} // namespace RecordStore::FileSystem
