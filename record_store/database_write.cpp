// SPDX-License-Identifier: GPL-3.0-or-later

// A Save or an Update, written as one transaction, in the order of a lock
// file's calling sequence:
//
// 1. The sync tools' conflict copies merged into the window's text, against
//    the history, which the write opens once, when it first needs it.
// 2. The file read as it is now, and another program's change of it merged
//    into the text, against the content both descend from.
// 3. Lock: the new content written to a temporary file beside the file and
//    flushed to the disk.
// 4. Check: the file is still as step 2 read it, and step 2 merged against
//    the content the history names as its ancestor (see mergeWithFile).
//    Where either is not so, roll back: the temporary file goes, and the
//    write starts again at step 2 with the history read again (another
//    program wrote, and recorded its write), at most kWriteAttempts times.
// 5. Record: the content replaced, the copies taken in and the content
//    written kept as versions, and the write's line in this machine's log.
// 6. Commit: the temporary file renamed over the file, the folder flushed.
// 7. Clean up: the versions no machine needs any more pruned, the copies taken
//    in removed.
//
// A step that fails rolls back and says why: the file stays as it was, and
// the session holds what it held.
#include "record_store/database_write.h"

#include <functional>
#include <future>

#include <QDir>

#include "record_store/database_file.h"
#include "record_store/decoding.h"

