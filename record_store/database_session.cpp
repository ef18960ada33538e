// SPDX-License-Identifier: GPL-3.0-or-later

// The database session: what the window last read from or wrote to the
// database file, the text a searched view stands for, and the whole text
// Save and Update hand to the write (database_write.cpp), which merges it
// with the changes another program (a second window, a sync tool, an
// editor) made meanwhile and with the copies sync tools leave beside the
// file.
#include "record_store/database_session.h"

#include "record_store/conflict_copies.h"
#include "record_store/database_file.h"
#include "record_store/database_write.h"
#include "record_store/decoding.h"
#include "record_store/merge.h"
#include "record_store/search_filter.h"

namespace RecordStore {

using namespace Internal;

namespace {

FileResult<WrittenDatabase> recordNotFound()
{
    return {FileStatus::NotFound, QString(), WrittenDatabase{}};
}

} // namespace

DatabaseSession::DatabaseSession(const QString &programDirectory)
    : m_programDirectory(programDirectory), m_folder(std::make_shared<ProgramFolder>()),
      m_pendingCopies(std::make_shared<PendingCopies>())
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
        QString text = databaseTextOf(file.value.bytes);
        readAsBase(file, text);
        return file.with(std::move(text));
    });
    if (!loaded.okOrNoFile())
        m_writable = failure<void>(loaded.reason);
    m_ancestor = loaded.value;
    m_written.reset();
    return loaded;
}

FileResult<void> DatabaseSession::writable() const
{
    return m_writable;
}

bool DatabaseSession::viewHoldsWholeDatabase() const
{
    return m_viewHoldsWholeDatabase;
}

void DatabaseSession::keepViewChanges(const QString &view)
{
    if (!m_viewHoldsWholeDatabase) {
        // A fold that fails keeps the changes held so far; the view's own
        // are then left out, as a search before this one left them.
        static_cast<void>(wholeText(view));
        return;
    }
    if (view == ancestor())
        m_unsaved.reset();
    else
        m_unsaved = view;
}

bool DatabaseSession::holdsUnsavedChanges() const
{
    return m_unsaved.has_value();
}

FileResult<QString> DatabaseSession::filter(const QStringList &searchTexts,
                                            DatabaseSnapshot &snapshot)
{
    const FileResult<bool> file = catchUp();
    if (!m_unsaved)
        return FilterDatabaseLines(m_programDirectory, searchTexts, snapshot);
    // The window's changes are shown also where the file cannot be read;
    // their text is searched as bytes, encoded once for the key strokes.
    if (!m_unsaved->isSharedWith(m_unsavedEncoded.first))
        m_unsavedEncoded = {*m_unsaved, m_unsaved->toUtf8()};
    return file.with(filterDatabaseBytes(m_unsavedEncoded.second, searchTexts));
}

