#include "record_store/record_store.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringMatcher>

namespace RecordStore {

namespace {

constexpr QStringView kCrLf = u"\r\n";
constexpr QStringView kFieldLabels[] = {u"[Box]:", u"[Item]:", u"[Nr]:", u"[Type]:"};
constexpr QByteArrayView kUtf8Mark = "\xEF\xBB\xBF";

struct BytesResult : FileResult
{
    bool exists = false;
    QByteArray bytes;
    // Which file the bytes came from, and as of when; `unchanged` is false
    // when the file changed while it was being read.
    FileStamp stamp;
    bool unchanged = false;
};

FileStamp stampOf(const struct stat &status)
{
    FileStamp stamp;
    stamp.device = qint64(status.st_dev);
    stamp.inode = qint64(status.st_ino);
    stamp.size = qint64(status.st_size);
    stamp.modified = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    stamp.changed = qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
    return stamp;
}

bool sameStamp(const FileStamp &a, const FileStamp &b)
{
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified == b.modified && a.changed == b.changed;
}

// The stamp of the file the path names now; `ok` false when there is none.
bool currentStamp(const QString &path, FileStamp &stamp)
{
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    stamp = stampOf(status);
    return true;
}

// Why the database file may not be read or written at all, or an empty text.
// Only an absolute program directory names the file. In a folder that others
// than its owner may write to, a symbolic link is followed only when it
// belongs to this user or to root.
QString refusal(const QString &programDirectory)
{
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return QStringLiteral("Stockbook does not know the folder it was started from");
    struct stat link;
    struct stat folder;
    if (::lstat(QFile::encodeName(DatabaseFilePath(programDirectory)).constData(), &link) != 0 ||
        !S_ISLNK(link.st_mode) || link.st_uid == ::geteuid() || link.st_uid == 0)
        return QString();
    if (::stat(QFile::encodeName(programDirectory).constData(), &folder) != 0 ||
        (folder.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return QString();
    return QStringLiteral("stockbook.txt is a symbolic link that belongs to another user, in a "
                          "folder that others may write to, so Stockbook does not follow it");
}

BytesResult readDatabaseBytes(const QString &programDirectory)
{
    BytesResult result;
    result.error = refusal(programDirectory);
    if (!result.error.isEmpty()) {
        result.ok = false;
        return result;
    }
    if (!DatabaseFileExists(programDirectory))
        return result;
    result.exists = true;
    QFile file(DatabaseFilePath(programDirectory));
    if (!file.open(QIODevice::ReadOnly)) {
        result.ok = false;
        result.error = file.errorString();
        return result;
    }
    struct stat before;
    const bool stamped = ::fstat(file.handle(), &before) == 0;
    result.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.ok = false;
        result.error = file.errorString();
        result.bytes.clear();
        return result;
    }
    struct stat after;
    if (stamped && ::fstat(file.handle(), &after) == 0) {
        result.stamp = stampOf(after);
        result.unchanged =
            sameStamp(stampOf(before), result.stamp) && result.stamp.size == result.bytes.size();
    }
    return result;
}

ContentDigest digestOf(const QByteArray &bytes)
{
    return {true, bytes.size(), qHash(bytes, 0)};
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

bool isLineEnd(QChar c)
{
    return isLineEndCharacter(c);
}

// Whether `text` holds a line end other than CR and LF. (Three scans, each
// vectorised by the toolkit, are faster than one plain loop.)
bool holdsOtherLineEnds(QStringView text)
{
    return text.contains(QChar(0x2029)) || text.contains(QChar(0xFDD0)) ||
           text.contains(QChar(0xFDD1));
}

// Calls `onLine(begin, length)` for every line of `data`. CR LF, a lone CR, a
// lone LF and, in a text, the other line end characters each end a line; a
// final line end starts no further line.
template <typename Char, typename OnLine>
void forEachLine(const Char *data, qsizetype size, OnLine onLine)
{
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && !isLineEnd(data[end]))
            ++end;
        onLine(data + start, end - start);
        if (end + 1 < size && data[end] == u'\r' && data[end + 1] == u'\n')
            ++end;
        start = end + 1;
    }
}

// The first position at or after `from` at which `needle` occurs in the
// `size` bytes of `data`, or -1. Sixteen candidate positions at a time are
// screened by the needle's first and last byte; only those that pass both are
// compared whole.
qsizetype findBytes(const char *data, qsizetype size, QByteArrayView needle, qsizetype from)
{
    const qsizetype n = needle.size();
    if (n == 0 || from > size - n)
        return -1;
    if (n == 1) {
        const void *hit = std::memchr(data + from, needle.front(), size_t(size - from));
        return hit ? static_cast<const char *>(hit) - data : -1;
    }
    const qsizetype lastStart = size - n;
    qsizetype at = from;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(needle.front());
    const __m128i last = _mm_set1_epi8(needle.back());
    for (; at + 15 <= lastStart; at += 16) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at));
        const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at + n - 1));
        unsigned candidates = unsigned(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, last))));
        while (candidates) {
            const qsizetype hit = at + __builtin_ctz(candidates);
            if (std::memcmp(data + hit + 1, needle.data() + 1, size_t(n - 2)) == 0)
                return hit;
            candidates &= candidates - 1;
        }
    }
