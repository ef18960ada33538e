// SPDX-License-Identifier: GPL-3.0-or-later

// The record store: the record line, the database file, the search filter and
// the record pick.
//
// How data flows: the window owns the database text (the text of its view).
// At start-up a DatabaseSession loads the file into that text; Add and Update
// build record lines with ComposeRecordLine; Save and Update hand the text back
// to the session, which writes it, merged with what other programs changed.
// The search filter rereads the file on every change of the search text and
// returns the matching lines as a new database text. A click in the view hands
// the text and the caret offset to PickRecordFields, which takes the record
// line under the caret apart into its four fields.
//
// Everything here works on QString texts and on one file, stockbook.txt, in the
// directory that the caller names; an empty or relative directory names no
// file, and reading and writing then fail.
//
// How results are given: an operation on the file gives a FileResult, which
// says how it ended (done; done, but there is no file; failed, with the
// system's reason; or, for a write, not done because the file changed) and
// carries its value. A value that may be absent is a std::optional. Nothing
// here throws (running out of memory included) or shows anything.
//
// The sources, one concern each: record_line.cpp (the record line, the field
// check and the pick), decoding.cpp (the file's bytes as text),
// byte_scan_*.cpp (the byte scans), database_file.cpp with file_system_*.cpp
// (reading and writing the file), versions.cpp (the versions folder),
// database_session.cpp and merge.cpp (the window's session and its merge),
// search_filter.cpp (the search) and conflict_copies.cpp (the sync tools'
// copies of the file). The window's session, which reads and writes the file
// for it, is declared in database_session.h; what the sources share and the
// program does not see, in internal.h.
#pragma once

#include <memory>
#include <optional>
#include <utility>

#include <QString>
#include <QStringList>
#include <QStringView>

namespace RecordStore {

namespace Internal {
struct SnapshotRead;
} // namespace Internal

// How an operation on the database file ended: done; done, but there is no
// file (which reads as an empty database); failed; or, for a write that
// expected the file to hold a certain content, not done because the file
// had changed.
enum class FileStatus { Ok, Missing, Failed, Changed };

// What an operation on the database file gives: how it ended, the system's
// reason when it failed ("Permission denied", "No space left on device", ...),
// and its value (empty when it failed or found no file). A caller says which
// endings it accepts: ok() only a file that was there, okOrNoFile() also none.
template <typename T> struct [[nodiscard]] FileResult
{
    FileStatus status = FileStatus::Ok;
    QString reason;
    T value{};

    bool ok() const
    {
        return status == FileStatus::Ok;
    }
    bool noFile() const
    {
        return status == FileStatus::Missing;
    }
    bool okOrNoFile() const
    {
        return ok() || noFile();
    }
    // The same outcome with another value.
    template <typename U> FileResult<U> with(U other) const
    {
        return {status, reason, std::move(other)};
    }
};

// The four fields of a record: the box, the item (the component's name), the
// count and the type.
struct RecordFields
{
    QString box;
    QString item;
    QString count;
    QString type;
};
enum class Field { Box, Item, Count, Type };
inline bool operator==(const RecordFields &a, const RecordFields &b)
{
    return a.box == b.box && a.item == b.item && a.count == b.count && a.type == b.type;
}

// "[Box]: " box " [Item]: " item " [Nr]: " count " [Type]: " type CR LF.
// The four texts go in unchanged; nothing is checked or escaped.
QString ComposeRecordLine(const QString &box, const QString &item, const QString &count,
                          const QString &type);

// The pick holds the positions of the item and type labels, and the sums formed
// from them, in 16 bits; the box, item and count texts together may therefore
// hold at most this many characters, or the record line cannot be picked.
inline constexpr qsizetype kPickableFieldsLength = 32734;

// Which field would break a record line, and why.
struct FieldProblem
{
    enum Kind { LineBreak, FieldLabel, TooLong };
    Field field = Field::Box;
    Kind kind = LineBreak;
    // What the field holds: "a line break" or the field label "[Nr]:", say.
    QString reason;
};

// The first field whose text holds a line end (CR, LF, or another character
// that ends a line, see isLineEndCharacter) or one of the four field labels,
// any of which would make the composed line unreadable by PickRecordFields;
// else, when box, item and count together are longer than
// kPickableFieldsLength, the longest of them, as TooLong; else nothing.
std::optional<FieldProblem> findFieldProblem(const RecordFields &fields);

// Besides CR and LF, U+2028 (line separator), U+2029 (paragraph separator) and
// the noncharacters U+FDD0 and U+FDD1 end a line wherever the database is
// read: the window's text view shows each of them as a line break, so a line
// holding one could never be shown, searched and picked as one line.
bool isLineEndCharacter(QChar c);

// What a pick took from the record line under the caret: the fields in the
// order box, item, count, type, as far as it got (`completed` of them; the
// others are empty).
struct PickedRecord
{
    RecordFields fields;
    int completed = 0;

