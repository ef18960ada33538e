// SPDX-License-Identifier: GPL-3.0-or-later

// The search filter: the file's lines that hold a text, found by searching the
// file's bytes where the encoding allows and decoding only the lines that
// match, and the snapshot that lets both passes of one key stroke share one
// read of the file.
#include "record_store/search_filter.h"

#include <algorithm>

#include <QStringMatcher>

#include "record_store/byte_scan.h"
#include "record_store/database_file.h"
#include "record_store/decoding.h"
#include "record_store/internal.h"

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
// or -1; `matchLength` is the length of the shortest match (at least 1).
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

// Gives `findFrom(pos)` for forEachMatchingLine over several searches: the
// first of their next matches at or after `pos`, where `findOne(k, pos)` is
// search k's. A search runs again only once `pos` has passed its last match.
template <typename FindOne> auto firstOfSearches(qsizetype count, FindOne findOne)
{
    return [findOne, next = QList<qsizetype>(count, -2)](qsizetype from) mutable {
        qsizetype first = -1;
        for (qsizetype k = 0; k < next.size(); ++k) {
            if (next[k] != -1 && next[k] < from)
                next[k] = findOne(k, from);
            if (next[k] >= 0 && (first < 0 || next[k] < first))
                first = next[k];
        }
        return first;
    };
}

// The length of the shortest of `texts`, none of which is empty.
template <typename Texts> qsizetype shortest(const Texts &texts)
{
    qsizetype length = texts.first().size();
    for (const auto &text : texts)
        length = std::min(length, qsizetype(text.size()));
    return length;
}

// The lines of `text` that hold one of `searchTexts`, none of them empty.
QString filterText(QStringView text, const QStringList &searchTexts)
{
    QString out;
    QList<QStringMatcher> matchers;
    for (const QString &searchText : searchTexts)
        matchers.append(QStringMatcher(searchText, Qt::CaseSensitive));
    forEachMatchingLine(text.data(), text.size(), shortest(searchTexts),
                        firstOfSearches(matchers.size(),
                                        [&](qsizetype k, qsizetype from) {
                                            return matchers[k].indexIn(text, from);
                                        }),
                        [&](qsizetype start, qsizetype length) {
                            out.append(text.sliced(start, length));
                            out.append(kCrLf);
                        });
    return out;
}

// Every line of `text` but the empty ones.
QString nonEmptyLines(QStringView text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8 + 2);
    forEachLine(text, [&out](QStringView line) {
        if (!line.isEmpty()) {
            out.append(line);
            out.append(kCrLf);
        }
    });
    return out;
}

// The lines of the file's `bytes` that hold one of `searchTexts`, each
// followed by CR LF, found by searching the bytes for `needles`, one for each
// text. A needle must occur in the bytes of exactly the lines whose text holds
// its search text, but for lines that the decoding changes (a byte-order mark,
// other line end characters): lines that are not ASCII are therefore decoded
// and searched again.
QString matchingLines(QByteArrayView bytes, const QList<QByteArray> &needles,
                      const QStringList &searchTexts)
{
    QString out;
    const auto onLine = [&](qsizetype start, qsizetype length) {
        const QByteArrayView line = bytes.sliced(start, length);
        if (isAscii(line)) {
            out.append(QLatin1String(line.data(), line.size()));
            out.append(kCrLf);
            return;
        }
        QString decoded;
        appendLine(decoded, line, start == 0);
        out.append(filterText(decoded, searchTexts));
    };
    // Needles of one length (a text and its capitals, say) are looked for in
    // one pass; others each in a pass of its own.
    const qsizetype length = shortest(needles);
    if (needles.size() > 1 && needles.size() <= kMostNeedles && length > 1 &&
        std::all_of(needles.cbegin(), needles.cend(),
                    [length](const QByteArray &needle) { return needle.size() == length; })) {
        forEachMatchingLine(
            bytes.data(), bytes.size(), length,
            [&](qsizetype from) { return findAnyBytes(bytes, needles, from); }, onLine);
        return out;
    }
    forEachMatchingLine(bytes.data(), bytes.size(), length,
                        firstOfSearches(needles.size(),
                                        [&](qsizetype k, qsizetype from) {
                                            return findBytes(bytes, needles[k], from);
                                        }),
                        onLine);
    return out;
}

