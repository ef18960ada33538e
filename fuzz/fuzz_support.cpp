// SPDX-License-Identifier: GPL-3.0-or-later

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

} // namespace Fuzz
