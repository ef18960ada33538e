// SPDX-License-Identifier: GPL-3.0-or-later

// The window's session with the database file: what it last read or wrote,
// and what Save and Update write, merged with the changes of other programs
// and with the sync tools' conflict copies (the reports of those merges are
// in merge.h).
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>

#include <QList>
#include <QString>
#include <QStringList>

#include "record_store/merge.h"
#include "record_store/record_store.h"

namespace RecordStore {

namespace Internal {
struct FileBytes;
struct FileStamp;
struct ProgramFolder;
struct WriteBase;
class PendingCopies;
class History;
} // namespace Internal

// The window's dealings with the database file: what it last read or wrote
// (the common ancestor of a merge), whether the view holds the whole
// database, and what Save and Update write. When another program changed the
// file since the session last read or wrote it, a write merges three ways,
// line by line: the ancestor, the window's text and the file's text now (see
// merge.cpp). Every write is recorded in the history of the versions folder
// (see history.h), against which the sync tools' copies are merged.
class DatabaseSession
{
public:
    explicit DatabaseSession(const QString &programDirectory);

    // The database text for the view, read at start-up. A file that cannot
    // be read is never written over in this session (see writable).
    FileResult<QString> load();
    // Whether the session may write the file: failed, saying why, where it
    // could not be read at start-up.
    FileResult<void> writable() const;

    // Whether the view holds the whole database: true until the first
    // search replaces it by the lines that match.
    bool viewHoldsWholeDatabase() const;
    // Before a search replaces `view`: keeps the changes it holds that no
    // write has taken yet (records added, lines edited or removed by hand),
    // so that the searches show them and the next Save writes them.
    void keepViewChanges(const QString &view);
    // Whether the window holds changes that no write has taken yet, beyond
    // what the view shows.
    bool holdsUnsavedChanges() const;
    // The lines that hold `searchText`, of the file as it is now with the
    // window's unsaved changes merged in (as Save would merge them, nothing
    // written); of the file alone, read through `snapshot`, where there are
    // none. Another program's change of the file is taken in here: the
    // window's changes then descend from the file as it is now.
    FileResult<QString> filter(const QStringList &searchTexts, DatabaseSnapshot &snapshot);
    // The lines of the database as last written that hold one of
    // `searchTexts`.
    QString filterWritten(const QStringList &searchTexts);
    // A search replaced the view by `result`.
    void searchShown(const QString &result);
    // Whether `view` holds the whole database exactly as the session last
    // read or wrote it, so that it holds nothing of its own.
    bool holdsNothingOfItsOwn(const QString &view);
    // Whether Save has anything to write: always for the whole database, for
    // a searched view only a change since the search or unsaved changes.
    bool hasSomethingToSave(const QString &view) const;

    // Merges into `text`, the whole database as the session last read or
    // wrote it or the window changed it since, the sync tools' conflict
    // copies beside the database that the session has not merged yet. The
    // copies leave the folder after the next write of the session; save()
    // and update() call this themselves.
    QList<CopyReport> mergeConflictCopies(QString &text);

    // When `view` holds nothing of its own and another program changed the
    // file since the session last read or wrote it: the file's text now,
    // which the session then holds as read. Otherwise (also when the file
    // is gone or cannot be read) nothing.
    std::optional<QString> followFile(const QString &view);

    // Writes the whole database as the window holds it, merged with another
    // program's changes: the view's text, or for a searched view the
    // window's unsaved changes with the view's changes since the search.
    // `change`, where given, tells where the view's text differs from one it
    // showed before; where that is what the session last read or wrote, a
    // merge compares the two only there.
    FileResult<WrittenDatabase> save(const QString &view,
                                     const std::optional<ShownChange> &change = std::nullopt);
    // Replaces every occurrence of `before` by `after` in the whole database
    // as the window holds it (see save), and in the view, and writes it.
    // NotFound, with nothing written, when `before` is not there.
    FileResult<WrittenDatabase> update(const QString &view, const QString &before,
                                       const QString &after);

private:
    FileResult<WrittenDatabase> writeWhole(const QString &text,
                                           const std::optional<ShownChange> &change = std::nullopt);
    // The whole database as the window holds it, with the changes of a
    // searched `view` since the search taken in.
    FileResult<QString> wholeText(const QString &view);
    // Makes the file as it is now, when another program changed it, what
    // the window's changes descend from, merging them into it; whether it
    // did. Missing, with nothing changed, when there is no file.
    FileResult<bool> catchUp();
    // The read `read` as what the window's changes descend from: its stamp,
    // and with its database `text`, its digest and id, named in this
    // machine's log (as a restore where it is one); `id`, where the caller
    // has hashed it already, is the read's.
    void readAsBase(const FileResult<Internal::FileBytes> &read, const std::optional<QString> &text,
                    const QByteArray &id = QByteArray());
    // Names the file's content `bytes` in this machine's log where it was
    // put back (a restore), leaving the window's base as it is.
    void recordRestore(const QByteArray &bytes);
    // What the window's text descends from, for a write.
    Internal::WriteBase base();
    void remember(const QString &written, bool loadsAsIs, const ContentDigest &digest,
                  const QByteArray &id);
    // The history beside the database, as it is; Missing without a versions
    // folder.
    FileResult<Internal::History> openHistory() const;
    const QString &ancestor();

    QString m_programDirectory;
    FileResult<void> m_writable;
    bool m_viewHoldsWholeDatabase = true;
    // What the searched view showed when its changes were last taken in.
    QString m_searchResult;
    // While a search is shown: the whole database with the window's changes
    // that no write has taken yet, when there are any.
    std::optional<QString> m_unsaved;
    // That text, and its UTF-8 bytes, which the searches scan.
    std::pair<QString, QByteArray> m_unsavedEncoded;
    // What a search merged from another program's change into m_unsaved,
    // told with the next write.
    MergeReport m_mergedBySearch;
    // The file's stamp when the session last read or wrote it, so that a key
    // stroke need not read the file to know it unchanged.
    std::shared_ptr<const Internal::FileStamp> m_knownStamp;
    // The database text as a load of the file would give it, and the digest
    // and the history's id of the file's bytes, as the session last read or
    // wrote them; after a write, the text written until the ancestor is
    // needed, and whether a load gives it back as it is.
    QString m_ancestor;
    std::optional<QString> m_written;
    bool m_writtenLoadsAsIs = false;
    ContentDigest m_known;
    QByteArray m_knownId;
    // The program folder as found at start-up.
    std::shared_ptr<Internal::ProgramFolder> m_folder;
    // The conflict copies merged and not yet written.
    std::shared_ptr<Internal::PendingCopies> m_pendingCopies;
};

} // namespace RecordStore
