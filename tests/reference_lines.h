// The line split the tests and the fuzz targets hold the record store to,
// written the plain way, one character at a time.
#pragma once

#include <QString>
#include <QStringList>

// The lines of a text: CR LF, a lone CR and a lone LF each end a line, and a
// final line end starts no further line.
QStringList referenceLines(const QString &text);
