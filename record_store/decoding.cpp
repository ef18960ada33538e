// SPDX-License-Identifier: GPL-3.0-or-later

// Decoding the database file's bytes into text. A file is UTF-16 when it
// starts with a UTF-16 byte-order mark; otherwise each line is decoded on its
// own, as UTF-8 when its bytes are valid UTF-8 and else as Windows-1252, so
// that one line's encoding never changes another line. Also here: the quick
// way to the text of a file as the program writes it.
#include "record_store/decoding.h"

#include <QStringDecoder>

#include "record_store/byte_scan.h"
#include "record_store/internal.h"

namespace RecordStore {

namespace Internal {

namespace {

constexpr QByteArrayView kUtf8Mark = "\xEF\xBB\xBF";

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

QString decode(QByteArrayView bytes)
{
    if (hasUtf16ByteOrderMark(bytes))
        return utf16Text(bytes);
    // Valid UTF-8 as a whole is valid UTF-8 line by line, and the other way
    // round: line ends are single bytes that no other character contains.
    if (bytes.isValidUtf8())
        return utf8Text(bytes.startsWith(kUtf8Mark) ? bytes.sliced(kUtf8Mark.size()) : bytes);
    QString text;
    text.reserve(bytes.size());
    forEachLine(bytes.data(), bytes.size(),
                [&](qsizetype start, qsizetype length, qsizetype endLength) {
                    appendLine(text, bytes.sliced(start, length), start == 0);
                    text.append(QLatin1String(bytes.data() + start + length, endLength));
                });
    return text;
}

} // namespace

bool isAscii(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// Four scans, each vectorised by the toolkit, are faster than one plain loop.
bool holdsOtherLineEnds(QStringView text)
{
    return text.contains(QChar(0x2028)) || text.contains(QChar(0x2029)) ||
           text.contains(QChar(0xFDD0)) || text.contains(QChar(0xFDD1));
}

// QString::fromUtf8 drops a U+FEFF that comes first; here it belongs to a line
// (a second byte-order mark, or the first matching line of a search), so it
// stays.
QString utf8Text(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

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

std::optional<QString> plainUtf8Text(QByteArrayView lines)
{
    const uchar *const data = reinterpret_cast<const uchar *>(lines.data());
    const qsizetype size = lines.size();
    if (size > 0 && isLineEnd(char(data[0])))
        return std::nullopt;
    // No more characters than bytes: the vector part widens the runs of
    // ASCII on plain lines, the loop here takes the rest one at a time.
    QString text(size, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype at = 0; at < size;) {
        if (at > 0) {
            const qsizetype widened = Vector::widenPlainAscii(lines, at, out);
            out += widened - at;
            if ((at = widened) == size)
                break;
        }
        const uchar lead = data[at];
        if (lead < 0x80) {
            // CR only before LF, LF only after CR and never before one.
            const uchar next = at + 1 < size ? data[at + 1] : 0;
            if ((lead == '\r') != (next == '\n') ||
                (lead == '\n' && (data[at - 1] != '\r' || next == '\r')))
                return std::nullopt;
            *out++ = lead;
            ++at;
            continue;
        }
        // A sequence as UTF-8 allows it: no overlong form, no surrogate,
        // nothing beyond U+10FFFF.
        const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                           : lead >= 0xE0 && lead <= 0xEF ? 3
                           : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                          : 0;
        if (length == 0 || size - at < length)
            return std::nullopt;
        char32_t point = lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            if ((data[at + k] & 0xC0) != 0x80)
                return std::nullopt;
            point = point << 6 | (data[at + k] & 0x3F);
        }
        if ((length == 3 && (point < 0x800 || (point >= 0xD800 && point < 0xE000))) ||
            (length == 4 && (point < 0x10000 || point > 0x10FFFF)) || point == 0x2028 ||
            point == 0x2029 || point == 0xFDD0 || point == 0xFDD1)
            return std::nullopt;
        if (point >= 0x10000) {
            *out++ = QChar::highSurrogate(point);
            *out++ = QChar::lowSurrogate(point);
        } else {
            *out++ = char16_t(point);
        }
        at += length;
    }
    text.truncate(out - reinterpret_cast<const char16_t *>(text.constData()));
    return text;
}

bool hasUtf16ByteOrderMark(QByteArrayView bytes)
{
    return bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF");
}

std::optional<QString> plainDatabaseText(const QByteArray &bytes)
{
    const qsizetype size = bytes.size();
    if (bytes.startsWith(kUtf8Mark) || hasUtf16ByteOrderMark(bytes))
        return std::nullopt;
    qsizetype length = size;
    bool endLastLine = false;
    if (bytes.endsWith("\r\n\r\n"))
        length = size - 2;
    else if (size > 0 && !isLineEnd(bytes.back()))
        endLastLine = true;
    else if (size > 0 && !bytes.endsWith("\r\n"))
        return std::nullopt;
    const QByteArrayView lines(bytes.constData(), length);
    if (!allLinesPlain(lines))
        return std::nullopt;
    QString text = decode(lines);
    if (holdsOtherLineEnds(text))
        return std::nullopt;
    if (endLastLine)
        text.append(kCrLf);
    return text;
}

bool loadsAsWritten(QStringView text)
{
    // The bytes must be plain lines (no empty line, CR only before LF, LF
    // only after CR), must not start with a byte-order mark, and their
    // decoding must hold no other line end character. Surrogates and
    // noncharacters, which the encoding may not keep, are left to it.
    // Each character is told on its own, with its neighbours: a CR between
    // a character other than LF and an LF, an LF after a CR. The vector scan
    // passes over nearly all of them.
    if (text.isEmpty() || isLineEnd(text.front()) || text.front() == QChar(0xFEFF))
        return false;
    const char16_t *const data = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype at = 0; at < size; at = Vector::plainLineCharsPrefix(text, at + 1)) {
        const char16_t c = data[at];
        if (c > u'\r' && c < 0x2028)
            continue;
        if (c == u'\r') {
            if (at + 1 == size || data[at + 1] != u'\n' || data[at - 1] == u'\n')
                return false;
        } else if (c == u'\n') {
            if (data[at - 1] != u'\r')
                return false;
        } else if (c == 0x2028 || c == 0x2029 || (c >= 0xD800 && c < 0xE000) ||
                   (c >= 0xFDD0 && c < 0xFDF0) || c >= 0xFFFE) {
            return false;
        }
    }
    return true;
}

QString decodeDatabaseBytes(const QByteArray &bytes)
{
    return decode(bytes);
}

} // namespace Internal

} // namespace RecordStore
