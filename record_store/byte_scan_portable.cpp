// SPDX-License-Identifier: GPL-3.0-or-later

// The portable counterpart of byte_scan_sse2.cpp: no vector scan at all, so the
// plain loops of byte_scan.cpp do the whole of each scan.
#include "record_store/byte_scan.h"

namespace RecordStore::Internal::Vector {

qsizetype findBytes(QByteArrayView, QByteArrayView, qsizetype from, qsizetype &)
{
    return from;
}

qsizetype findAnyBytes(QByteArrayView, const QList<QByteArray> &, qsizetype from, qsizetype &)
{
    return from;
}

qsizetype asciiPrefix(QByteArrayView)
{
    return 0;
}

qsizetype plainLinesPrefix(QByteArrayView)
{
    return 0;
}

qsizetype widenPlainAscii(QByteArrayView, qsizetype from, char16_t *)
{
    return from;
}

qsizetype plainLineCharsPrefix(QStringView, qsizetype from)
{
    return from;
}

qsizetype charsBetweenLineEnds(QStringView, qsizetype from)
{
    return from;
}

} // namespace RecordStore::Internal::Vector