#endif
    for (; at <= lastStart; ++at) {
        if (data[at] == needle.front() &&
            std::memcmp(data + at + 1, needle.data() + 1, size_t(n - 1)) == 0)
            return at;
    }
    return -1;
}

bool isAscii(QByteArrayView bytes)
{
    const char *data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype at = 0;
#if defined(__SSE2__)
    __m128i any = _mm_setzero_si128();
    for (; at + 16 <= size; at += 16)
        any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at)));
    if (_mm_movemask_epi8(any) != 0)
        return false;
#endif
    for (; at < size; ++at) {
        if (uchar(data[at]) >= 0x80)
            return false;
    }
    return true;
}

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// True when every line of the `size` bytes of `data` is non-empty and ends in
// CR LF: the bytes start with neither CR nor LF, and every CR, and only a CR,
// is followed by an LF, and no LF by a CR. The caller sees to the last bytes.
bool allLinesPlain(const char *data, qsizetype size)
{
    if (size == 0)
        return true;
    if (data[0] == '\r' || data[0] == '\n')
        return false;
    qsizetype at = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    __m128i bad = _mm_setzero_si128();
    for (; at + 17 <= size; at += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + at + 1));
        const __m128i crHere = _mm_cmpeq_epi8(here, cr);
        const __m128i lfNext = _mm_cmpeq_epi8(next, lf);
        bad = _mm_or_si128(bad, _mm_xor_si128(crHere, lfNext));
        bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpeq_epi8(here, lf), _mm_cmpeq_epi8(next, cr)));
    }
    if (_mm_movemask_epi8(bad) != 0)
        return false;
#endif
    for (; at + 1 < size; ++at) {
        const bool crHere = data[at] == '\r';
        const bool lfNext = data[at + 1] == '\n';
        if (crHere != lfNext || (data[at] == '\n' && data[at + 1] == '\r'))
            return false;
    }
    return true;
}

// Windows-1252's characters for the bytes 0x80 to 0x9F. The five bytes the
// code page leaves undefined stand for the control characters of the same
// value; every other byte is the character of the same value.
constexpr char16_t kWindows1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendWindows1252(QString &out, QByteArrayView bytes)
{
    const qsizetype start = out.size();
    out.resize(start + bytes.size());
    QChar *to = out.data() + start;
    for (char byte : bytes) {
        const uchar b = uchar(byte);
        *to++ = QChar(b >= 0x80 && b < 0xA0 ? kWindows1252[b - 0x80] : char16_t(b));
    }
}

