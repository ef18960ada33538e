// SPDX-License-Identifier: GPL-3.0-or-later

// The file's bytes as text: decoding.cpp.
#pragma once

#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace RecordStore::Internal {

// Decodes the bytes of a database file. A file that starts with a UTF-16
// byte-order mark (either byte order) is UTF-16. Otherwise each line is decoded
// on its own: as UTF-8 when its bytes are valid UTF-8, else as Windows-1252,
// whose five undefined bytes become the control characters of the same value;
// a UTF-8 byte-order mark that starts a UTF-8 first line is dropped. Line ends
// are kept as they stand.
QString decodeDatabaseBytes(const QByteArray &bytes);

bool isAscii(QStringView text);
// Whether `text` holds a line end other than CR and LF.
bool holdsOtherLineEnds(QStringView text);
// UTF-8 bytes as text, every character kept, a first U+FEFF too.
QString utf8Text(QByteArrayView bytes);
// One line of a file that is not UTF-16, without its line end: UTF-8 when its
// bytes are valid UTF-8, else Windows-1252. The file's byte-order mark is not
// part of a UTF-8 first line.
void appendLine(QString &out, QByteArrayView line, bool firstLine);
bool hasUtf16ByteOrderMark(QByteArrayView bytes);
// The text of `lines` when they are plain lines (each non-empty and ended by
// CR LF, no other CR or LF: see allLinesPlain) of valid UTF-8 holding no
// other line end character, in one pass; nothing otherwise. A first U+FEFF
// stays.
std::optional<QString> plainUtf8Text(QByteArrayView lines);
// The text of a file whose lines are all non-empty and end in CR LF, except
// that the last line may lack its line end and that one empty line may close
// the file (as WriteDatabaseFile leaves it), and that holds no other line end
// character. For such a file the load and the every-line search both give
// that text, with CR LF after an unended last line and without the closing
// empty line. Nothing when the file is not such a file, or starts with a
// byte-order mark.
std::optional<QString> plainDatabaseText(const QByteArray &bytes);
// Whether plainDatabaseText gives `text` back (with CR LF after an unended
// last line) from the file a write of `text` makes: its UTF-8 bytes and CR LF.
// Told from the text, without encoding it; false for some texts that would
// come back all the same (one that holds a surrogate pair, say).
bool loadsAsWritten(QStringView text);

} // namespace RecordStore::Internal
