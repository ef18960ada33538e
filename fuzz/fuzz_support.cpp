#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

Input::Input(const uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

bool Input::empty() const
{
    return m_size == 0;
}

uint8_t Input::takeByte()
{
    if (m_size == 0)
        return 0;
    --m_size;
    return *m_data++;
}

uint64_t Input::takeNumber(int bytes)
{
    uint64_t value = 0;
    for (int k = 0; k < bytes && k < 8; ++k)
        value |= uint64_t(takeByte()) << (8 * k);
    return value;
}

QString Input::takeText(uint8_t mode)
{
    std::size_t length = 0;
    while (length < m_size && m_data[length] != 0)
        ++length;
    const uint8_t *begin = m_data;
    const std::size_t consumed = length < m_size ? length + 1 : length;
    m_data += consumed;
    m_size -= consumed;
    if (mode % 2 == 1) {
        QString text;
        for (std::size_t k = 0; k + 1 < length; k += 2)
            text.append(QChar(char16_t(begin[k] | (begin[k + 1] << 8))));
        return text;
    }
    QByteArray bytes;
    for (std::size_t k = 0; k < length; ++k) {
        if (begin[k] == 1 && k + 1 < length) {
            bytes.append(qsizetype(begin[k + 1]) * 200, 'x');
            ++k;
        } else {
            bytes.append(char(begin[k]));
        }
    }
    return QString::fromUtf8(bytes);
}

QByteArray Input::takeRest()
{
    QByteArray rest(reinterpret_cast<const char *>(m_data), qsizetype(m_size));
    m_data += m_size;
    m_size = 0;
    return rest;
}

QString shown(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c.unicode() < 0x20 || c.isSurrogate())
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
        if (out.size() > 400) {
            out += QStringLiteral("... (%1 characters)").arg(text.size());
            break;
        }
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
}

void fail(const char *what, const QStringList &details)
{
    std::fprintf(stderr, "PROPERTY BROKEN: %s\n", what);
    for (const QString &detail : details)
        std::fprintf(stderr, "  %s\n", qPrintable(detail));
    std::abort();
}

void check(bool holds, const char *what, const QStringList &details)
{
    if (!holds)
        fail(what, details);
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

} // namespace Fuzz