// UTF-8 bytes as text, every character kept. QString::fromUtf8 drops a
// U+FEFF that comes first; here it belongs to a line (a second byte-order mark,
// or the first matching line of a search), so it stays.
QString utf8Text(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

bool hasUtf16ByteOrderMark(QByteArrayView bytes)
{
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

// UTF-16 in the byte order its byte-order mark names, the mark dropped; an odd
// last byte is read as Windows-1252.
QString utf16Text(QByteArrayView bytes)
{
    const bool bigEndian = bytes.front() == '\xFE';
    QString text;
    text.reserve(bytes.size() / 2);
    qsizetype at = 2;
    for (; at + 1 < bytes.size(); at += 2) {
        const char16_t a = uchar(bytes[at]);
        const char16_t b = uchar(bytes[at + 1]);
        text.append(QChar(bigEndian ? char16_t(a << 8 | b) : char16_t(b << 8 | a)));
    }
    appendWindows1252(text, bytes.sliced(at));
    return text;
}

// One line of a file that is not UTF-16, without its line end: UTF-8 when its
// bytes are valid UTF-8, else Windows-1252. The file's byte-order mark is not
// part of a UTF-8 first line.
void appendLine(QString &out, QByteArrayView line, bool firstLine)
{
    if (isAscii(line)) {
        out.append(QLatin1String(line.data(), line.size()));
    } else if (line.isValidUtf8()) {
        if (firstLine && line.startsWith(kUtf8Mark))
            line = line.sliced(kUtf8Mark.size());
        out.append(utf8Text(line));
    } else {
        appendWindows1252(out, line);
    }
}

QString decodeDatabaseBytesView(QByteArrayView bytes)
{
    if (hasUtf16ByteOrderMark(bytes))
        return utf16Text(bytes);
    // Valid UTF-8 as a whole is valid UTF-8 line by line, and the other way
    // round: line ends are single bytes that no other character contains.
    if (bytes.isValidUtf8())
        return utf8Text(bytes.startsWith(kUtf8Mark) ? bytes.sliced(kUtf8Mark.size()) : bytes);
    QString text;
    text.reserve(bytes.size());
    const char *data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && !isLineEnd(data[end]))
            ++end;
        appendLine(text, QByteArrayView(data + start, end - start), start == 0);
        // The line ends that follow, as they stand.
        qsizetype next = end;
        while (next < size && isLineEnd(data[next]))
            ++next;
        text.append(QLatin1String(data + end, next - end));
        start = next;
    }
    return text;
}

// The text of a file whose lines are all non-empty and end in CR LF, except
// that the last line may lack its line end and that one empty line may close
// the file (as WriteDatabaseFile leaves it), and that holds no other line end
// character. For such a file the load and the every-line search both give
// that text, with CR LF after an unended last line and without the closing
// empty line. Empty when the file is not such a file, or starts with a
// byte-order mark; `plain` then is false.
QString plainDatabaseText(const QByteArray &bytes, bool &plain)
{
    plain = false;
    const qsizetype size = bytes.size();
    const char *data = bytes.constData();
    if (bytes.startsWith(kUtf8Mark) || hasUtf16ByteOrderMark(bytes))
        return QString();
    qsizetype length = size;
    bool endLastLine = false;
    if (bytes.endsWith("\r\n\r\n"))
        length = size - 2;
    else if (size > 0 && data[size - 1] != '\r' && data[size - 1] != '\n')
        endLastLine = true;
    else if (size > 0 && !bytes.endsWith("\r\n"))
        return QString();
    if (!allLinesPlain(data, length))
        return QString();
    QString text = decodeDatabaseBytesView(QByteArrayView(data, length));
    if (holdsOtherLineEnds(text))
        return QString();
    plain = true;
    if (endLastLine)
        text.append(kCrLf);
    return text;
}

// Calls `onLine(start, length)` for every line of `data` that holds a match,
// once and in order. `findFrom(pos)` gives the next match at or after `pos`,
// or -1; `matchLength` is the length of what it matches (at least 1).
template <typename Char, typename Find, typename OnLine>
void forEachMatchingLine(const Char *data, qsizetype size, qsizetype matchLength, Find findFrom,
                         OnLine onLine)
{
    qsizetype from = 0;
    while (from < size) {
        const qsizetype hit = findFrom(from);
        if (hit < 0)
            break;
        qsizetype lineStart = hit;
        while (lineStart > from && !isLineEnd(data[lineStart - 1]))
            --lineStart;
        qsizetype lineEnd = hit + matchLength;
        while (lineEnd < size && !isLineEnd(data[lineEnd]))
            ++lineEnd;
        onLine(lineStart, lineEnd - lineStart);
        from = lineEnd;
    }
}

