// SPDX-License-Identifier: GPL-3.0-or-later

// The reference implementations that the random sessions and the fuzz targets
// hold the record store to: the line split, the decoding, the pick and the
// blank-line collapse, written the plain way, one character at a time.
#pragma once

#include <QString>
#include <QStringList>

#include "record_store/record_store.h"

// The lines of a text: CR LF, a lone CR, a lone LF, U+2028, U+2029, U+FDD0 and
// U+FDD1 each end a line, and a final line end starts no further line.
QStringList referenceLines(const QString &text);

// The text of a database file's bytes, decoded the plain way: after a UTF-16
// byte-order mark, UTF-16 in that byte order; else line by line (lines parted
// by CR and LF bytes), each line strict UTF-8 when it is that, without the
// file's byte-order mark when it is the first, else Windows-1252. An odd last
// byte of UTF-16 is Windows-1252 too.
QString referenceDecode(const QByteArray &bytes);

// The record pick step by step with 1-based positions and naive searches: the
// box label is searched from the first character of the caret's line, the
// 16-bit limits hold for the item and type positions and their sums, and the
// first failing step ends the pick with the fields taken so far.
QStringList referencePick(const QString &text, qsizetype caretOffset);
// The texts of the fields that a pick of the record store completed, in order,
// to compare with referencePick.
QStringList pickedTexts(const RecordStore::PickedRecord &picked);

// A single pass that replaces each CR LF CR LF by CR LF, character by character.
QString referenceCollapse(const QString &text);
