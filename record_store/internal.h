// SPDX-License-Identifier: GPL-3.0-or-later

// What the record store's sources share and the program does not see: the
// line iteration that every reader uses, the byte scans, the decoding, the
// read of the file's bytes and its stamp, and the merge. The tests and the
// fuzz targets use it too.
#pragma once

#include <new>
#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QCoreApplication>
#include <QString>
#include <QStringView>

#include "record_store/database_session.h"

namespace RecordStore {

// The reasons the store gives, which the window shows, go through Texts::tr,
// so that a translation can be added.
struct Texts
{
    Q_DECLARE_TR_FUNCTIONS(RecordStore)
};

namespace Internal {

inline constexpr QStringView kCrLf = u"\r\n";

// Which file a read found, and as of when: device, inode, size and the
// modification and change times in nanoseconds. Only the search's snapshot
// compares stamps (see DatabaseSnapshot and ContentDigest).
struct FileStamp
{
    qint64 device = -1;
    qint64 inode = -1;
    qint64 size = -1;
    qint64 modified = -1;
    qint64 changed = -1;
};

// The bytes of one read of the file, the file's stamp after the read, and
// whether the file stayed unchanged while it was read. (Where the system
// gives no such stamp, `unchanged` is always false.)
struct FileBytes
{
    QByteArray bytes;
    FileStamp stamp;
    bool unchanged = false;
};

// What a DatabaseSnapshot holds: the read, once taken.
struct SnapshotRead
{
    std::optional<FileResult<FileBytes>> read;
};

inline constexpr QByteArrayView kUtf8Mark = "\xEF\xBB\xBF";

inline bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

inline bool isLineEnd(QChar c)
{
    return isLineEndCharacter(c);
}

// Calls `onLine(start, length, endLength)` for every line of the `size`
// characters or bytes of `data`: where it starts, its length, and the length
// of its line end (0 for a last line without one). CR LF, a lone CR, a lone LF
// and, in a text, the other line end characters each end a line; a final line
// end starts no further line.
template <typename Char, typename OnLine>
void forEachLine(const Char *data, qsizetype size, OnLine onLine)
{
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && !isLineEnd(data[end]))
            ++end;
        const qsizetype endLength =
            end == size ? 0
                        : (end + 1 < size && data[end] == u'\r' && data[end + 1] == u'\n' ? 2 : 1);
        onLine(start, end - start, endLength);
        start = end + qMax<qsizetype>(endLength, 1);
    }
}

// The lines of a text as views, each without its line end.
template <typename OnLine> void forEachLine(QStringView text, OnLine onLine)
{
    forEachLine(text.data(), text.size(), [&](qsizetype start, qsizetype length, qsizetype) {
        onLine(text.sliced(start, length));
    });
}

// byte_scan.cpp: the scans over the file's bytes.

// The first position at or after `from` at which `needle` occurs in `bytes`,
// or -1.
qsizetype findBytes(QByteArrayView bytes, QByteArrayView needle, qsizetype from);
// Whether every byte is below 0x80.
bool isAscii(QByteArrayView bytes);
// True when every line of `bytes` is non-empty and ends in CR LF: the bytes
// start with neither CR nor LF, every CR, and only a CR, is followed by an LF,
// and no LF by a CR. The caller sees to the last bytes.
bool allLinesPlain(QByteArrayView bytes);

// The vector part of those scans: byte_scan_sse2.cpp, or
// byte_scan_portable.cpp, which leaves all of the work to the plain loops.
// Each does what it can from the start and says where the plain loop goes on.
namespace Vector {
// Screens the start positions from `from` on; returns the first it did not
// screen, or -1 after setting `hit` to the needle's first position. The needle
// is at least two bytes long.
qsizetype findBytes(QByteArrayView bytes, QByteArrayView needle, qsizetype from, qsizetype &hit);
// How many bytes from the start it found below 0x80, or -1 when it found one
// that is not.
qsizetype asciiPrefix(QByteArrayView bytes);
// How many bytes from the start it found to hold only plain CR LF pairs (the
// byte after the last of them is checked too), or -1 when one is not.
qsizetype plainLinesPrefix(QByteArrayView bytes);
} // namespace Vector