QString filterText(QStringView text, const QString &searchText)
{
    QString out;
    if (searchText.isEmpty()) {
        out.reserve(text.size() + text.size() / 8 + 2);
        forEachLine(text.data(), text.size(), [&out](const QChar *line, qsizetype length) {
            if (length > 0) {
                out.append(line, length);
                out.append(kCrLf);
            }
        });
        return out;
    }
    const QStringMatcher matcher(searchText, Qt::CaseSensitive);
    forEachMatchingLine(
        text.data(), text.size(), searchText.size(),
        [&](qsizetype from) { return matcher.indexIn(text, from); },
        [&](qsizetype start, qsizetype length) {
            out.append(text.sliced(start, length));
            out.append(kCrLf);
        });
    return out;
}

// The lines of the file's `bytes` that hold `searchText`, each followed by CR
// LF, found by searching the bytes for `needle`. The needle must occur in the
// bytes of exactly the lines whose text holds the search text, but for lines
// that the decoding changes (a byte-order mark, other line end characters):
// those lines are decoded and searched again.
QString matchingLines(QByteArrayView bytes, QByteArrayView needle, const QString &searchText)
{
    QString out;
    const char *data = bytes.data();
    const qsizetype size = bytes.size();
    forEachMatchingLine(
        data, size, needle.size(),
        [&](qsizetype from) { return findBytes(data, size, needle, from); },
        [&](qsizetype start, qsizetype length) {
            const QByteArrayView line(data + start, length);
            if (isAscii(line)) {
                out.append(QLatin1String(line.data(), line.size()));
                out.append(kCrLf);
                return;
            }
            QString decoded;
            appendLine(decoded, line, start == 0);
            out.append(filterText(decoded, searchText));
        });
    return out;
}

// Same result as decoding the whole file and calling filterText, but searches
// the bytes and decodes only the lines that match, where the encoding allows.
QString filterBytes(const QByteArray &bytes, const QString &searchText)
{
    // No line holds a line end, so such a search text matches nothing.
    for (QChar c : searchText) {
        if (isLineEnd(c))
            return QString();
    }
    if (hasUtf16ByteOrderMark(bytes))
        return filterText(decodeDatabaseBytesView(bytes), searchText);
    if (searchText.isEmpty()) {
        bool plain = false;
        QString text = plainDatabaseText(bytes, plain);
        return plain ? text : filterText(decodeDatabaseBytesView(bytes), searchText);
    }
    // An ASCII text is the same bytes in either encoding a line may have, and
    // no other character's bytes hold an ASCII byte, so it matches the same
    // lines whatever their encoding turns out to be.
    if (isAscii(searchText))
        return matchingLines(bytes, searchText.toLatin1(), searchText);
    // In a file of UTF-8 lines, the UTF-8 bytes of a well-formed search text
    // occur in exactly the lines that hold it.
    if (searchText.isValidUtf16() && QByteArrayView(bytes).isValidUtf8())
        return matchingLines(bytes, searchText.toUtf8(), searchText);
    return filterText(decodeDatabaseBytesView(bytes), searchText);
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

// Flushes the directory entry of a renamed file, so that the rename survives
// a power cut. Best effort: the data itself was already flushed.
void syncDirectoryOf(const QString &filePath)
{
    const QByteArray directory = QFile::encodeName(QFileInfo(filePath).absolutePath());
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The characters of `text` from 1-based position `position`, at most `count`
// of them; the caller has checked position >= 1 and count >= 0.
QString substring(QStringView text, qsizetype position, qsizetype count)
{
    if (position > text.size())
        return QString();
    return text.mid(position - 1, qMin(count, text.size() - position + 1)).toString();
}

// 1-based position of `needle` in `text` at or after 1-based `from`, 0 if none.
qsizetype find(QStringView text, QStringView needle, qsizetype from)
{
    if (from > text.size())
        return 0;
    return text.indexOf(needle, from - 1) + 1;
}

constexpr qsizetype kInt16Max = 32767;

} // namespace

bool isLineEndCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\r' || u == u'\n' || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1;
}

