// SPDX-License-Identifier: GPL-3.0-or-later

// What every source of the record store shares and the program does not see:
// the texts of its reasons, the line iteration that every reader uses, and the
// one way to fail. What one source gives the others is in a header beside it
// (file_names.h, file_system.h, byte_scan.h, decoding.h, merge.h, history.h,
// versions.h, database_file.h, search_filter.h, conflict_copies.h,
// database_write.h; which may include which: docs/architecture.md).
#pragma once

#include <future>
#include <new>
#include <type_traits>

#include <QCoreApplication>
#include <QString>
#include <QStringView>

#include "record_store/byte_scan.h"
#include "record_store/record_store.h"

namespace RecordStore {

// The reasons the store gives, which the window shows, go through Texts::tr,
// so that a translation can be added.
struct Texts
{
    Q_DECLARE_TR_FUNCTIONS(RecordStore)
};

namespace Internal {

inline constexpr QStringView kCrLf = u"\r\n";

// `work` done on another core, where one is free, while the caller goes on;
// what it reads must outlive it.
template <typename Work> auto meanwhile(Work work)
{
    return std::async(std::launch::async | std::launch::deferred, std::move(work));
}

inline bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

inline bool isLineEnd(QChar c)
{
    // Most characters lie between the line ends, and are told apart here.
    const char16_t u = c.unicode();
    return (u <= u'\r' || u >= 0x2028) && isLineEndCharacter(c);
}

// Calls `onLine(start, length, endLength)` for every line of the `size`
// characters or bytes of `data`: where it starts, its length, and the length
// of its line end (0 for a last line without one). CR LF, a lone CR, a lone LF
// and, in a text, the other line end characters each end a line; a final line
// end starts no further line.
template <typename Char, typename OnLine>
void forEachLine(const Char *data, qsizetype size, OnLine onLine)
{
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        for (;; ++end) {
            // In a text, the characters no line end is are passed over in
            // runs.
            if constexpr (std::is_same_v<Char, QChar>)
                end = Vector::charsBetweenLineEnds(QStringView(data, size), end);
            if (end >= size || isLineEnd(data[end]))
                break;
        }
        const qsizetype endLength =
            end == size ? 0
                        : (end + 1 < size && data[end] == u'\r' && data[end + 1] == u'\n' ? 2 : 1);
        onLine(start, end - start, endLength);
        start = end + qMax<qsizetype>(endLength, 1);
    }
}

// The lines of a text as views, each without its line end.
template <typename OnLine> void forEachLine(QStringView text, OnLine onLine)
{
    forEachLine(text.data(), text.size(), [&](qsizetype start, qsizetype length, qsizetype) {
        onLine(text.sliced(start, length));
    });
}

// A failed result: `reason` says why, the value is empty (see FileResult).
template <typename T> FileResult<T> failure(const QString &reason)
{
    return {FileStatus::Failed, reason, T{}};
}

template <> inline FileResult<void> failure<void>(const QString &reason)
{
    return {FileStatus::Failed, reason};
}

// An operation that gives no value, done.
inline FileResult<void> done()
{
    return {};
}

// What `work` gives, or, when memory runs out on the way, a failure that says
// so: the program goes on, the file stays as it was.
template <typename T, typename Work> FileResult<T> unlessOutOfMemory(Work work)
{
    try {
        return work();
    } catch (const std::bad_alloc &) {
        return failure<T>(Texts::tr("There is not enough memory left to hold the database"));
    }
}

} // namespace Internal

} // namespace RecordStore
