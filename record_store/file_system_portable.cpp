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
#include <cerrno>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include "record_store/file_names.h"
#include "record_store/file_system.h"
#include "record_store/internal.h"

namespace RecordStore::FileSystem {

using Internal::done;
using Internal::failure;

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

bool othersMayWrite(const Folder &folder)
{
    return QFileInfo(folder.state->path).permissions() &
           (QFileDevice::WriteGroup | QFileDevice::WriteOther);
}

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
    if (!QFileInfo(programDirectory).isDir())
        return {FileStatus::Missing, Texts::tr("The folder does not exist"), at};
    at.folder = folderOf(programDirectory);
    at.name = QByteArray(Internal::kDatabaseFileName.latin1());
    QFileInfo info(pathOf(at));
    if (info.isSymLink()) {
        if (othersMayWrite(at.folder)) {
            at.entry = Location::UntrustedLink;
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

QString untrustedLinkReason(const Location &location)
{
    return Texts::tr("%1 is a symbolic link in a folder that others may write to, "
                     "and this system does not tell who made it, so Stockbook "
                     "does not follow it")
        .arg(QFile::decodeName(location.name));
}

FileResult<FileBytes> readFile(const Location &location, qint64 limit)
{
    QFile file(pathOf(location));
    FileBytes read;
    if (file.open(QIODevice::ReadOnly)) {
        if (file.size() > limit)
            return failure<FileBytes>(Internal::tooLargeReason(file.size(), limit));
        read.bytes = file.readAll();
    }
    if (file.error() != QFileDevice::NoError)
        return failure<FileBytes>(file.errorString());
    if (read.bytes.size() > limit)
        return failure<FileBytes>(Internal::tooLargeReason(read.bytes.size(), limit));
    return {FileStatus::Ok, QString(), read};
}

FileResult<TemporaryFile> createTemporary(const Location &location)
{
    if (!location.folder.state)
        return failure<TemporaryFile>(Texts::tr("The folder does not exist"));
    TemporaryFile file{std::make_shared<TemporaryState>(pathOf(location))};
    if (!file.state->file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure<TemporaryFile>(file.state->file.errorString());
    return {FileStatus::Ok, QString(), file};
}

FileResult<void> writeAll(const TemporaryFile &file, QByteArrayView bytes)
{
    QSaveFile &out = file.state->file;
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 chunk = out.write(bytes.data() + written, bytes.size() - written);
        if (chunk <= 0)
            return failure<void>(out.error() != QFileDevice::NoError
                                     ? out.errorString()
                                     : Texts::tr("Only part of the database could be written"));
        written += chunk;
    }
    return done();
}

FileResult<void> flushToDisk(const TemporaryFile &file)
{
    // QSaveFile flushes to the disk as it renames.
    if (!file.state->file.flush())
        return failure<void>(file.state->file.errorString());
    return done();
}

FileResult<void> renameInto(const TemporaryFile &file, const Location &)
{
    if (!file.state->file.commit())
        return failure<void>(file.state->file.errorString());
    return done();
}

void syncFolder(const Folder &) {}

FileResult<Folder> openProgramFolder(const QString &programDirectory)
{
    if (!QFileInfo(programDirectory).isDir())
        return {FileStatus::Missing, Texts::tr("The folder does not exist"), Folder{}};
    return {FileStatus::Ok, QString(),
            Folder{std::make_shared<FolderState>(FolderState{programDirectory})}};
}

bool sameFolder(const Folder &a, const Folder &b)
{
    return a.state && b.state && a.state->path == b.state->path && QFileInfo(a.state->path).isDir();
}

namespace {

QString pathIn(const Folder &folder, const QString &name)
{
    return folder.state->path + u'/' + name;
}

} // namespace

FileResult<Folder> openFolderIn(const Folder &parent, const QString &name, bool create)
{
    const QString path = pathIn(parent, name);
    const QFileInfo info(path);
    if (info.isSymLink() && othersMayWrite(parent))
        return failure<Folder>(Texts::tr("%1 is a symbolic link in a folder that others may "
                                         "write to, so Stockbook does not follow it")
                                   .arg(name));
    if (info.exists() && !info.isDir())
        return failure<Folder>(
            Texts::tr("a file named %1 is in the way of the folder of that name").arg(name));
    if (!info.exists()) {
        if (!create)
            return {FileStatus::Missing, QString(), Folder{}};
        if (!QDir(parent.state->path).mkdir(name) && !QFileInfo(path).isDir())
            return failure<Folder>(Texts::tr("the folder %1 could not be made").arg(path));
    }
    return {FileStatus::Ok, QString(), Folder{std::make_shared<FolderState>(FolderState{path})}};
}

FileResult<QStringList> listFolder(const Folder &folder, Listing listing)
{
    const QDir dir(folder.state->path);
    if (!dir.exists())
        return failure<QStringList>(Texts::tr("The folder does not exist"));
    // QDir::System adds FIFOs, sockets, devices and links that lead nowhere.
    return {FileStatus::Ok, QString(),
            dir.entryList(QDir::Files | QDir::Hidden |
                          (listing == Listing::PlainFiles ? QDir::NoSymLinks : QDir::System))};
}

namespace {

// Why the entry `info` is not read: there is none, or it is a link or no
// plain file; nothing when it may be read.
std::optional<FileResult<QByteArray>> notPlainFile(const QFileInfo &info)
{
    if (!info.exists() && !info.isSymLink())
        return FileResult<QByteArray>{FileStatus::Missing, QString(), QByteArray()};
    if (info.isSymLink())
        return failure<QByteArray>(Texts::tr("it is a symbolic link"));
    if (!info.isFile())
        return failure<QByteArray>(Texts::tr("it is not a plain file"));
    return std::nullopt;
}

} // namespace

FileResult<QByteArray> readFileIn(const Folder &folder, const QString &name, qint64 limit)
{
    const QFileInfo info(pathIn(folder, name));
    if (std::optional<FileResult<QByteArray>> refused = notPlainFile(info))
        return *refused;
    if (info.size() > limit)
        return failure<QByteArray>(Internal::tooLargeReason(info.size(), limit));
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return failure<QByteArray>(file.errorString());
    QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError)
        return failure<QByteArray>(file.errorString());
    if (bytes.size() > limit)
        return failure<QByteArray>(Internal::tooLargeReason(bytes.size(), limit));
    return {FileStatus::Ok, QString(), bytes};
}

namespace {

FileResult<void> writeTo(QFile &file, QIODevice::OpenMode mode, QByteArrayView bytes)
{
    if (!file.open(mode))
        return failure<void>(file.errorString());
    // QFile says "Unknown error" where a write fails part way ("No space
    // left on device", "File too large"): the system's reason is said.
    errno = 0;
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.flush())
        return failure<void>(errno != 0 ? qt_error_string(errno) : file.errorString());
    return done();
}

} // namespace

FileResult<QByteArray> readFileEndIn(const Folder &folder, const QString &name, qint64 limit)
{
    const QFileInfo info(pathIn(folder, name));
    if (std::optional<FileResult<QByteArray>> refused = notPlainFile(info))
        return *refused;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly) || !file.seek(qMax<qint64>(0, file.size() - limit)))
        return failure<QByteArray>(file.errorString());
    QByteArray bytes = file.read(limit);
    if (file.error() != QFileDevice::NoError)
        return failure<QByteArray>(file.errorString());
    return {FileStatus::Ok, QString(), bytes};
}