// The bytes to search the file's `bytes` for, one for each search text, where
// they occur in exactly the lines that hold the text: an ASCII text is the
// same bytes in either encoding a line may have, and no other character's
// bytes hold an ASCII byte; in a file of UTF-8 lines, the UTF-8 bytes of a
// well-formed text occur in exactly the lines that hold it. Nothing where a
// text has no such bytes.
std::optional<QList<QByteArray>> needlesFor(const QByteArray &bytes, const QStringList &searchTexts)
{
    QList<QByteArray> needles;
    std::optional<bool> utf8File;
    for (const QString &searchText : searchTexts) {
        if (isAscii(searchText)) {
            needles.append(searchText.toLatin1());
            continue;
        }
        if (!utf8File)
            utf8File = QByteArrayView(bytes).isValidUtf8();
        if (!*utf8File || !searchText.isValidUtf16())
            return std::nullopt;
        needles.append(searchText.toUtf8());
    }
    return needles;
}

// Same result as decoding the whole file and keeping its lines that hold one
// of `searchTexts` (every non-empty line for an empty text), but searches the
// bytes and decodes only the lines that match, where the encoding allows.
QString filterBytes(const QByteArray &bytes, QStringList searchTexts)
{
    // No line holds a line end, so such a search text matches nothing.
    searchTexts.removeIf([](const QString &text) {
        return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return isLineEnd(c); });
    });
    if (searchTexts.isEmpty())
        return QString();
    if (searchTexts.contains(QString())) {
        if (!hasUtf16ByteOrderMark(bytes)) {
            if (std::optional<QString> plain = plainDatabaseText(bytes))
                return std::move(*plain);
        }
        return nonEmptyLines(decodeDatabaseBytes(bytes));
    }
    if (!hasUtf16ByteOrderMark(bytes)) {
        if (const std::optional<QList<QByteArray>> needles = needlesFor(bytes, searchTexts))
            return matchingLines(bytes, *needles, searchTexts);
    }
    return filterText(decodeDatabaseBytes(bytes), searchTexts);
}

} // namespace

QString Internal::filterDatabaseBytes(const QByteArray &bytes, const QStringList &searchTexts)
{
    return filterBytes(bytes, searchTexts);
}

QString Internal::filterDatabaseText(QStringView text, QStringList searchTexts)
{
    // No line holds a line end, so such a search text matches nothing.
    searchTexts.removeIf([](const QString &searchText) {
        return std::any_of(searchText.cbegin(), searchText.cend(),
                           [](QChar c) { return isLineEnd(c); });
    });
    if (searchTexts.isEmpty())
        return QString();
    return searchTexts.contains(QString()) ? nonEmptyLines(text) : filterText(text, searchTexts);
}

DatabaseSnapshot::DatabaseSnapshot() : m_read(std::make_unique<SnapshotRead>()) {}

DatabaseSnapshot::~DatabaseSnapshot() = default;

FileResult<QString> FilterDatabaseLines(const QString &programDirectory, const QString &searchText)
{
    DatabaseSnapshot snapshot;
    return FilterDatabaseLines(programDirectory, QStringList{searchText}, snapshot);
}

FileResult<QString> FilterDatabaseLines(const QString &programDirectory, const QString &searchText,
                                        DatabaseSnapshot &snapshot)
{
    return FilterDatabaseLines(programDirectory, QStringList{searchText}, snapshot);
}

FileResult<QString> FilterDatabaseLines(const QString &programDirectory,
                                        const QStringList &searchTexts, DatabaseSnapshot &snapshot)
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
        return read.with(read.ok() ? filterBytes(read.value.bytes, searchTexts) : QString());
    });
}

} // namespace RecordStore
