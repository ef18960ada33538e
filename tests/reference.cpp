// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/reference.h"

#include <optional>

QStringList referenceLines(const QString &text)
{
    QStringList lines;
    QString line;
    bool open = false;
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text[k];
        if (c == u'\r' || c == u'\n' || c == QChar(0x2028) || c == QChar(0x2029) ||
            c == QChar(0xFDD0) || c == QChar(0xFDD1)) {
            lines << line;
            line.clear();
            open = false;
            if (c == u'\r' && k + 1 < text.size() && text[k + 1] == u'\n')
                ++k;
        } else {
            line += c;
            open = true;
        }
    }
    if (open)
        lines << line;
    return lines;
}

namespace {

// Windows-1252 from 0x80 to 0x9F, as the code page's chart shows it; the five
// bytes it leaves undefined stand for the control characters of the same value.
const QString kWindows1252High = QString::fromUtf8("€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F"
                                                   "\u0090‘’“”•–—˜™š›œ\u009DžŸ");

QString windows1252(const QByteArray &bytes)
{
    QString text;
    for (char byte : bytes) {
        const uchar b = uchar(byte);
        text += b >= 0x80 && b <= 0x9F ? kWindows1252High[b - 0x80] : QChar(b);
    }
    return text;
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing beyond U+10FFFF),
// every character kept; nothing when the bytes are not UTF-8.
std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QString text;
    qsizetype k = 0;
    while (k < bytes.size()) {
        const uchar lead = uchar(bytes[k]);
        int more = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            text += QChar(lead);
            ++k;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            code = lead & 0x07;
        } else {
            return std::nullopt;
        }
        if (k + more >= bytes.size())
            return std::nullopt;
        for (int m = 1; m <= more; ++m) {
            const uchar next = uchar(bytes[k + m]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        if (code < 0x10000) {
            text += QChar(char16_t(code));
        } else {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        }
        k += more + 1;
    }
    return text;
}

} // namespace

QString referenceDecode(const QByteArray &bytes)
{
    QString text;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const bool bigEndian = bytes.startsWith("\xFE");
        qsizetype k = 2;
        for (; k + 1 < bytes.size(); k += 2) {
            const uchar first = uchar(bytes[k]);
            const uchar second = uchar(bytes[k + 1]);
            text += QChar(bigEndian ? first * 256 + second : second * 256 + first);
        }
        return text + windows1252(bytes.mid(k));
    }
    QByteArray line;
    bool first = true;
    auto endLine = [&] {
        const bool marked = first && line.startsWith("\xEF\xBB\xBF");
        first = false;
        if (const std::optional<QString> utf8 = strictUtf8(marked ? line.mid(3) : line))
            text += *utf8;
        else
            text += windows1252(line);
        line.clear();
    };
    for (char byte : bytes) {
        if (byte == '\r' || byte == '\n') {
            endLine();
            text += QChar::fromLatin1(byte);
        } else {
            line += byte;
        }
    }
    endLine();
    return text;
}

namespace {

constexpr qsizetype kInt16Max = 32767;

// 1-based position of `needle` in `text` at or after `from` (>= 1), 0 if none.
qsizetype search(const QString &text, const QString &needle, qsizetype from)
{
    for (qsizetype p = from; p + needle.size() - 1 <= text.size(); ++p) {
        bool same = true;
        for (qsizetype k = 0; k < needle.size() && same; ++k)
            same = text[p - 1 + k] == needle[k];
        if (same)
            return p;
    }
    return 0;
}

// The `count` characters of `text` from 1-based `p` (>= 1), fewer at its end.
QString substring(const QString &text, qsizetype p, qsizetype count)
{
    QString out;
    for (qsizetype k = p; k < p + count && k <= text.size(); ++k)
        out += text[k - 1];
    return out;
}

} // namespace

QStringList referencePick(const QString &text, qsizetype c)
{
    QStringList fields;
    if (c < 0 || c > text.size())
        return fields;
    const qsizetype e = search(text, QStringLiteral("\r\n"), c < 1 ? 1 : c);
    // The caret's line starts after the last CR LF that lies wholly before it.
    qsizetype w = 1;
    for (qsizetype p = 1; p + 1 <= c; ++p) {
        if (text[p - 1] == u'\r' && text[p] == u'\n')
            w = p + 2;
    }
    const qsizetype b = search(text, QStringLiteral("[Box]:"), w);
    if (e == 0 || b == 0 || b > e)
        return fields;
    const QString rec = substring(text, b, e - b);
    const qsizetype i = search(rec, QStringLiteral(" [Item]:"), 1);
    if (i > kInt16Max || i - 8 < 0)
        return fields;
    fields << substring(rec, 8, i - 8);
    const qsizetype n = search(rec, QStringLiteral("[Nr]:"), i);
    if (i + 9 > kInt16Max || i + 10 > kInt16Max || n - (i + 10) < 0)
        return fields;
    fields << substring(rec, i + 9, n - (i + 10));
    const qsizetype t = search(rec, QStringLiteral("[Type]:"), n);
    if (t > kInt16Max || t - (n + 7) < 0)
        return fields;
    fields << substring(rec, n + 6, t - (n + 7));
    const qsizetype length = rec.size();
    if (t + 7 > kInt16Max || t + 8 > kInt16Max || length - (t + 7) < 0)
        return fields;
    fields << substring(rec, t + 8, length - (t + 7));
    return fields;
}

QString referenceCollapse(const QString &text)
{
    const QString blankLine = QStringLiteral("\r\n\r\n");
    QString out;
    qsizetype k = 0;
    while (k < text.size()) {
        if (QStringView(text).mid(k, 4) == blankLine) {
            out += QStringLiteral("\r\n");
            k += 4;
        } else {
            out += text[k];
            ++k;
        }
    }
    return out;
}

QStringList pickedTexts(const RecordStore::PickedRecord &picked)
{
    const RecordStore::RecordFields &f = picked.fields;
    return QStringList{f.box, f.item, f.count, f.type}.mid(0, picked.completed);
}
