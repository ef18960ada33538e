// SPDX-License-Identifier: GPL-3.0-or-later

// The record store: the record line, the database file, the search filter and
// the record pick, on QString texts and one file, stockbook.txt, in the folder
// the caller names (an empty or relative folder names no file). Nothing here
// throws or shows anything. The data flow and the sources: docs/architecture.md.
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
// file (which reads as an empty database); failed; for a write that expected
// the file to hold a certain content, not done because the file had changed;
// or, for an Update, not done because the record to replace is not there.
enum class FileStatus { Ok, Missing, Failed, Changed, NotFound };

// How an operation on the file ended, its reason and its value. One rule for
// every operation of the store: the value means something only when ok() or
// noFile(), and is left empty otherwise; why an operation did not succeed
// travels in `reason` alone (Internal::failure makes such a result).
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

// How an operation that gives no value ended, and why it did not succeed:
// FileResult without the value, under the same rule.
template <> struct [[nodiscard]] FileResult<void>
{
    FileStatus status = FileStatus::Ok;
    QString reason;

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
    // The same outcome with a value.
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

// The first field holding a line end (see isLineEndCharacter) or a field
// label; else, when box, item and count together exceed kPickableFieldsLength,
// the longest of them as TooLong; else nothing.
std::optional<FieldProblem> findFieldProblem(const RecordFields &fields);

// CR, LF, U+2028, U+2029, U+FDD0 and U+FDD1: each ends a line wherever the
// database is read, since the window's text view shows each as a line break.
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
// for a link that is not followed (another user's, in a folder that others may
// write to: reading and writing through it fail; see FileSystem::locate).
bool DatabaseFileExists(const QString &programDirectory);

// The file's lines in order, each without its line end. CR LF, a lone LF, a
// lone CR and each of the other line end characters end a line; a last line
// without a line end is delivered whole, and a file that ends in a line end
// delivers no further empty line.
FileResult<QStringList> ReadDatabaseLines(const QString &programDirectory);

// What the database file held when it was read or written: whether it
// existed, and its size and a hash of its bytes. Two digests differ when the
// content differs; a file that was only touched keeps its digest.
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

// Whether `shown`, a searched view of `whole`, ends in a line that the
// window left without its line end and `whole` holds with one, where the
// whole's lines go on after it. An Update then replaces the record in that
// line, as in the whole: see replacedInShown.
bool lastLineEndsInWhole(QStringView shown, QStringView whole);

// `shown` with every `before` replaced by `after`, both ending in a line end;
// where `lastLineEnds`, also in a last line left without its line end, which
// stays without it.
QString replacedInShown(const QString &shown, const QString &before, const QString &after,
                        bool lastLineEnds);

// Replaces the file by `text` followed by CR LF, in UTF-8, whole or not at
// all, and gives the digest of what it wrote. Nothing is written when
// `expected` is given and the file no longer holds that content (Changed), or
// when the content it replaces cannot be kept in the versions folder.
FileResult<ContentDigest> WriteDatabaseFile(const QString &programDirectory, const QString &text,
                                            const std::optional<ContentDigest> &expected = {});

// stockbook-versions beside the database: the history of its contents (see
// history.h). Each machine's newest kVersionsKept writes keep their versions.
QString DatabaseVersionsPath(const QString &programDirectory);
inline constexpr int kVersionsKept = 50;

// The file's lines that contain `searchText` (exact, case-sensitive), in file
// order, each followed by CR LF. Empty lines never match; the empty search text
// matches every other line. A missing file gives the empty text, as Missing.
FileResult<QString> FilterDatabaseLines(const QString &programDirectory, const QString &searchText);

// One read of the database file, for the searches of one key stroke: a
// further search through the same snapshot searches the same bytes again
// while the file's stamp is unchanged, and otherwise reads the file afresh.
class DatabaseSnapshot
{
public:
    DatabaseSnapshot();
    ~DatabaseSnapshot();
    DatabaseSnapshot(const DatabaseSnapshot &) = delete;
    DatabaseSnapshot &operator=(const DatabaseSnapshot &) = delete;

private:
    friend FileResult<QString> FilterDatabaseLines(const QString &, const QStringList &,
                                                   DatabaseSnapshot &);
    std::unique_ptr<Internal::SnapshotRead> m_read;
};

// FilterDatabaseLines through `snapshot` (see DatabaseSnapshot).
FileResult<QString> FilterDatabaseLines(const QString &programDirectory, const QString &searchText,
                                        DatabaseSnapshot &snapshot);

// The file's lines that contain any of `searchTexts`, in file order, each once,
// through `snapshot`: the upper-case retry's search for several forms of a
// text.
FileResult<QString> FilterDatabaseLines(const QString &programDirectory,
                                        const QStringList &searchTexts, DatabaseSnapshot &snapshot);

// How many characters `a` and `b` share at their start, and at their end,
// compared a block at a time: where two texts differ (the merge's and the
// view's shared lines). With Cores::Two, a caller whose other core is idle
// has a long text's far half compared there meanwhile; the merge, whose
// other core hashes the file, compares on one.
enum class Cores { One, Two };
qsizetype sharedStartLength(QStringView a, QStringView b, Cores cores = Cores::One);
qsizetype sharedEndLength(QStringView a, QStringView b, Cores cores = Cores::One);
// Where a text differs from the one it was made from: that one's
// [from, oldTo) became its [from, newTo), and what stands before and after
// is the same in both.
struct TextChange
{
    qsizetype from;
    qsizetype oldTo;
    qsizetype newTo;
};

// A window's text told by where it differs from a text the window showed
// before: `shown`'s [change.from, change.oldTo) became [from, newTo).
struct ShownChange
{
    QString shown;
    TextChange change;

    // The change, where `text` is the very text shown (the same characters
    // in memory, not an equal copy, which the change may not describe).
    std::optional<TextChange> changeFrom(const QString &text) const
    {
        return shown.constData() == text.constData() && shown.size() == text.size()
                   ? std::optional(change)
                   : std::nullopt;
    }
};

// The file names of the conflict copies that Syncthing, Nextcloud, ownCloud
// and Dropbox leave beside the database (the patterns in file_names.cpp; every
// entry but a folder, so that a copy that is no plain file is told of too),
// oldest first by the date and time their names hold (a day alone counts from
// its midnight), then by the number a tool adds, then by name.
QStringList ListConflictCopies(const QString &programDirectory);

// Keeps the memory that a Save's large texts free for the next ones, where
// the C library allows it, instead of giving it back to the system and
// asking again. For main(), before anything else.
void keepFreedMemoryForReuse();

} // namespace RecordStore
