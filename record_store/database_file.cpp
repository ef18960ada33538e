// SPDX-License-Identifier: GPL-3.0-or-later

// The database file: where it is, whether it may be used, reading its bytes
// and lines, and the start-up load with its blank-line collapse. (The write
// that replaces it is in database_write.cpp.)
#include "record_store/database_file.h"

#include <QDir>
#include <QHash>
#include <QStringMatcher>

#include "record_store/decoding.h"
#include "record_store/file_names.h"
#include "record_store/internal.h"

namespace RecordStore {

namespace Internal {

FileResult<FileSystem::Location> locateDatabase(const QString &programDirectory)
{
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return Internal::failure<FileSystem::Location>(
            Texts::tr("Stockbook does not know the folder it was started from"));
    FileResult<FileSystem::Location> located = FileSystem::locate(programDirectory);
    if (located.ok() && located.value.entry == FileSystem::Location::UntrustedLink)
        return Internal::failure<FileSystem::Location>(
            FileSystem::untrustedLinkReason(located.value));
    return located;
}

namespace {

// What plainDatabaseText gives for a file as the program writes it, in valid
// UTF-8: plain lines closed by an empty line, with no byte-order mark.
// Nothing for any other file.
std::optional<QString> writtenUtf8Text(const QByteArray &bytes)
{
    if (!bytes.endsWith("\r\n\r\n") || bytes.startsWith("\xEF\xBB\xBF"))
        return std::nullopt;
    return plainUtf8Text(QByteArrayView(bytes.constData(), bytes.size() - 2));
}

} // namespace

QString databaseTextOf(const QByteArray &bytes)
{
    // A file as the program writes it loads as its text, without the
    // closing empty line: one decoding, no copy line by line.
    if (std::optional<QString> written = writtenUtf8Text(bytes))
        return std::move(*written);
    if (std::optional<QString> plain = plainDatabaseText(bytes))
        return std::move(*plain);
    const QString text = decodeDatabaseBytes(bytes);
    QString lines;
    lines.reserve(text.size() + text.size() / 16 + 2);
    forEachLine(text, [&lines](QStringView line) {
        lines.append(line);
        lines.append(kCrLf);
    });
    return CollapseBlankLines(lines);
}

FileResult<FileBytes> readDatabaseBytes(const QString &programDirectory)
{
    const FileResult<FileSystem::Location> located = locateDatabase(programDirectory);
    if (!located.okOrNoFile())
        return located.with(FileBytes{});
    if (!located.ok() || located.value.entry != FileSystem::Location::File)
        return {FileStatus::Missing, QString(), FileBytes{}};
    return FileSystem::readFile(located.value, kLargestDatabaseFile);
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
    return programDirectory + u'/' + kDatabaseFileName;
}

bool DatabaseFileExists(const QString &programDirectory)
{
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return false;
    // A link that is not followed counts, so that reading it says why not.
    const auto entry = FileSystem::locate(programDirectory).value.entry;
    return entry == FileSystem::Location::File || entry == FileSystem::Location::UntrustedLink;
}

FileResult<QStringList> ReadDatabaseLines(const QString &programDirectory)
{
    return unlessOutOfMemory<QStringList>([&] {
        const FileResult<FileBytes> file = readDatabaseBytes(programDirectory);
        const QString text = decodeDatabaseBytes(file.value.bytes);
        QStringList lines;
        forEachLine(text, [&lines](QStringView line) { lines.append(line.toString()); });
        return file.with(lines);
    });
}

FileResult<DatabaseText> LoadDatabaseFile(const QString &programDirectory)
{
    return unlessOutOfMemory<DatabaseText>([&] {
        const FileResult<FileBytes> file = readDatabaseBytes(programDirectory);
        DatabaseText loaded;
        if (file.status != FileStatus::Ok)
            return file.with(loaded);
        loaded.digest = digestOf(file.value.bytes);
        loaded.text = databaseTextOf(file.value.bytes);
        return file.with(loaded);
    });
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

} // namespace RecordStore
