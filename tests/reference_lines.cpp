#include "tests/reference_lines.h"

#include <optional>

QStringList referenceLines(const QString &text)
{
    QStringList lines;
    QString line;
    bool open = false;
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text[k];
        if (c == u'\r' || c == u'\n' || c == QChar(0x2029) || c == QChar(0xFDD0) ||
            c == QChar(0xFDD1)) {
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
