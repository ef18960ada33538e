// SPDX-License-Identifier: GPL-3.0-or-later

// The search filter: the file's lines that hold a text, found by searching the
// file's bytes where the encoding allows and decoding only the lines that
// match, and the snapshot that lets both passes of one key stroke share one
// read of the file.
#include <QStringMatcher>

#include "record_store/byte_scan.h"
#include "record_store/database_file.h"
#include "record_store/decoding.h"
#include "record_store/internal.h"
#include "record_store/search_filter.h"

namespace RecordStore {

namespace Internal {

// What a DatabaseSnapshot holds: the read, once taken.
struct SnapshotRead
{
    std::optional<FileResult<FileBytes>> read;
};

} // namespace Internal

namespace {

using namespace Internal;

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
        forEachLine(text, [&out](QStringView line) {
            if (!line.isEmpty()) {
                out.append(line);
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
// lines that are not ASCII are therefore decoded and searched again.
QString matchingLines(QByteArrayView bytes, QByteArrayView needle, const QString &searchText)
{
    QString out;
    forEachMatchingLine(
        bytes.data(), bytes.size(), needle.size(),
        [&](qsizetype from) { return findBytes(bytes, needle, from); },
        [&](qsizetype start, qsizetype length) {
            const QByteArrayView line = bytes.sliced(start, length);
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
        return filterText(decodeDatabaseBytes(bytes), searchText);
    if (searchText.isEmpty()) {
        if (std::optional<QString> plain = plainDatabaseText(bytes))
            return std::move(*plain);
        return filterText(decodeDatabaseBytes(bytes), searchText);
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
    return filterText(decodeDatabaseBytes(bytes), searchText);
}

} // namespace

QString Internal::filterDatabaseText(QStringView text, const QString &searchText)
{
    if (std::any_of(searchText.cbegin(), searchText.cend(), [](QChar c) { return isLineEnd(c); }))
        return QString();
    return filterText(text, searchText);
}

DatabaseSnapshot::DatabaseSnapshot() : m_read(std::make_unique<SnapshotRead>()) {}

DatabaseSnapshot::~DatabaseSnapshot() = default;

FileResult<QString> FilterDatabaseLines(const QString &programDirectory, const QString &searchText)
{
    DatabaseSnapshot snapshot;
    return FilterDatabaseLines(programDirectory, searchText, snapshot);
}

FileResult<QString> FilterDatabaseLines(const QString &programDirectory, const QString &searchText,
                                        DatabaseSnapshot &snapshot)
{
    return unlessOutOfMemory<QString>([&] {
        // The bytes of an earlier read are searched again only while the path
        // still leads to the very file they were read from, unchanged since.
        std::optional<FileResult<FileBytes>> &held = snapshot.m_read->read;
        const bool reuse = held && held->value.unchanged && [&] {
            const FileResult<FileSystem::Location> now = FileSystem::locate(programDirectory);
            return now.ok() && now.value.entry == FileSystem::Location::File && now.value.stamp &&
                   sameStamp(*now.value.stamp, held->value.stamp);
        }();
        if (!reuse) {
            held.reset();
            held = readDatabaseBytes(programDirectory);
        }
        const FileResult<FileBytes> &read = *held;
        return read.with(read.ok() ? filterBytes(read.value.bytes, searchText) : QString());
    });
}

} // namespace RecordStore
