// The record store's file system calls on POSIX systems (Linux, macOS, the
// BSDs): stamps from stat, the owner of a link from lstat, and fsync of a
// folder. file_system_portable.cpp is the counterpart in Qt alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "record_store/file_system.h"

namespace RecordStore::FileSystem {

namespace {

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

} // namespace

std::optional<FileStamp> stampOf(const QString &path)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return stampFrom(status);
}

std::optional<FileStamp> stampOf(const QFile &file)
{
    struct stat status;
    if (::fstat(file.handle(), &status) != 0)
        return std::nullopt;
    return stampFrom(status);
}

QString untrustedLinkReason(const QString &directory, const QString &path)
{
    struct stat link;
    struct stat folder;
    if (::lstat(QFile::encodeName(path).constData(), &link) != 0 || !S_ISLNK(link.st_mode) ||
        link.st_uid == ::geteuid() || link.st_uid == 0)
        return QString();
    if (::stat(QFile::encodeName(directory).constData(), &folder) != 0 ||
        (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return QString();
    return QStringLiteral("stockbook.txt is a symbolic link that belongs to another user, in a "
                          "folder that others may write to, so Stockbook does not follow it");
}

bool syncFile(QFile &file)
{
    return ::fsync(file.handle()) == 0;
}

void syncDirectory(const QString &directory)
{
    const int fd =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace RecordStore::FileSystem
