// SPDX-License-Identifier: GPL-3.0-or-later

// The database session: what the window last read from or wrote to the
// database file, and what Save and Update write, merged with the changes
// another program (a second window, a sync tool, an editor) made meanwhile
// and with the copies sync tools leave beside the file.
#include "record_store/database_session.h"

#include "record_store/conflict_copies.h"
#include "record_store/database_file.h"
#include "record_store/merge.h"

namespace RecordStore {

using namespace Internal;

namespace {

// A write whose file keeps changing between the merge and the rename is
// merged again, this many times at most.
constexpr int kWriteAttempts = 8;

FileResult<WrittenDatabase> written(WrittenDatabase database)
{
    return {FileStatus::Ok, QString(), std::move(database)};
}

FileResult<WrittenDatabase> recordNotFound()
{
    return {FileStatus::NotFound, QString(), WrittenDatabase{}};
}

} // namespace

DatabaseSession::DatabaseSession(const QString &programDirectory)
    : m_programDirectory(programDirectory), m_folder(std::make_shared<ProgramFolder>())
{
}

FileResult<QString> DatabaseSession::load()
{
    if (const FileResult<FileSystem::Folder> folder =
            FileSystem::openProgramFolder(m_programDirectory);
        folder.ok())
        m_folder->folder = folder.value;
    const FileResult<QString> loaded = unlessOutOfMemory<QString>([&] {
        const FileResult<FileBytes> file = readDatabaseBytes(m_programDirectory);
        if (!file.ok())
            return file.with(QString());
        m_known = digestOf(file);
        m_knownId = contentIdOf(file.value.bytes);
        return file.with(databaseTextOf(file.value.bytes));
    });
    if (!loaded.okOrNoFile())
        m_unreadableReason = loaded.reason;
    m_ancestor = loaded.value;
    m_written.reset();
    return loaded;
}

std::optional<QString> DatabaseSession::unreadableReason() const
{
    return m_unreadableReason;
}

bool DatabaseSession::viewHoldsWholeDatabase() const
{
    return m_viewHoldsWholeDatabase;
}

void DatabaseSession::searchShown(const QString &result)
{
    m_viewHoldsWholeDatabase = false;
    m_searchResult = result;
}

bool DatabaseSession::holdsNothingOfItsOwn(const QString &view)
{
    return m_viewHoldsWholeDatabase && view == ancestor();
}

bool DatabaseSession::searchShowed(const QString &text) const
{
    return m_searchResult.contains(text);
}

bool DatabaseSession::hasSomethingToSave(const QString &view) const
{
    return m_viewHoldsWholeDatabase || view != m_searchResult;
}

std::optional<QString> DatabaseSession::followFile(const QString &view)
{
    // The file is compared first: after the session's own writes it is
    // unchanged, and the view's text need not be compared at all.
    const FileResult<FileBytes> now = readDatabaseBytes(m_programDirectory);
    const ContentDigest nowDigest = digestOf(now);
    if (now.status != FileStatus::Ok || nowDigest == m_known || !holdsNothingOfItsOwn(view))
        return std::nullopt;
    // What was followed is what the window's next changes descend from.
    m_known = nowDigest;
    m_knownId = contentIdOf(now.value.bytes);
    const QString text = databaseTextOf(now.value.bytes);
    if (text == ancestor())
        return std::nullopt;
    m_ancestor = text;
    return text;
}

FileResult<WrittenDatabase> DatabaseSession::save(const QString &view)
{
    if (m_unreadableReason)
        return failure<WrittenDatabase>(*m_unreadableReason);
    return m_viewHoldsWholeDatabase ? writeWholeView(view) : writeSearchedView(view);
}

FileResult<WrittenDatabase> DatabaseSession::update(const QString &view, const QString &before,
                                                    const QString &after)
{
    if (m_viewHoldsWholeDatabase) {
        if (!view.contains(before))
            return recordNotFound();
        return save(QString(view).replace(before, after));
    }
    if (m_unreadableReason)
        return failure<WrittenDatabase>(*m_unreadableReason);
    // A searched view holds only some records: the change goes into the
    // file's text as it is now, so that the hidden records stay.
    // What the search showed stays the ancestor of the view: the change
    // made in both the view and the file is the same change on both sides.
    return writeComposed([&](const FileResult<FileBytes> &now) {
        QString text = now.status == FileStatus::Ok ? databaseTextOf(now.value.bytes) : QString();
        if (!text.contains(before))
            return recordNotFound();
        return written({text.replace(before, after), {}, {}});
    });
}

FileResult<WrittenDatabase> DatabaseSession::writeComposed(const Compose &compose)
{
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        const FileResult<FileBytes> now = readDatabaseBytes(m_programDirectory);
        if (!now.okOrNoFile())
            return failure<WrittenDatabase>(now.reason);
        const FileResult<WrittenDatabase> composed = compose(now);
        if (!composed.okOrNoFile())
            return composed;
        WriteRecord record{{m_knownId}, {}, m_idsSeen, m_folder->folder};
        record.knownIds.append({m_known, m_knownId});
        for (const MergedCopy &copy : std::as_const(m_mergedCopies))
            record.copies.append({copy.id, copy.bytes});
        const FileResult<WrittenContent> done =
            writeDatabase(m_programDirectory, composed.value.text, digestOf(now), record);
        if (done.status == FileStatus::Changed)
            continue;
        if (!done.ok())
            return failure<WrittenDatabase>(done.reason);
        m_idsSeen.clear();
        remember(composed.value.text, done.value.digest, done.value.id);
        removeMergedCopies();
        return composed;
    }
    return failure<WrittenDatabase>(
        Texts::tr("another program kept changing the file while it was being written"));
}

