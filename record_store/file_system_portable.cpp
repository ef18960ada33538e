// SPDX-License-Identifier: GPL-3.0-or-later

// The record store's file system calls in Qt and standard C++ alone, for the
// systems that file_system_posix.cpp does not serve (Windows) and for the
// portable build. A folder is its path, and the temporary file is QSaveFile's.
// What these cannot tell, they do not guess:
// - no stamps: QFileInfo's times and size cannot tell a file from one that
//   replaced it within the same millisecond, so a search never reuses an
//   earlier read of the file, but reads it afresh;
// - no owner of a link: in a folder that others may write to, no symbolic
//   link is followed;
// - no descriptor of a folder: the path is looked up again at each step, so a
//   link swapped in between checking and using the file is followed;
// - no flush of a folder: QSaveFile flushes the file before its rename.
#include <QFileInfo>
#include <QSaveFile>

#include "record_store/file_system.h"
#include "record_store/internal.h"

namespace RecordStore::FileSystem {

struct FolderState
{
    QString path;
};

struct TemporaryState
{
    explicit TemporaryState(const QString &path) : file(path) {}
    QSaveFile file;
};

namespace {

QString pathOf(const Location &location)
{
    return location.folder.state->path + u'/' + QFile::decodeName(location.name);
}

} // namespace

FileResult<Location> locate(const QString &programDirectory)
{
    const auto folderOf = [](const QString &path) {
        return Folder{std::make_shared<FolderState>(FolderState{path})};
    };
    Location at;
    if (!QFileInfo(programDirectory).isDir()) {
        at.reason = Texts::tr("The folder does not exist");
        return {FileStatus::Ok, QString(), at};
    }
    at.folder = folderOf(programDirectory);
    at.name = QByteArrayLiteral("stockbook.txt");
    QFileInfo info(pathOf(at));
    if (info.isSymLink()) {
        if (std::optional<QString> untrusted = untrustedLinkReason(programDirectory, pathOf(at))) {
            at.entry = Location::UntrustedLink;
            at.reason = std::move(*untrusted);
            return {FileStatus::Ok, QString(), at};
        }
        const QString canonical = info.canonicalFilePath();
        info = QFileInfo(canonical.isEmpty() ? info.symLinkTarget() : canonical);
        at.folder = folderOf(info.absolutePath());
        at.name = QFile::encodeName(info.fileName());
    }
    at.entry = info.isFile() ? Location::File : info.exists() ? Location::Other : Location::Missing;
    return {FileStatus::Ok, QString(), at};
}

FileResult<FileBytes> readFile(const Location &location, qint64 limit)
{
    QFile file(pathOf(location));
    FileBytes read;
    if (file.open(QIODevice::ReadOnly)) {
        if (file.size() > limit)
            return {FileStatus::Failed, Internal::tooLargeReason(file.size(), limit), FileBytes{}};
        read.bytes = file.readAll();
    }
    if (file.error() != QFileDevice::NoError)
        return {FileStatus::Failed, file.errorString(), FileBytes{}};
    if (read.bytes.size() > limit)
        return {FileStatus::Failed, Internal::tooLargeReason(read.bytes.size(), limit),
                FileBytes{}};
    return {FileStatus::Ok, QString(), read};
}

FileResult<TemporaryFile> createTemporary(const Location &location)
{
    if (!location.folder.state)
        return {FileStatus::Failed, location.reason, TemporaryFile{}};
    TemporaryFile file{std::make_shared<TemporaryState>(pathOf(location))};
    if (!file.state->file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {FileStatus::Failed, file.state->file.errorString(), TemporaryFile{}};
    return {FileStatus::Ok, QString(), file};
}

std::optional<QString> writeAll(const TemporaryFile &file, QByteArrayView bytes)
{
    QSaveFile &out = file.state->file;
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 chunk = out.write(bytes.data() + written, bytes.size() - written);
        if (chunk <= 0)
            return out.error() != QFileDevice::NoError
                       ? out.errorString()
                       : Texts::tr("Only part of the database could be written");
        written += chunk;
    }
    return std::nullopt;
}

std::optional<QString> flushToDisk(const TemporaryFile &file)
{
    // QSaveFile flushes to the disk as it renames.
    if (!file.state->file.flush())
        return file.state->file.errorString();
    return std::nullopt;
}

std::optional<QString> renameInto(const TemporaryFile &file, const Location &)
{
    if (!file.state->file.commit())
        return file.state->file.errorString();
    return std::nullopt;
}

void syncFolder(const Folder &) {}

std::optional<QString> untrustedLinkReason(const QString &directory, const QString &path)
{
    const auto othersMayWrite = QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!QFileInfo(path).isSymLink() || !(QFileInfo(directory).permissions() & othersMayWrite))
        return std::nullopt;
    return Texts::tr("%1 is a symbolic link in a folder that others may write to, and "
                     "this system does not tell who made it, so Stockbook does not follow it")
        .arg(QFileInfo(path).fileName());
}

bool syncFile(QFile &file)
{
    return file.flush();
}

void syncDirectory(const QString &) {}

} // namespace RecordStore::FileSystem