FileResult<void> writeNewFileIn(const Folder &folder, const QString &name, QByteArrayView bytes)
{
    // QSaveFile writes and flushes a temporary file under a name of its own,
    // which then takes `name` unless something has it (QFile::rename never
    // replaces a file). "~syncthing~...tmp" as for the database.
    const QString path = pathIn(folder, name);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
        return failure<void>(qt_error_string(EEXIST));
    const QString temporary =
        pathIn(folder, QStringLiteral("~syncthing~%1.%2.tmp")
                           .arg(name)
                           .arg(QRandomGenerator::global()->bounded(1 << 30), 0, 36));
    QSaveFile file(temporary);
    if (!file.open(QIODevice::WriteOnly))
        return failure<void>(file.errorString());
    // As in writeTo: where the write fails part way, the system's reason.
    errno = 0;
    if (file.write(bytes.data(), bytes.size()) != bytes.size() || !file.commit())
        return failure<void>(errno != 0 ? qt_error_string(errno) : file.errorString());
    QFile written(temporary);
    if (written.rename(path))
        return done();
    const QString reason = written.errorString();
    written.remove();
    return failure<void>(reason);
}

FileResult<void> appendToFileIn(const Folder &folder, const QString &name, QByteArrayView bytes)
{
    const QFileInfo info(pathIn(folder, name));
    if (info.isSymLink())
        return failure<void>(Texts::tr("%1 is a symbolic link").arg(name));
    if (info.exists() && !info.isFile())
        return failure<void>(Texts::tr("%1 is not a plain file").arg(name));
    QFile file(info.filePath());
    // A line cut short (a crash while it was appended) is not joined.
    QByteArray line = bytes.toByteArray();
    if (file.open(QIODevice::ReadOnly) && file.size() > 0 && file.seek(file.size() - 1) &&
        file.read(1) != "\n")
        line.prepend('\n');
    file.close();
    return writeTo(file, QIODevice::WriteOnly | QIODevice::Append, line);
}

FileResult<void> rewriteFileIn(const Folder &folder, const QString &name, qint64 limit,
                               const Rewrite &rewrite)
{
    FileResult<QByteArray> bytes = readFileEndIn(folder, name, limit);
    if (!bytes.ok())
        return failure<void>(bytes.reason);
    if (QFileInfo(pathIn(folder, name)).size() > limit)
        bytes.value.remove(0, bytes.value.indexOf('\n') + 1);
    const std::optional<QByteArray> replacement = rewrite(bytes.value);
    if (!replacement)
        return done();
    QSaveFile file(pathIn(folder, name));
    if (!file.open(QIODevice::WriteOnly))
        return failure<void>(file.errorString());
    errno = 0;
    if (file.write(*replacement) != replacement->size() || !file.commit())
        return failure<void>(errno != 0 ? qt_error_string(errno) : file.errorString());
    return done();
}

FileResult<void> touchFileIn(const Folder &folder, const QString &name)
{
    const QFileInfo info(pathIn(folder, name));
    if (info.isSymLink() || !info.isFile())
        return failure<void>(Texts::tr("%1 is not a plain file").arg(name));
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadWrite) ||
        !file.setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime))
        return failure<void>(file.errorString());
    return done();
}

FileResult<void> removeFileIn(const Folder &folder, const QString &name)
{
    QFile file(pathIn(folder, name));
    if (!file.remove())
        return failure<void>(file.errorString());
    return done();
}

void dropCachedPagesIn(const Folder &, const QString &) {}

} // namespace RecordStore::FileSystem
