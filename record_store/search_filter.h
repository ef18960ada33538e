// SPDX-License-Identifier: GPL-3.0-or-later

// What search_filter.cpp gives the session: the search of a text it holds.
#pragma once

#include <QString>
#include <QStringView>

namespace RecordStore::Internal {

// The lines of the database text `text` that hold `searchText`, as
// FilterDatabaseLines finds them in a file.
QString filterDatabaseText(QStringView text, const QString &searchText);

} // namespace RecordStore::Internal
