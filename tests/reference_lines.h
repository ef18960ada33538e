// The line split and the decoding the tests and the fuzz targets hold the
// record store to, written the plain way, one character at a time.
#pragma once

#include <QString>
#include <QStringList>

// The lines of a text: CR LF, a lone CR, a lone LF, U+2029, U+FDD0 and U+FDD1
// each end a line, and a final line end starts no further line.
QStringList referenceLines(const QString &text);

// The text of a database file's bytes, decoded the plain way: after a UTF-16
// byte-order mark, UTF-16 in that byte order; else line by line (lines parted
// by CR and LF bytes), each line strict UTF-8 when it is that, without the
// file's byte-order mark when it is the first, else Windows-1252. An odd last
// byte of UTF-16 is Windows-1252 too.
QString referenceDecode(const QByteArray &bytes);