bool operator==(const ContentDigest &a, const ContentDigest &b)
{
    return a.exists == b.exists && a.size == b.size && a.hash == b.hash;
}

bool operator!=(const ContentDigest &a, const ContentDigest &b)
{
    return !(a == b);
}

QString ComposeRecordLine(const QString &box, const QString &item, const QString &count,
                          const QString &type)
{
    return QStringLiteral("[Box]: ") + box + QStringLiteral(" [Item]: ") + item +
           QStringLiteral(" [Nr]: ") + count + QStringLiteral(" [Type]: ") + type +
           QStringLiteral("\r\n");
}

FieldProblem findFieldProblem(const QString &box, const QString &item, const QString &count,
                              const QString &type)
{
    const QString *fields[] = {&box, &item, &count, &type};
    for (int field = 0; field < 4; ++field) {
        const QString &text = *fields[field];
        if (std::any_of(text.cbegin(), text.cend(), isLineEndCharacter))
            return {field, FieldProblem::LineBreak, QStringLiteral("a line break")};
        for (QStringView label : kFieldLabels) {
            if (text.contains(label))
                return {field, FieldProblem::FieldLabel,
                        QStringLiteral("the field label \"%1\"").arg(label)};
        }
    }
    if (box.size() + item.size() + count.size() > kPickableFieldsLength) {
        int longest = kBoxField;
        for (int field : {kItemField, kCountField}) {
            if (fields[field]->size() > fields[longest]->size())
                longest = field;
        }
        return {longest, FieldProblem::TooLong,
                QStringLiteral("%1 characters").arg(fields[longest]->size())};
    }
    return {};
}

QString DatabaseFilePath(const QString &programDirectory)
{
    return programDirectory + QStringLiteral("/stockbook.txt");
}

bool DatabaseFileExists(const QString &programDirectory)
{
    return !programDirectory.isEmpty() && QFileInfo(DatabaseFilePath(programDirectory)).isFile();
}

QString decodeDatabaseBytes(const QByteArray &bytes)
{
    return decodeDatabaseBytesView(bytes);
}

LinesResult ReadDatabaseLines(const QString &programDirectory)
{
    const BytesResult file = readDatabaseBytes(programDirectory);
    LinesResult result;
    result.ok = file.ok;
    result.error = file.error;
    const QString text = decodeDatabaseBytes(file.bytes);
    forEachLine(text.constData(), text.size(), [&result](const QChar *line, qsizetype length) {
        result.lines.append(QString(line, length));
    });
    return result;
}

LoadResult LoadDatabaseFile(const QString &programDirectory)
{
    const BytesResult bytes = readDatabaseBytes(programDirectory);
    LoadResult file;
    file.ok = bytes.ok;
    file.error = bytes.error;
    if (!file.ok)
        return file;
    if (bytes.exists)
        file.digest = digestOf(bytes.bytes);
    // A file as the program writes it loads as its text, without the
    // closing empty line: one decoding, no copy line by line.
    bool plain = false;
    file.text = plainDatabaseText(bytes.bytes, plain);
    if (plain)
        return file;
    const QString text = decodeDatabaseBytes(bytes.bytes);
    QString lines;
    lines.reserve(text.size() + text.size() / 16 + 2);
    forEachLine(text.constData(), text.size(), [&lines](const QChar *line, qsizetype length) {
        lines.append(line, length);
        lines.append(kCrLf);
    });
    file.text = CollapseBlankLines(lines);
    return file;
}