QList<CopyReport> DatabaseSession::mergeConflictCopies(QString &text)
{
    return mergeCopiesInto(text, [this] { return m_knownId; });
}

QList<CopyReport> DatabaseSession::mergeCopiesInto(QString &text,
                                                   const std::function<QByteArray()> &textBase)
{
    QList<CopyReport> reports;
    const QStringList names = ListConflictCopies(m_programDirectory);
    if (names.isEmpty() || !m_folder->folder.state)
        return reports;
    const FileResult<History> history = History::open(m_folder->folder, m_programDirectory, false);
    const QByteArray base = textBase();
    for (const QString &name : names) {
        if (std::any_of(m_mergedCopies.cbegin(), m_mergedCopies.cend(),
                        [&name](const MergedCopy &copy) { return copy.name == name; }))
            continue;
        CopyMerge merged = mergeConflictCopy(
            m_folder->folder, history.ok() ? &history.value : nullptr, name, text, base);
        if (!merged.report.unreadable)
            m_mergedCopies.append({name, merged.id, merged.bytes});
        reports.append(merged.report);
    }
    return reports;
}

void DatabaseSession::removeMergedCopies()
{
    // The copies are kept in the versions folder by the write. One that
    // changed since it was merged stays, and is merged again next time.
    for (const MergedCopy &copy : std::as_const(m_mergedCopies)) {
        const FileResult<QByteArray> now =
            FileSystem::readFileIn(m_folder->folder, copy.name, kLargestDatabaseFile);
        if (now.ok() && contentIdOf(now.value) == copy.id)
            static_cast<void>(FileSystem::removeFileIn(m_folder->folder, copy.name));
    }
    m_mergedCopies.clear();
}