QString DatabaseSession::filterWritten(const QStringList &searchTexts)
{
    return filterDatabaseText(ancestor(), searchTexts);
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

bool DatabaseSession::hasSomethingToSave(const QString &view) const
{
    return m_viewHoldsWholeDatabase || m_unsaved || view != m_searchResult;
}

FileResult<QString> DatabaseSession::wholeText(const QString &view)
{
    if (m_viewHoldsWholeDatabase)
        return {FileStatus::Ok, QString(), view};
    if (view != m_searchResult) {
        // The view's edits go where the search's lines stand in the whole.
        std::optional<MergedText> merged =
            mergeIntoWhole(m_searchResult, view, m_unsaved ? *m_unsaved : ancestor());
        if (!merged)
            return failure<QString>(Texts::tr("the window's changes could not be merged"));
        m_searchResult = view;
        m_unsaved = std::move(merged->text);
        if (*m_unsaved == ancestor())
            m_unsaved.reset();
    }
    return {FileStatus::Ok, QString(), m_unsaved ? *m_unsaved : ancestor()};
}

FileResult<bool> DatabaseSession::catchUp()
{
    const FileResult<bool> unchanged{FileStatus::Ok, QString(), false};
    if (m_knownStamp) {
        const FileResult<FileSystem::Location> at = FileSystem::locate(m_programDirectory);
        if (at.ok() && at.value.entry == FileSystem::Location::File && at.value.stamp &&
            sameStamp(*at.value.stamp, *m_knownStamp))
            return unchanged;
    }
    const FileResult<FileBytes> now = readDatabaseBytes(m_programDirectory);
    if (!now.ok())
        return now.with(false);
    const ContentDigest digest = digestOf(now);
    if (digest == m_known) {
        readAsBase(now, std::nullopt);
        return unchanged;
    }
    QString fileText = databaseTextOf(now.value.bytes);
    const ContentId id = contentIdOf(now.value.bytes);
    if (m_unsaved) {
        // The ancestor the next write would merge against.
        bool older = false;
        const std::optional<QString> common =
            DatabaseWrite(m_programDirectory, m_folder->folder, base())
                .ancestorOf(now.value.bytes, digest, id, *m_pendingCopies, older);
        std::optional<MergedText> merged = common ? mergeTexts(*common, *m_unsaved, fileText)
                                                  : mergeWithoutAncestor(*m_unsaved, fileText);
        if (!merged)
            return failure<bool>(
                Texts::tr("another program's changes to the file could not be merged"));
        merged->report.olderAncestor = older;
        addMergeReport(m_mergedBySearch, merged->report);
        m_unsaved = std::move(merged->text);
    }
    readAsBase(now, fileText, id);
    m_ancestor = std::move(fileText);
    m_written.reset();
    if (m_unsaved && *m_unsaved == m_ancestor)
        m_unsaved.reset();
    return {FileStatus::Ok, QString(), true};
}

void DatabaseSession::readAsBase(const FileResult<FileBytes> &read,
                                 const std::optional<QString> &text, const ContentId &id)
{
    m_knownStamp =
        read.value.unchanged ? std::make_shared<const FileStamp>(read.value.stamp) : nullptr;
    if (!text)
        return;
    m_known = digestOf(read);
    m_knownId = id.isEmpty() ? contentIdOf(read.value.bytes) : id;
    // What the window now descends from is named in this machine's log, so
    // that its version stays while another machine may merge against it;
    // where the history cannot be written, it is not. The history is read
    // only where this machine's own log does not name it already.
    if (!m_folder->folder.state ||
        History::lastReadHere(m_folder->folder, m_programDirectory) == m_knownId)
        return;
    if (FileResult<History> history = openHistory(); history.ok())
        static_cast<void>(history.value.recordRead(m_knownId, read.value.bytes));
}

void DatabaseSession::recordRestore(const QByteArray &bytes)
{
    // The window keeps what its changes descend from; a content put back is
    // named in this machine's log all the same, so that the window's next
    // write, and every other, applies the restore.
    const ContentId id = contentIdOf(bytes);
    if (!m_folder->folder.state ||
        History::lastReadHere(m_folder->folder, m_programDirectory) == id)
        return;
    if (FileResult<History> history = openHistory(); history.ok() && history.value.isRestore(id))
        static_cast<void>(history.value.recordRead(id, bytes));
}

FileResult<History> DatabaseSession::openHistory() const
{
    if (!m_folder->folder.state)
        return {FileStatus::Missing, QString(), History{}};
    return History::open(m_folder->folder, m_programDirectory, false);
}

std::optional<QString> DatabaseSession::followFile(const QString &view)
{
    // The file is compared first: after the session's own writes it is
    // unchanged, and the view's text need not be compared at all.
    const FileResult<FileBytes> now = readDatabaseBytes(m_programDirectory);
    const ContentDigest nowDigest = digestOf(now);
    if (now.status != FileStatus::Ok || nowDigest == m_known)
        return std::nullopt;
    if (!holdsNothingOfItsOwn(view)) {
        recordRestore(now.value.bytes);
        return std::nullopt;
    }
    // What was followed is what the window's next changes descend from.
    const QString text = databaseTextOf(now.value.bytes);
    readAsBase(now, text);
    if (text == ancestor())
        return std::nullopt;
    m_ancestor = text;
    // The copies merged into the text it replaces are not in it: they are
    // merged again where they are still there.
    *m_pendingCopies = PendingCopies();
    return text;
}

FileResult<WrittenDatabase> DatabaseSession::save(const QString &view,
                                                  const std::optional<ShownChange> &change)
{
    if (!m_writable.ok())
        return m_writable.with(WrittenDatabase{});
    const FileResult<QString> whole = wholeText(view);
    if (!whole.ok())
        return whole.with(WrittenDatabase{});
    // A searched view's change is no change of the whole.
    return writeWhole(whole.value, whole.value.isSharedWith(view) ? change : std::nullopt);
}

FileResult<WrittenDatabase> DatabaseSession::update(const QString &view, const QString &before,
                                                    const QString &after)
{
    if (!m_writable.ok())
        return m_writable.with(WrittenDatabase{});
    const FileResult<QString> whole = wholeText(view);
    if (!whole.ok())
        return whole.with(WrittenDatabase{});
    if (!whole.value.contains(before))
        return recordNotFound();
    const FileResult<WrittenDatabase> result =
        writeWhole(QString(whole.value).replace(before, after));
    // The window makes the same change in the searched view.
    if (result.ok() && !m_viewHoldsWholeDatabase)
        m_searchResult = replacedInShown(m_searchResult, before, after,
                                         lastLineEndsInWhole(m_searchResult, whole.value));
    return result;
}

bool lastLineEndsInWhole(QStringView shown, QStringView whole)
{
    const qsizetype lastLine = shown.lastIndexOf(u'\n') + 1;
    return lastLine < shown.size() && !whole.endsWith(shown.sliced(lastLine));
}

QString replacedInShown(const QString &shown, const QString &before, const QString &after,
                        bool lastLineEnds)
{
    if (!lastLineEnds || !before.endsWith(kCrLf) || !after.endsWith(kCrLf))
        return QString(shown).replace(before, after);
    QString closed = shown;
    closed += kCrLf;
    return closed.replace(before, after).chopped(2);
}

QList<CopyReport> DatabaseSession::mergeConflictCopies(QString &text)
{
    const QStringList names = ListConflictCopies(m_programDirectory);
    if (names.isEmpty() || !m_folder->folder.state)
        return {};
    const FileResult<History> history = openHistory();
    return m_pendingCopies->mergeInto(m_folder->folder, names,
                                      history.ok() ? &history.value : nullptr, text, {m_knownId});
}

FileResult<WrittenDatabase> DatabaseSession::writeWhole(const QString &whole,
                                                        const std::optional<ShownChange> &change)
{
    // The write merges further copies into a list of its own: after a
    // failed write, the session's stay as they were, and those are merged
    // again.
    PendingCopies copies = *m_pendingCopies;
    const FileResult<WriteOutcome> written =
        DatabaseWrite(m_programDirectory, m_folder->folder, base())
            .run(whole, m_mergedBySearch, copies, change);
    if (!written.ok())
        return written.with(WrittenDatabase{});
    *m_pendingCopies = copies;
    m_unsaved.reset();
    m_mergedBySearch = {};
    remember(written.value.database.text, written.value.loadsAsWritten, written.value.digest,
             written.value.id);
    return written.with(written.value.database);
}

WriteBase DatabaseSession::base()
{
    return {m_known, m_knownId, [this]() -> const QString & {
                return ancestor();
            }};
}

void DatabaseSession::remember(const QString &written, bool loadsAsIs, const ContentDigest &digest,
                               const QByteArray &id)
{
    m_ancestor.clear();
    m_written = written;
    m_writtenLoadsAsIs = loadsAsIs;
    m_known = digest;
    m_knownId = id;
    const FileResult<FileSystem::Location> at = FileSystem::locate(m_programDirectory);
    m_knownStamp = at.ok() && at.value.stamp && at.value.stamp->size == digest.size
                       ? std::make_shared<const FileStamp>(*at.value.stamp)
                       : nullptr;
}

const QString &DatabaseSession::ancestor()
{
    // What a load of the written file gives, worked out when first needed:
    // for a text of plain lines the text itself, with no encoding.
    if (m_written) {
        if (m_writtenLoadsAsIs) {
            m_ancestor = std::move(*m_written);
            if (!m_ancestor.endsWith(kCrLf))
                m_ancestor.append(kCrLf);
        } else {
            m_ancestor = databaseTextOf((*m_written + QStringLiteral("\r\n")).toUtf8());
        }
        m_written.reset();
    }
    return m_ancestor;
}

} // namespace RecordStore
