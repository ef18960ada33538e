// SPDX-License-Identifier: GPL-3.0-or-later

// The scans over the file's bytes that the search and the decoding use, and
// the one over a text that tells whether it loads as written: byte_scan.cpp,
// with the vector part in byte_scan_sse2.cpp or byte_scan_portable.cpp.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringView>

namespace RecordStore::Internal {

// The first position at or after `from` at which `needle` occurs in `bytes`,
// or -1.
qsizetype findBytes(QByteArrayView bytes, QByteArrayView needle, qsizetype from);
// The same for the first of several needles, in one pass over the bytes; the
// needles must be of one length, at least two bytes, and at most kMostNeedles.
constexpr qsizetype kMostNeedles = 4;
qsizetype findAnyBytes(QByteArrayView bytes, const QList<QByteArray> &needles, qsizetype from);
// Whether every byte is below 0x80.
bool isAscii(QByteArrayView bytes);
// True when every line of `bytes` is non-empty and ends in CR LF: the bytes
// start with neither CR nor LF, every CR, and only a CR, is followed by an LF,
// and no LF by a CR. The caller sees to the last bytes.
bool allLinesPlain(QByteArrayView bytes);

// The vector part of those scans: byte_scan_sse2.cpp, or
// byte_scan_portable.cpp, which leaves all of the work to the plain loops.
// Each does what it can from the start and says where the plain loop goes on.
namespace Vector {
// Screens the start positions from `from` on; returns the first it did not
// screen, or -1 after setting `hit` to the needle's first position. The needle
// is at least two bytes long.
qsizetype findBytes(QByteArrayView bytes, QByteArrayView needle, qsizetype from, qsizetype &hit);
// The same for findAnyBytes: `hit` is the first position where one of the
// needles occurs.
qsizetype findAnyBytes(QByteArrayView bytes, const QList<QByteArray> &needles, qsizetype from,
                       qsizetype &hit);
// How many bytes from the start it found below 0x80, or -1 when it found one
// that is not.
qsizetype asciiPrefix(QByteArrayView bytes);
// How many bytes from the start it found to hold only plain CR LF pairs (the
// byte after the last of them is checked too), or -1 when one is not.
qsizetype plainLinesPrefix(QByteArrayView bytes);
// Widens the bytes from `from` on (at least 1) into the characters at `to`
// while they are below 0x80 and on plain lines (each byte told with the ones
// before and after it, as plainLinesPrefix tells them); returns the first
// position it did not widen. It may write up to sixteen characters beyond
// those, never beyond as many as there are bytes.
qsizetype widenPlainAscii(QByteArrayView bytes, qsizetype from, char16_t *to);
// Passes over the characters of `text` from `from` on (at least 1) that a
// load of the text's encoding keeps as they are on plain lines: those between
// CR and U+2028, a CR after a character other than LF and before an LF, and an
// LF after a CR. Returns the first other position, where it found one, else
// the first position it did not screen.
qsizetype plainLineCharsPrefix(QStringView text, qsizetype from);
// Passes over the characters of `text` from `from` on that lie between CR and
// U+2028, which no line end is; returns the first position it did not pass,
// which may hold any character.
qsizetype charsBetweenLineEnds(QStringView text, qsizetype from);
} // namespace Vector

} // namespace RecordStore::Internal