FileResult<WrittenDatabase> DatabaseSession::writeWholeView(const QString &view)
{
    // The copies merged here are merged again after a failed write.
    const QList<MergedCopy> mergedBefore = m_mergedCopies;
    QString text = view;
    const QList<CopyReport> copies = mergeConflictCopies(text);
    const FileResult<WrittenDatabase> result =
        writeComposed([&](const FileResult<FileBytes> &now) -> FileResult<WrittenDatabase> {
            WrittenDatabase out{text, {}, copies};
            // A file that is gone is written anew; one that only changed its
            // encoding or line ends holds no change of another program.
            if (now.status != FileStatus::Ok || digestOf(now) == m_known)
                return written(out);
            const QString fileText = databaseTextOf(now.value.bytes);
            if (fileText == ancestor())
                return written(out);
            const std::optional<QString> base = ancestorOf(now.value.bytes);
            std::optional<MergedText> merged =
                base ? mergeTexts(*base, text, fileText) : mergeWithoutAncestor(text, fileText);
            if (!merged)
                return failure<WrittenDatabase>(
                    Texts::tr("another program's changes to the file could not be merged"));
            out.text = std::move(merged->text);
            out.merge = std::move(merged->report);
            out.merge.merged = true;
            return written(out);
        });
    if (!result.ok())
        m_mergedCopies = mergedBefore;
    return result;
}

FileResult<WrittenDatabase> DatabaseSession::writeSearchedView(const QString &view)
{
    // The changes the window made to the search's result since the search go
    // into the file's text as it is now (with the copies merged into it);
    // what the search hid stays. The view keeps showing the search's lines.
    const QList<MergedCopy> mergedBefore = m_mergedCopies;
    const FileResult<WrittenDatabase> result =
        writeComposed([&](const FileResult<FileBytes> &now) -> FileResult<WrittenDatabase> {
            m_mergedCopies = mergedBefore;
            const bool file = now.status == FileStatus::Ok;
            QString fileText = file ? databaseTextOf(now.value.bytes) : QString();
            // The copies' merge base needs the file's id.
            const QList<CopyReport> copies = mergeCopiesInto(fileText, [&]() -> QByteArray {
                if (!file)
                    return {};
                const QByteArray id = contentIdOf(now.value.bytes);
                m_idsSeen.append({digestOf(now), id});
                return id;
            });
            std::optional<MergedText> merged = mergeIntoWhole(m_searchResult, view, fileText);
            if (!merged)
                return failure<WrittenDatabase>(
                    Texts::tr("another program's changes to the file could not be merged"));
            // What the search hid is no news, and a record changed both in
            // the view and in the file is kept in both versions.
            return written({merged->text, {}, copies});
        });
    if (result.ok())
        m_searchResult = view;
    else
        m_mergedCopies = mergedBefore;
    return result;
}

std::optional<QString> DatabaseSession::ancestorOf(const QByteArray &file)
{
    // A file that the history does not know (an editor's, say) was made
    // from what the file held, as was one that the history knows to descend
    // from it, and any file where there was none. A sync tool's winner of a
    // conflict may not: then the content both are known to descend from, if
    // any.
    const FileResult<History> history =
        m_folder->folder.state ? History::open(m_folder->folder, m_programDirectory, false)
                               : FileResult<History>{FileStatus::Missing, QString(), History{}};
    const ContentId id = contentIdOf(file);
    m_idsSeen.append({digestOf(file), id});
    if (m_knownId.isEmpty() || !history.ok() || !history.value.knows(id) ||
        history.value.descendsFrom(id, m_knownId))
        return ancestor();
    if (const std::optional<QByteArray> base = history.value.mergeBase(m_knownId, id))
        return databaseTextOf(*base);
    return std::nullopt;
}

void DatabaseSession::remember(const QString &written, const ContentDigest &digest,
                               const QByteArray &id)
{
    m_ancestor.clear();
    m_written = written;
    m_known = digest;
    m_knownId = id;
}

const QString &DatabaseSession::ancestor()
{
    // What a load of the written file gives, worked out when first needed.
    if (m_written) {
        m_ancestor = databaseTextOf((*m_written + QStringLiteral("\r\n")).toUtf8());
        m_written.reset();
    }
    return m_ancestor;
}

} // namespace RecordStore
