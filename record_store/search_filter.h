// SPDX-License-Identifier: GPL-3.0-or-later

// What search_filter.cpp gives the session: the search of a text it holds.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace RecordStore::Internal {

// The lines of the database text `text` that hold one of `searchTexts`, as
// FilterDatabaseLines finds them in a file.
QString filterDatabaseText(QStringView text, QStringList searchTexts);
// The same on the UTF-8 `bytes` of a database text, searched as bytes.
QString filterDatabaseBytes(const QByteArray &bytes, const QStringList &searchTexts);

} // namespace RecordStore::Internal