// decoding.cpp.

// Decodes the bytes of a database file. A file that starts with a UTF-16
// byte-order mark (either byte order) is UTF-16. Otherwise each line is decoded
// on its own: as UTF-8 when its bytes are valid UTF-8, else as Windows-1252,
// whose five undefined bytes become the control characters of the same value;
// a UTF-8 byte-order mark that starts a UTF-8 first line is dropped. Line ends
// are kept as they stand.
QString decodeDatabaseBytes(const QByteArray &bytes);

bool isAscii(QStringView text);
// Whether `text` holds a line end other than CR and LF.
bool holdsOtherLineEnds(QStringView text);
// UTF-8 bytes as text, every character kept, a first U+FEFF too.
QString utf8Text(QByteArrayView bytes);
// One line of a file that is not UTF-16, without its line end: UTF-8 when its
// bytes are valid UTF-8, else Windows-1252. The file's byte-order mark is not
// part of a UTF-8 first line.
void appendLine(QString &out, QByteArrayView line, bool firstLine);
bool hasUtf16ByteOrderMark(QByteArrayView bytes);
// The text of a file whose lines are all non-empty and end in CR LF, except
// that the last line may lack its line end and that one empty line may close
// the file (as WriteDatabaseFile leaves it), and that holds no other line end
// character. For such a file the load and the every-line search both give
// that text, with CR LF after an unended last line and without the closing
// empty line. Nothing when the file is not such a file, or starts with a
// byte-order mark.
std::optional<QString> plainDatabaseText(const QByteArray &bytes);

// The lines of a database text, as views into it, and the text of lines,
// each followed by CR LF.
using Lines = QList<QStringView>;
Lines linesOf(QStringView text);
QString textOf(const Lines &lines);

template <typename T> FileResult<T> failure(const QString &reason)
{
    return {FileStatus::Failed, reason, T{}};
}

// database_file.cpp.

// The digest of the bytes of a file, or of a read: no file, or the bytes read.
ContentDigest digestOf(const QByteArray &bytes);
ContentDigest digestOf(const FileResult<FileBytes> &read);

// The database text that a load of a file holding `bytes` gives.
QString databaseTextOf(const QByteArray &bytes);

bool sameStamp(const FileStamp &a, const FileStamp &b);

// Why a file of `size` bytes is not read.
QString tooLargeReason(qint64 size, qint64 limit);

// What `work` gives, or, when memory runs out on the way, a failure that says
// so: the program goes on, the file stays as it was.
template <typename T, typename Work> FileResult<T> unlessOutOfMemory(Work work)
{
    try {
        return work();
    } catch (const std::bad_alloc &) {
        return failure<T>(Texts::tr("There is not enough memory left to hold the database"));
    }
}

// The file's bytes; Missing when there is no file, Failed when the program
// directory names none or the file may not or cannot be read.
FileResult<FileBytes> readDatabaseBytes(const QString &programDirectory);

// merge.cpp: the three-way merge of lines (see DatabaseSession); nothing
// when libgit2 could not diff them.
// The merged lines are views into the three inputs.
struct MergedLines
{
    Lines lines;
    MergeReport report;
};
std::optional<MergedLines> mergeLines(const Lines &ancestor, const Lines &window,
                                      const Lines &file);
// The same on database texts, whose lines end in CR LF: what all three share
// at the start and the end is not split into lines at all.
struct MergedText
{
    QString text;
    MergeReport report;
};
std::optional<MergedText> mergeTexts(QStringView ancestor, QStringView window, QStringView file);
// The merge where no ancestor is known: every line of both kept, the lines
// one side lacks named.
MergedText mergeWithoutAncestor(QStringView window, QStringView other);

} // namespace Internal

} // namespace RecordStore