    bool isComplete() const
    {
        return completed == 4;
    }
};
inline bool operator==(const PickedRecord &a, const PickedRecord &b)
{
    return a.completed == b.completed && a.fields == b.fields;
}

// Takes the record line under the caret apart. `caretOffset` counts the
// characters of `databaseText` before the caret, CR and LF one each. All four
// fields when the pick completed, fewer when it failed part way (the window
// writes those it got), none when the caret's line holds no readable record.
PickedRecord PickRecordFields(QStringView databaseText, qsizetype caretOffset);

// programDirectory + "/" + "stockbook.txt", joined as plain text.
QString DatabaseFilePath(const QString &programDirectory);

// The largest database file that is read, 256 MiB (about 4.5 million records
// of 60 bytes): reading a larger one fails, saying its size, and nothing is
// written over it.
inline constexpr qint64 kLargestDatabaseFile = qint64(256) << 20;

// True for a regular file, or a symbolic link to one, at DatabaseFilePath, and
// for a link that is not followed. Which links are followed: in a program
// folder that others than its owner may write to, a stockbook.txt that is a
// symbolic link is followed only when the link belongs to the user running
// Stockbook or to root (the rule the kernel applies in sticky folders), since
// another user could otherwise point it at a file of this user's; reading and
// writing through any other such link fail, saying why. Every operation finds
// the file once and then uses it through its open folder, so that a link
// swapped in meanwhile is not followed either. (Where the system cannot tell
// who owns a link, no link in such a folder is followed, and a swap in between
// is not noticed.)
bool DatabaseFileExists(const QString &programDirectory);

// The file's lines in order, each without its line end. CR LF, a lone LF, a
// lone CR and each of the other line end characters end a line; a last line
// without a line end is delivered whole, and a file that ends in a line end
// delivers no further empty line.
FileResult<QStringList> ReadDatabaseLines(const QString &programDirectory);

// What the database file held when it was read or written: whether it
// existed, and its size and a hash of its bytes. Two digests differ when the
// content differs; a file that was only touched keeps its digest. This is how
// the session and the write tell another program's change. (The search's
// snapshot tells a changed file by its stamp instead, see DatabaseSnapshot:
// it must know without reading the file, where a digest needs the bytes.)
struct ContentDigest
{
    bool exists = false;
    qint64 size = 0;
    size_t hash = 0;
};
bool operator==(const ContentDigest &a, const ContentDigest &b);
bool operator!=(const ContentDigest &a, const ContentDigest &b);

// The database text for the view and the digest of the bytes it came from.
struct DatabaseText
{
    QString text;
    ContentDigest digest;
};

// The database text for the view: every line of the file followed by CR LF,
// then CollapseBlankLines. A missing file gives the empty text, as Missing.
FileResult<DatabaseText> LoadDatabaseFile(const QString &programDirectory);

// One left-to-right pass that replaces each CR LF CR LF by CR LF, resuming
// behind the four replaced characters.
QString CollapseBlankLines(const QString &text);

// Replaces the file by `text` followed by CR LF, in UTF-8, and gives the
// digest of what it wrote. The new content is written beside the old file,
// flushed to disk and renamed over it, so on any failure the old file stays
// exactly as it was. Just before the rename the file is read once more: when
// `expected` is given and the file no longer holds that content, nothing is
// written (Changed); else what it holds is kept in the versions folder first,
// and when it cannot be kept, nothing is written.
FileResult<ContentDigest> WriteDatabaseFile(const QString &programDirectory, const QString &text,
                                            const std::optional<ContentDigest> &expected = {});

// The folder beside the database that keeps the contents the writes
// replaced: stockbook-versions, holding stockbook-YYYYMMDD-HHMMSS.txt (local
// time; -2, -3, ... for further versions of one second), the newest
// kVersionsKept of them. A content equal to the newest version is not kept
// again.
QString DatabaseVersionsPath(const QString &programDirectory);
inline constexpr int kVersionsKept = 50;

// The file's lines that contain `searchText` (exact, case-sensitive), in file
// order, each followed by CR LF. Empty lines never match; the empty search text
// matches every other line. A missing file gives the empty text, as Missing.
FileResult<QString> FilterDatabaseLines(const QString &programDirectory, const QString &searchText);

// One read of the database file, for the searches of one key stroke. The
// first search through a snapshot reads the file into it; a further search
// through the same snapshot searches those bytes again instead of rereading
// the file, as long as the path still names the same file, unchanged in
// size, modification and change time, and the file did not change while it
// was read. Otherwise it reads the file afresh.
class DatabaseSnapshot
{
public:
    DatabaseSnapshot();
    ~DatabaseSnapshot();
    DatabaseSnapshot(const DatabaseSnapshot &) = delete;
    DatabaseSnapshot &operator=(const DatabaseSnapshot &) = delete;

private:
    friend FileResult<QString> FilterDatabaseLines(const QString &, const QString &,
                                                   DatabaseSnapshot &);
    std::unique_ptr<Internal::SnapshotRead> m_read;
};

// FilterDatabaseLines through `snapshot` (see DatabaseSnapshot).
FileResult<QString> FilterDatabaseLines(const QString &programDirectory, const QString &searchText,
                                        DatabaseSnapshot &snapshot);

// The sync tools' copies of the database file beside it, which hold another
// machine's version after both changed the file at once: Syncthing's
// "stockbook.sync-conflict-YYYYMMDD-HHMMSS-XXXXXXX.txt", Nextcloud's and
// ownCloud's "stockbook (conflicted copy [USER ]YYYY-MM-DD HHMMSS).txt",
// older ownCloud's "stockbook_conflict[-USER]-YYYYMMDD-HHMMSS.txt" and
// Dropbox's "stockbook (NAME's conflicted copy YYYY-MM-DD).txt", each also
// with a number in parentheses where the tool adds one. Gives their file
// names, oldest first by the date and time their names hold (a day alone
// counts from its midnight), then by that number, then by name. Other names,
// the database file itself and temporary files never match.
QStringList ListConflictCopies(const QString &programDirectory);

// Moves the conflict copy `copyName` into DatabaseVersionsPath, creating the
// folder when it is missing, and gives its new path. A name already taken
// there gets "-2", "-3", ... before ".txt"; nothing is replaced or deleted.
// A name that is no such copy is refused. On failure the copy stays where it
// was.
FileResult<QString> MoveConflictCopy(const QString &programDirectory, const QString &copyName);

} // namespace RecordStore
