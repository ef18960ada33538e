// SPDX-License-Identifier: GPL-3.0-or-later

// The database file: where it is, whether it may be used, reading its bytes
// and lines, the start-up load with its blank-line collapse, and the write
// that replaces it whole or not at all, unless the digest of its bytes
// (digestOf) tells that another program changed it.
#include "record_store/database_file.h"

#include <QDir>
#include <QHash>
#include <QStringMatcher>

#include "record_store/decoding.h"
#include "record_store/file_names.h"
#include "record_store/internal.h"
#include "record_store/versions.h"

namespace RecordStore {

namespace {

// The database file of the program directory. Only an absolute program
// directory names one; a link that may not be followed fails, saying why.
FileResult<FileSystem::Location> locateDatabase(const QString &programDirectory)
{
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return Internal::failure<FileSystem::Location>(
            Texts::tr("Stockbook does not know the folder it was started from"));
    FileResult<FileSystem::Location> located = FileSystem::locate(programDirectory);
    if (located.ok() && located.value.entry == FileSystem::Location::UntrustedLink)
        return Internal::failure<FileSystem::Location>(located.value.reason);
    return located;
}

} // namespace

namespace Internal {

QString databaseTextOf(const QByteArray &bytes)
{
    // A file as the program writes it loads as its text, without the
    // closing empty line: one decoding, no copy line by line.
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
    if (!located.ok())
        return located.with(FileBytes{});
    if (located.value.entry != FileSystem::Location::File)
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

FileResult<ContentDigest> WriteDatabaseFile(const QString &programDirectory, const QString &text,
                                            const std::optional<ContentDigest> &expected)
{
    const FileResult<WrittenContent> written =
        writeDatabase(programDirectory, text, expected, WriteRecord{});
    return written.with(written.value.digest);
}

namespace Internal {

FileResult<WrittenContent> writeDatabase(const QString &programDirectory, const QString &text,
                                         const std::optional<ContentDigest> &expected,
                                         const WriteRecord &record)
{
    return unlessOutOfMemory<WrittenContent>([&] {
        const FileResult<FileSystem::Folder> program =
            FileSystem::openProgramFolder(programDirectory);
        if (record.programFolder.state && program.ok() &&
            !FileSystem::sameFolder(program.value, record.programFolder))
            return failure<WrittenContent>(
                Texts::tr("the folder %1 is no longer the one Stockbook started from (a "
                          "removed disk, or another folder moved into its place)")
                    .arg(QDir::toNativeSeparators(programDirectory)));
        // Where the file is: through the folder found here, the new content
        // goes beside it and replaces it, however its path changes meanwhile.
        const FileResult<FileSystem::Location> target = locateDatabase(programDirectory);
        if (!target.ok())
            return failure<WrittenContent>(target.reason);
        QByteArray bytes = text.toUtf8();
        bytes.append("\r\n");

        const FileResult<FileSystem::TemporaryFile> temporary =
            FileSystem::createTemporary(target.value);
        if (!temporary.ok())
            return failure<WrittenContent>(temporary.reason);
        std::optional<QString> reason = FileSystem::writeAll(temporary.value, bytes);
        if (!reason)
            reason = FileSystem::flushToDisk(temporary.value);
        if (reason)
            return failure<WrittenContent>(*reason);

        // Just before the rename, with the new content on the disk and the old
        // file still in place: the file as it is now must be the one the
        // caller expects, and the write is recorded in the history.
        const FileResult<FileBytes> now = readDatabaseBytes(programDirectory);
        if (expected && digestOf(now) != *expected)
            return FileResult<WrittenContent>{FileStatus::Changed, QString(), WrittenContent{}};
        if (!now.okOrNoFile())
            return failure<WrittenContent>(now.reason);
        const ContentId id = contentIdOf(bytes);
        std::optional<History> history;
        if (const std::optional<QString> notKept =
                recordWrite(programDirectory, program, now, bytes, id, record, history))
            return failure<WrittenContent>(*notKept);

        reason = FileSystem::renameInto(temporary.value, target.value);
        if (reason)
            return failure<WrittenContent>(*reason);
        FileSystem::syncFolder(target.value.folder);
        if (history)
            pruneVersions(*history, id);
        return FileResult<WrittenContent>{FileStatus::Ok, QString(),
                                          WrittenContent{digestOf(bytes), id}};
    });
}

} // namespace Internal

} // namespace RecordStore