DigestResult ReadDatabaseDigest(const QString &programDirectory)
{
    const BytesResult bytes = readDatabaseBytes(programDirectory);
    DigestResult result;
    result.ok = bytes.ok;
    result.error = bytes.error;
    if (bytes.ok && bytes.exists)
        result.digest = digestOf(bytes.bytes);
    return result;
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

DigestResult WriteDatabaseFile(const QString &programDirectory, const QString &text)
{
    DigestResult result;
    result.error = refusal(programDirectory);
    if (!result.error.isEmpty()) {
        result.ok = false;
        return result;
    }
    const QByteArray bytes = (text + QStringLiteral("\r\n")).toUtf8();
    // QSaveFile writes a temporary file beside the target and renames it over
    // the target on commit; a symbolic link is followed and its target
    // replaced, and the permissions of an existing file are kept.
    QSaveFile file(DatabaseFilePath(programDirectory));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || !writeWhole(file, bytes) ||
        !file.flush()) {
        result.ok = false;
        result.error = file.error() != QFileDevice::NoError
                           ? file.errorString()
                           : QStringLiteral("Only part of the database could be written");
        file.cancelWriting();
        return result;
    }
    if (!file.commit()) {
        result.ok = false;
        result.error = file.errorString();
        return result;
    }
    syncDirectoryOf(DatabaseFilePath(programDirectory));
    result.digest = digestOf(bytes);
    return result;
}

TextResult FilterDatabaseLines(const QString &programDirectory, const QString &searchText)
{
    DatabaseSnapshot snapshot;
    return FilterDatabaseLines(programDirectory, searchText, snapshot);
}

TextResult FilterDatabaseLines(const QString &programDirectory, const QString &searchText,
                               DatabaseSnapshot &snapshot)
{
    // The bytes of an earlier read are searched again only while the path
    // still names the very file they were read from, unchanged since.
    FileStamp now;
    const bool reuse = snapshot.taken && snapshot.unchanged &&
                       currentStamp(DatabaseFilePath(programDirectory), now) &&
                       sameStamp(now, snapshot.stamp);
    if (!reuse) {
        BytesResult file = readDatabaseBytes(programDirectory);
        snapshot.taken = true;
        snapshot.ok = file.ok;
        snapshot.error = file.error;
        snapshot.bytes = std::move(file.bytes);
        snapshot.stamp = file.stamp;
        snapshot.unchanged = file.ok && file.unchanged;
    }
    TextResult result;
    result.ok = snapshot.ok;
    result.error = snapshot.error;
    if (result.ok)
        result.text = filterBytes(snapshot.bytes, searchText);
    return result;
}

QStringList PickRecordFields(QStringView databaseText, qsizetype caretOffset)
{
    QStringList fields;
    const qsizetype c = caretOffset;
    if (c < 0 || c > databaseText.size())
        return fields;
    // The caret's line: from the character after the CR LF that ends the line
    // before it, up to the CR LF found from the character before the caret.
    const qsizetype e = find(databaseText, kCrLf, qMax<qsizetype>(c, 1));
    const qsizetype lineEndBefore = c >= 2 ? databaseText.lastIndexOf(kCrLf, c - 2) : -1;
    const qsizetype w = lineEndBefore >= 0 ? lineEndBefore + 3 : 1;
    const qsizetype b = find(databaseText, u"[Box]:", w);
    if (e == 0 || b == 0 || b > e)
        return fields;
    const QStringView rec = databaseText.mid(b - 1, e - b);

    // Positions inside the record are 1-based; the item and type label
    // positions, and the sums formed from them, must fit in 16 bits.
    const qsizetype i = find(rec, u" [Item]:", 1);
    if (i > kInt16Max || i - 8 < 0)
        return fields;
    fields << substring(rec, 8, i - 8);

    const qsizetype n = find(rec, u"[Nr]:", i);
    if (i + 10 > kInt16Max || n - (i + 10) < 0)
        return fields;
    fields << substring(rec, i + 9, n - (i + 10));

    const qsizetype t = find(rec, u"[Type]:", n);
    if (t > kInt16Max || t - (n + 7) < 0)
        return fields;
    fields << substring(rec, n + 6, t - (n + 7));

    const qsizetype length = rec.size();
    if (t + 8 > kInt16Max || length - (t + 7) < 0)
        return fields;
    fields << substring(rec, t + 8, length - (t + 7));
    return fields;
}

} // namespace RecordStore
