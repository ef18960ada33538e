// The record store's file system calls in Qt and standard C++ alone, for the
// systems that file_system_posix.cpp does not serve (Windows) and for the
// portable build. What these cannot tell, they do not guess:
// - no stamps: QFileInfo's times and size cannot tell a file from one that
//   replaced it within the same millisecond, so a search never reuses an
//   earlier read of the file, but reads it afresh;
// - no owner of a link: in a folder that others may write to, no symbolic
//   link is followed;
// - no flush of a folder: QSaveFile has flushed the file before its rename.
#include <QFileInfo>

#include "record_store/file_system.h"

namespace RecordStore::FileSystem {

std::optional<FileStamp> stampOf(const QString &)
{
    return std::nullopt;
}

std::optional<FileStamp> stampOf(const QFile &)
{
    return std::nullopt;
}

QString untrustedLinkReason(const QString &directory, const QString &path)
{
    const auto othersMayWrite = QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!QFileInfo(path).isSymLink() || !(QFileInfo(directory).permissions() & othersMayWrite))
        return QString();
    return QStringLiteral("stockbook.txt is a symbolic link in a folder that others may write "
                          "to, and this system does not tell who made it, so Stockbook does not "
                          "follow it");
}

bool syncFile(QFile &file)
{
    return file.flush();
}

void syncDirectory(const QString &) {}

} // namespace RecordStore::FileSystem
