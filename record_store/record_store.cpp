#include "record_store/record_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <QByteArrayMatcher>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringMatcher>

namespace RecordStore {

namespace {

constexpr QStringView kCrLf = u"\r\n";
constexpr QStringView kFieldLabels[] = {u"[Box]:", u"[Item]:", u"[Nr]:", u"[Type]:"};

struct BytesResult : FileResult
{
    QByteArray bytes;
};

BytesResult readDatabaseBytes(const QString &programDirectory)
{
    BytesResult result;
    if (!DatabaseFileExists(programDirectory))
        return result;
    QFile file(DatabaseFilePath(programDirectory));
    if (!file.open(QIODevice::ReadOnly)) {
        result.ok = false;
        result.error = file.errorString();
        return result;
    }
    result.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.ok = false;
        result.error = file.errorString();
        result.bytes.clear();
    }
    return result;
}

TextResult readDatabaseText(const QString &programDirectory)
{
    BytesResult bytes = readDatabaseBytes(programDirectory);
    TextResult result;
    result.ok = bytes.ok;
    result.error = bytes.error;
    if (bytes.ok)
        result.text = decodeDatabaseBytes(bytes.bytes);
    return result;
}

// The code of a character of either text kind the scans below work on.
char16_t code(QChar c)
{
    return c.unicode();
}
char16_t code(char c)
{
    return uchar(c);
}

template <typename Char> bool isLineEnd(Char c)
{
    return code(c) == u'\r' || code(c) == u'\n';
}

// Calls `onLine(begin, length)` for every line of `data`. CR LF, a lone CR and
// a lone LF each end a line; a final line end starts no further line.
template <typename Char, typename OnLine>
void forEachLine(const Char *data, qsizetype size, OnLine onLine)
{
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && !isLineEnd(data[end]))
            ++end;
        onLine(data + start, end - start);
        if (end + 1 < size && code(data[end]) == u'\r' && code(data[end + 1]) == u'\n')
            ++end;
        start = end + 1;
    }
}

// Appends every line of `data` that holds a match, each once and in order,
// followed by CR LF. `findFrom(pos)` gives the next match at or after `pos`,
// or -1; `matchLength` is the length of what it matches (at least 1).
template <typename Char, typename Out, typename Find>
void appendMatchingLines(const Char *data, qsizetype size, qsizetype matchLength, Find findFrom,
                         Out &out)
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
        out.append(data + lineStart, lineEnd - lineStart);
        out.append("\r\n");
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
    appendMatchingLines(
        text.data(), text.size(), searchText.size(),
        [&](qsizetype from) { return matcher.indexIn(text, from); }, out);
    return out;
}

// Same result as decoding the whole file and calling filterText, but searches
// the UTF-8 bytes and decodes only the lines that match.
QString filterUtf8(QByteArrayView bytes, const QString &searchText)
{
    const QByteArray needle = searchText.toUtf8();
    const QByteArrayMatcher matcher(needle);
    QByteArray out;
    appendMatchingLines(
        bytes.data(), bytes.size(), needle.size(),
        [&](qsizetype from) { return matcher.indexIn(bytes, from); }, out);
    return QString::fromUtf8(out);
}

bool hasUtf8ByteOrderMark(const QByteArray &bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF");
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
        if (text.contains(u'\r') || text.contains(u'\n'))
            return {field, QStringLiteral("a line break")};
        for (QStringView label : kFieldLabels) {
            if (text.contains(label))
                return {field, QStringLiteral("the field label \"%1\"").arg(label)};
        }
    }
    return {};
}

QString DatabaseFilePath(const QString &programDirectory)
{
    return programDirectory + QStringLiteral("/stockbook.txt");
}

bool DatabaseFileExists(const QString &programDirectory)
{
    return QFileInfo(DatabaseFilePath(programDirectory)).isFile();
}

QString decodeDatabaseBytes(const QByteArray &bytes)
{
    if (QByteArrayView(bytes).isValidUtf8()) {
        const qsizetype start = hasUtf8ByteOrderMark(bytes) ? 3 : 0;
        return QString::fromUtf8(bytes.constData() + start, bytes.size() - start);
    }
    // Windows-1252 maps every byte to one character; ICU reads the five bytes
    // that the code page leaves undefined as the C1 controls of the same value.
    QStringDecoder decoder("windows-1252");
    return decoder.decode(bytes);
}

LinesResult ReadDatabaseLines(const QString &programDirectory)
{
    const TextResult file = readDatabaseText(programDirectory);
    LinesResult result;
    result.ok = file.ok;
    result.error = file.error;
    forEachLine(file.text.constData(), file.text.size(),
                [&result](const QChar *line, qsizetype length) {
                    result.lines.append(QString(line, length));
                });
    return result;
}

TextResult LoadDatabaseFile(const QString &programDirectory)
{
    TextResult file = readDatabaseText(programDirectory);
    if (!file.ok)
        return file;
    QString lines;
    lines.reserve(file.text.size() + file.text.size() / 16 + 2);
    forEachLine(file.text.constData(), file.text.size(),
                [&lines](const QChar *line, qsizetype length) {
                    lines.append(line, length);
                    lines.append(kCrLf);
                });
    file.text = CollapseBlankLines(lines);
    return file;
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

FileResult WriteDatabaseFile(const QString &programDirectory, const QString &text)
{
    const QByteArray bytes = (text + QStringLiteral("\r\n")).toUtf8();
    // QSaveFile writes a temporary file beside the target and renames it over
    // the target on commit; a symbolic link is followed and its target
    // replaced, and the permissions of an existing file are kept.
    QSaveFile file(DatabaseFilePath(programDirectory));
    FileResult result;
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
    return result;
}

TextResult FilterDatabaseLines(const QString &programDirectory, const QString &searchText)
{
    BytesResult file = readDatabaseBytes(programDirectory);
    TextResult result;
    result.ok = file.ok;
    result.error = file.error;
    if (!file.ok)
        return result;
    // No line holds a line end, so such a search text matches nothing.
    if (searchText.contains(u'\r') || searchText.contains(u'\n'))
        return result;
    const QByteArray &bytes = file.bytes;
    // Searching the UTF-8 bytes finds exactly the lines that a search of the
    // decoded text finds, as long as the search text itself is well-formed.
    if (!searchText.isEmpty() && searchText.isValidUtf16() && QByteArrayView(bytes).isValidUtf8()) {
        const qsizetype start = hasUtf8ByteOrderMark(bytes) ? 3 : 0;
        result.text = filterUtf8(QByteArrayView(bytes).sliced(start), searchText);
        return result;
    }
    result.text = filterText(decodeDatabaseBytes(bytes), searchText);
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
