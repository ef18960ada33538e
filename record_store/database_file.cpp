// The database file: where it is, whether it may be used, reading its bytes
// and lines, the start-up load with its blank-line collapse, the digest that
// tells whether another program changed it, and the write that replaces it
// whole or not at all.
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStringMatcher>

#include "record_store/file_system.h"
#include "record_store/internal.h"

namespace RecordStore {

namespace {

// Why the database file may not be read or written at all, or an empty text.
// Only an absolute program directory names the file, and a link in a folder
// that others may write to is followed only when it is trusted.
QString refusal(const QString &programDirectory)
{
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return QStringLiteral("Stockbook does not know the folder it was started from");
    return FileSystem::untrustedLinkReason(programDirectory, DatabaseFilePath(programDirectory));
}

// Writes all of `bytes`, unbuffered. A disk that fills up part way makes the
// system write fewer bytes without an error; writing the rest then fails with
// the reason ("No space left on device", "File too large"), which the file
// keeps. (A buffered write would report such a short write with no reason.)
bool writeWhole(QSaveFile &file, const QByteArray &bytes)
{
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 chunk = file.write(bytes.constData() + written, bytes.size() - written);
        if (chunk <= 0)
            return false;
        written += chunk;
    }
    return true;
}

} // namespace

namespace Internal {

QString databaseTextOf(const QByteArray &bytes)
{
    // A file as the program writes it loads as its text, without the
    // closing empty line: one decoding, no copy line by line.
    bool plain = false;
    QString text = plainDatabaseText(bytes, plain);
    if (plain)
        return text;
    text = decodeDatabaseBytes(bytes);
    QString lines;
    lines.reserve(text.size() + text.size() / 16 + 2);
    forEachLine(text, [&lines](QStringView line) {
        lines.append(line);
        lines.append(kCrLf);
    });
    return CollapseBlankLines(lines);
}

ContentDigest digestOf(const QByteArray &bytes)
{
    return {true, bytes.size(), qHash(bytes, 0)};
}

ContentDigest digestOf(const FileResult<FileBytes> &read)
{
    return read.status == FileStatus::Ok ? digestOf(read.value.bytes) : ContentDigest{};
}

bool sameStamp(const FileStamp &a, const FileStamp &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

FileResult<FileBytes> readDatabaseBytes(const QString &programDirectory)
{
    const QString refused = refusal(programDirectory);
    if (!refused.isEmpty())
        return failure<FileBytes>(refused);
    if (!DatabaseFileExists(programDirectory))
        return {FileStatus::Missing, QString(), FileBytes{}};
    QFile file(DatabaseFilePath(programDirectory));
    if (!file.open(QIODevice::ReadOnly))
        return failure<FileBytes>(file.errorString());
    const std::optional<FileStamp> before = FileSystem::stampOf(file);
    FileBytes read;
    read.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failure<FileBytes>(file.errorString());
    // Unchanged while it was read: the same stamp before and after, and as
    // many bytes as the file holds.
    const std::optional<FileStamp> after = FileSystem::stampOf(file);
    if (after) {
        read.stamp = *after;
        read.unchanged = before && sameStamp(*before, *after) && after->size == read.bytes.size();
    }
    return {FileStatus::Ok, QString(), read};
}

} // namespace Internal

using namespace Internal;

bool operator==(const ContentDigest &a, const ContentDigest &b)
{
    return a.exists == b.exists && a.size == b.size && a.hash == b.hash;
}

bool operator!=(const ContentDigest &a, const ContentDigest &b)
{
    return !(a == b);
}

QString DatabaseFilePath(const QString &programDirectory)
{
    return programDirectory + QStringLiteral("/stockbook.txt");
}

bool DatabaseFileExists(const QString &programDirectory)
{
    return !programDirectory.isEmpty() && QFileInfo(DatabaseFilePath(programDirectory)).isFile();
}

FileResult<QStringList> ReadDatabaseLines(const QString &programDirectory)
{
    const FileResult<FileBytes> file = readDatabaseBytes(programDirectory);
    const QString text = decodeDatabaseBytes(file.value.bytes);
    QStringList lines;
    forEachLine(text, [&lines](QStringView line) { lines.append(line.toString()); });
    return file.with(lines);
}

FileResult<DatabaseText> LoadDatabaseFile(const QString &programDirectory)
{
    const FileResult<FileBytes> file = readDatabaseBytes(programDirectory);
    DatabaseText loaded;
    if (file.status != FileStatus::Ok)
        return file.with(loaded);
    loaded.digest = digestOf(file.value.bytes);
    loaded.text = databaseTextOf(file.value.bytes);
    return file.with(loaded);
}

FileResult<ContentDigest> ReadDatabaseDigest(const QString &programDirectory)
{
    const FileResult<FileBytes> file = readDatabaseBytes(programDirectory);
    return file.with(digestOf(file));
}

QString CollapseBlankLines(const QString &text)
{
    static const QStringMatcher blankLine(u"\r\n\r\n");
    qsizetype hit = blankLine.indexIn(text, 0);
    if (hit < 0)
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    while (hit >= 0) {
        out.append(QStringView(text).mid(from, hit - from));
        out.append(kCrLf);
        from = hit + 4;
        hit = blankLine.indexIn(text, from);
    }
    out.append(QStringView(text).mid(from));
    return out;
}

FileResult<ContentDigest> WriteDatabaseFile(const QString &programDirectory, const QString &text,
                                            const std::optional<ContentDigest> &expected)
{
    const QString refused = refusal(programDirectory);
    if (!refused.isEmpty())
        return failure<ContentDigest>(refused);
    QByteArray bytes = text.toUtf8();
    bytes.append("\r\n");
    // QSaveFile writes a temporary file beside the target and renames it over
    // the target on commit; a symbolic link is followed and its target
    // replaced, and the permissions of an existing file are kept.
    const QString path = DatabaseFilePath(programDirectory);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !writeWhole(file, bytes) ||
        !file.flush()) {
        const QString reason = file.error() != QFileDevice::NoError
                                   ? file.errorString()
                                   : QStringLiteral("Only part of the database could be written");
        file.cancelWriting();
        return failure<ContentDigest>(reason);
    }
    // Just before the rename: the file as it is now must be the one the
    // caller expects, and what it holds is kept as a version.
    const FileResult<FileBytes> now = readDatabaseBytes(programDirectory);
    if (expected && digestOf(now) != *expected) {
        file.cancelWriting();
        return {FileStatus::Changed, QString(), ContentDigest{}};
    }
    const QString notKept = now.status == FileStatus::Failed
                                ? now.reason
                                : now.status == FileStatus::Ok ? keepVersion(programDirectory, now.value.bytes)
                                                               : QString();
    if (!notKept.isEmpty()) {
        file.cancelWriting();
        return failure<ContentDigest>(
            QStringLiteral("its present content could not be kept in %1 (%2)")
                .arg(QDir::toNativeSeparators(DatabaseVersionsPath(programDirectory)), notKept));
    }
    if (!file.commit())
        return failure<ContentDigest>(file.errorString());
    FileSystem::syncDirectory(QFileInfo(path).absolutePath());
    return {FileStatus::Ok, QString(), digestOf(bytes)};
}

} // namespace RecordStore