namespace RecordStore {

namespace Internal {

namespace {

constexpr int kWriteAttempts = 8;

// What a write wrote: the digest and the id of its bytes, and whether a load
// gives its text back as it is (see loadsAsWritten).
struct WrittenContent
{
    ContentDigest digest;
    ContentId id;
    bool loadsAsWritten = false;
};

// The id of `bytes`, by which the history knows a content, hashed meanwhile.
std::future<ContentId> contentIdMeanwhile(const QByteArray &bytes)
{
    return meanwhile([&bytes] { return contentIdOf(bytes); });
}

// The file to replace, through the program folder `program` opened here,
// unless the program directory's path names another folder now than
// `expected` (a removed disk whose mount point stayed, say).
FileResult<FileSystem::Location> openTarget(const QString &programDirectory,
                                            const FileSystem::Folder &expected,
                                            FileResult<FileSystem::Folder> &program)
{
    program = FileSystem::openProgramFolder(programDirectory);
    if (expected.state && program.ok() && !FileSystem::sameFolder(program.value, expected))
        return failure<FileSystem::Location>(
            Texts::tr("the folder %1 is no longer the one Stockbook started from (a "
                      "removed disk, or another folder moved into its place)")
                .arg(QDir::toNativeSeparators(programDirectory)));
    // Through the folder found here, the new content goes beside the file
    // and replaces it, however its path changes meanwhile.
    return locateDatabase(programDirectory);
}

// Step 3: `bytes` in a temporary file beside `target`, on the disk.
FileResult<FileSystem::TemporaryFile> lock(const FileSystem::Location &target, QByteArrayView bytes)
{
    FileResult<FileSystem::TemporaryFile> temporary = FileSystem::createTemporary(target);
    if (!temporary.ok())
        return temporary;
    FileResult<void> written = FileSystem::writeAll(temporary.value, bytes);
    if (written.ok())
        written = FileSystem::flushToDisk(temporary.value);
    return written.ok() ? temporary : written.with(FileSystem::TemporaryFile{});
}

// Steps 3 to 7 but the copies' removal: replaces the file by `text` when it
// holds `expected` and `recordOf` then gives the record of the write (Changed,
// with nothing written, when either is not so), recording the write with it
// in `history`. A program folder that the session found (`startedFrom`) and
// that its path no longer names is not written to (see openTarget).
FileResult<WrittenContent> writeFile(const QString &programDirectory,
                                     const FileSystem::Folder &startedFrom, const QString &text,
                                     const std::optional<ContentDigest> &expected,
                                     const std::function<std::optional<WriteRecord>()> &recordOf,
                                     WriteHistory &history)
{
    return unlessOutOfMemory<WrittenContent>([&] {
        FileResult<FileSystem::Folder> program;
        const FileResult<FileSystem::Location> target =
            openTarget(programDirectory, startedFrom, program);
        if (!target.ok())
            return failure<WrittenContent>(target.reason);
        QByteArray bytes = text.toUtf8();
        bytes.append("\r\n");
        // The content's id is hashed while the bytes go to the disk, and the
        // text told plain lines or not, for the next write's merge.
        std::future<ContentId> hashed = contentIdMeanwhile(bytes);
        std::future<bool> plain = meanwhile([&text] { return loadsAsWritten(text); });
        const FileResult<FileSystem::TemporaryFile> temporary = lock(target.value, bytes);
        if (!temporary.ok())
            return failure<WrittenContent>(temporary.reason);
        const FileResult<FileBytes> now = readDatabaseBytes(programDirectory);
        if (expected && digestOf(now) != *expected)
            return FileResult<WrittenContent>{FileStatus::Changed, QString(), WrittenContent{}};
        if (!now.okOrNoFile())
            return failure<WrittenContent>(now.reason);
        const std::optional<WriteRecord> record = recordOf();
        if (!record)
            return FileResult<WrittenContent>{FileStatus::Changed, QString(), WrittenContent{}};
        const ContentId id = hashed.get();
        if (program.ok())
            history.useFolder(program.value);
        FileResult<void> step =
            recordWrite(programDirectory, program, now, bytes, id, *record, history);
        if (step.ok())
            step = FileSystem::renameInto(temporary.value, target.value);
        if (!step.ok())
            return step.with(WrittenContent{});
        FileSystem::syncFolder(target.value.folder);
        if (History *recorded = history.recorded())
            pruneVersions(*recorded, id);
        return FileResult<WrittenContent>{
            FileStatus::Ok, QString(), {digestOf(bytes), id, plain.get()}};
    });
}

} // namespace

DatabaseWrite::DatabaseWrite(const QString &programDirectory,
                             const FileSystem::Folder &programFolder, const WriteBase &base)
    : m_programDirectory(programDirectory), m_programFolder(programFolder), m_base(base),
      m_history(programFolder, programDirectory)
{
}

FileResult<WriteOutcome> DatabaseWrite::run(const QString &whole, const MergeReport &mergedBySearch,
                                            PendingCopies &copies,
                                            const std::optional<ShownChange> &wholeChange)
{
    QString text = whole;
    const QList<CopyReport> copyReports = mergeCopies(text, copies);
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        const FileResult<FileBytes> now = readDatabaseBytes(m_programDirectory);
        if (!now.okOrNoFile())
            return failure<WriteOutcome>(now.reason);
        const ContentDigest digest = digestOf(now);
        WrittenDatabase database{QString(), mergedBySearch, copyReports};
        // Where no copy changed the text handed, what it was made from may
        // tell where the merge need compare it, and the merge may tell where
        // the result differs from it (the view's text, for a Save).
        const bool handedAsIs = text.isSharedWith(whole);
        std::optional<TextChange> change;
        std::optional<std::future<ContentId>> unconfirmed;
        const FileResult<QString> merged =
            mergeWithFile(now, digest, text, handedAsIs ? wholeChange : std::nullopt, copies,
                          database.merge, change, unconfirmed);
        if (!merged.ok())
            return merged.with(WriteOutcome{});
        database.text = merged.value;
        if (handedAsIs) {
            database.handed = whole;
            database.changeFromHanded = change;
        }
        const auto record = [&]() -> std::optional<WriteRecord> {
            if (unconfirmed && !mergedAgainstAncestor(now.value.bytes, digest, unconfirmed->get(),
                                                      copies, database.merge))
                return std::nullopt;
            return recordOf(copies);
        };
        const FileResult<WrittenContent> written = writeFile(
            m_programDirectory, m_programFolder, database.text, digest, record, m_history);
        if (written.status == FileStatus::Changed) {
            m_history = WriteHistory(m_programFolder, m_programDirectory);
            continue;
        }
        if (!written.ok())
            return failure<WriteOutcome>(written.reason);
        copies.removeWritten(m_programFolder);
        return {FileStatus::Ok,
                QString(),
                {database, written.value.digest, written.value.id, written.value.loadsAsWritten}};
    }
    return failure<WriteOutcome>(
        Texts::tr("another program kept changing the file while it was being written"));
}

QList<CopyReport> DatabaseWrite::mergeCopies(QString &text, PendingCopies &copies)
{
    const QStringList names = ListConflictCopies(m_programDirectory);
    if (names.isEmpty() || !m_programFolder.state)
        return {};
    return copies.mergeInto(m_programFolder, names, m_history.forReading(), text, {m_base.id});
}

FileResult<QString> DatabaseWrite::mergeWithFile(const FileResult<FileBytes> &now,
                                                 const ContentDigest &digest, const QString &text,
                                                 const std::optional<ShownChange> &textChange,
                                                 const PendingCopies &copies, MergeReport &report,
                                                 std::optional<TextChange> &change,
                                                 std::optional<std::future<ContentId>> &unconfirmed)
{
    // A file that is gone is written anew; one that only changed its
    // encoding or line ends holds no change of another program.
    const FileResult<QString> unchanged{FileStatus::Ok, QString(), text};
    if (now.status != FileStatus::Ok || digest == m_base.digest)
        return unchanged;
    // The file's id is hashed while its text is decoded.
    std::future<ContentId> id = contentIdMeanwhile(now.value.bytes);
    QString fileText = databaseTextOf(now.value.bytes);
    // The same text in other bytes is no change, unless copies were merged
    // into the window's text: then it may be another content with the same
    // text (every record removed since, say), whose changes since what the
    // copies were merged against the history tells.
    const QString &read = m_base.text();
    const bool sameText = fileText == read;
    if (sameText && copies.ids().isEmpty())
        return unchanged;
    // Until the id is known, the text is merged against what the window
    // read, the ancestor that nearly every write finds. The write goes on
    // with that merge while the id is hashed, and asks the history before it
    // records itself (see mergedAgainstAncestor); where the history names
    // another ancestor, the write starts again and waits for the history's
    // answer here: the file's text is decoded again and merged with it.
    std::optional<MergedText> guessed;
    // The text told from what the window read is compared with it only where
    // it changed.
    if (!sameText)
        guessed = mergeIntoFileText(read, text, std::move(fileText),
                                    textChange ? textChange->changeFrom(read) : std::nullopt);
    if (guessed && m_guessAncestor) {
        unconfirmed = std::move(id);
        addMergeReport(report, guessed->report);
        change = guessed->fromWindow;
        return {FileStatus::Ok, QString(), std::move(guessed->text)};
    }
    bool older = false;
    const std::optional<QString> base =
        ancestorOf(now.value.bytes, digest, id.get(), copies, older);
    if (sameText && !base)
        return unchanged;
    std::optional<MergedText> merged;
    if (guessed && isRead(base)) {
        merged = std::move(guessed);
    } else {
        if (!sameText)
            fileText = databaseTextOf(now.value.bytes);
        merged = base ? mergeIntoFileText(*base, text, std::move(fileText))
                      : mergeWithoutAncestor(text, fileText);
    }
    if (!merged)
        return failure<QString>(
            Texts::tr("another program's changes to the file could not be merged"));
    merged->report.olderAncestor = older;
    addMergeReport(report, merged->report);
    change = merged->fromWindow;
    return {FileStatus::Ok, QString(), std::move(merged->text)};
}

bool DatabaseWrite::mergedAgainstAncestor(const QByteArray &file, const ContentDigest &digest,
                                          const ContentId &id, const PendingCopies &copies,
                                          MergeReport &report)
{
    bool older = false;
    m_guessAncestor = isRead(ancestorOf(file, digest, id, copies, older));
    report.olderAncestor = report.olderAncestor || older;
    return m_guessAncestor;
}

std::optional<QString> DatabaseWrite::ancestorOf(const QByteArray &file,
                                                 const ContentDigest &digest, const ContentId &id,
                                                 const PendingCopies &copies, bool &older)
{
    // A file that the history does not know (an editor's, say) was made
    // from what the file held, as was one that the history knows to descend
    // from it, and any file where there was none. A sync tool's winner of a
    // conflict may not: then the content both are known to descend from, if
    // any; none for a winner whose log has not come yet.
    History *history = m_history.forReading();
    m_idsSeen.append({digest, id});
    // What the write descends from is named in this machine's log too.
    // (Where the history cannot be written, it is not: as at start-up.)
    if (history)
        static_cast<void>(history->recordRead(id, file));
    if (m_base.id.isEmpty() || !history)
        return m_base.text();
    // The copies merged into the text are what it was made from too: a file
    // that descends from what the window read may share newer contents with
    // them. (Where what the window read descends from the file as well, the
    // file holds a content written before, put back since: it is newer.)
    const QList<ContentId> madeFrom = QList<ContentId>{m_base.id} + copies.ids();
    const bool fromBase = history->descendsFrom(id, m_base.id);
    if (fromBase && (madeFrom.size() == 1 || history->descendsFrom(m_base.id, id)))
        return m_base.text();
    // A file no log knows is an editor's, saved over what the file held;
    // unless a sync tool left a conflict copy beside it: then it is the sync
    // tool's winner, made on another machine (an editor's there, or one
    // whose log has not come yet) from whatever it was made from.
    if (!history->knows(id) && madeFrom.size() == 1)
        return m_base.text();
    if (std::optional<QString> base = ancestorText(*history, madeFrom, id, &older))
        return base;
    if (fromBase)
        return m_base.text();
    return std::nullopt;
}

bool DatabaseWrite::isRead(const std::optional<QString> &text)
{
    const QString &read = m_base.text();
    return text && (text->isSharedWith(read) || *text == read);
}

WriteRecord DatabaseWrite::recordOf(const PendingCopies &copies) const
{
    WriteRecord record{{m_base.id}, copies.versions(), m_idsSeen};
    record.knownIds.append({m_base.digest, m_base.id});
    return record;
}

} // namespace Internal

FileResult<ContentDigest> WriteDatabaseFile(const QString &programDirectory, const QString &text,
                                            const std::optional<ContentDigest> &expected)
{
    Internal::WriteHistory history(FileSystem::Folder{}, programDirectory);
    const auto written = Internal::writeFile(
        programDirectory, FileSystem::Folder{}, text, expected,
        [] { return Internal::WriteRecord{}; }, history);
    return written.with(written.value.digest);
}

} // namespace RecordStore
