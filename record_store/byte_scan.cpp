// SPDX-License-Identifier: GPL-3.0-or-later

// The scans over the file's bytes that the search and the load make: finding
// a text, telling ASCII, telling a file of plain CR LF lines. The plain loops
// here go on where the system's vector scan (byte_scan_sse2.cpp, or none:
// byte_scan_portable.cpp) stopped.
#include "record_store/byte_scan.h"

#include <cstring>

#include "record_store/internal.h"

namespace RecordStore::Internal {

qsizetype findBytes(QByteArrayView bytes, QByteArrayView needle, qsizetype from)
{
    const char *data = bytes.data();
    const qsizetype size = bytes.size();
    const qsizetype n = needle.size();
    if (n == 0 || from > size - n)
        return -1;
    if (n == 1) {
        const void *hit = std::memchr(data + from, needle.front(), size_t(size - from));
        return hit ? static_cast<const char *>(hit) - data : -1;
    }
    qsizetype hit = -1;
    for (qsizetype at = Vector::findBytes(bytes, needle, from, hit); at >= 0 && at <= size - n;
         ++at) {
        if (data[at] == needle.front() &&
            std::memcmp(data + at + 1, needle.data() + 1, size_t(n - 1)) == 0)
            return at;
    }
    return hit;
}

qsizetype findAnyBytes(QByteArrayView bytes, const QList<QByteArray> &needles, qsizetype from)
{
    const char *data = bytes.data();
    const qsizetype n = needles.front().size();
    qsizetype hit = -1;
    for (qsizetype at = Vector::findAnyBytes(bytes, needles, from, hit);
         at >= 0 && at <= bytes.size() - n; ++at) {
        for (const QByteArray &needle : needles) {
            if (std::memcmp(data + at, needle.constData(), size_t(n)) == 0)
                return at;
        }
    }
    return hit;
}

bool isAscii(QByteArrayView bytes)
{
    qsizetype at = Vector::asciiPrefix(bytes);
    if (at < 0)
        return false;
    for (; at < bytes.size(); ++at) {
        if (uchar(bytes[at]) >= 0x80)
            return false;
    }
    return true;
}

bool allLinesPlain(QByteArrayView bytes)
{
    const char *data = bytes.data();
    const qsizetype size = bytes.size();
    if (size > 0 && isLineEnd(data[0]))
        return false;
    qsizetype at = Vector::plainLinesPrefix(bytes);
    if (at < 0)
        return false;
    for (; at + 1 < size; ++at) {
        const bool crHere = data[at] == '\r';
        const bool lfNext = data[at + 1] == '\n';
        if (crHere != lfNext || (data[at] == '\n' && data[at + 1] == '\r'))
            return false;
    }
    return true;
}

} // namespace RecordStore::Internal
