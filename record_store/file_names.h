// SPDX-License-Identifier: GPL-3.0-or-later

// The names of the files the program keeps beside it, each spelled once, and
// how the sync tools name their copies of them: file_names.cpp. Only names,
// no file is touched here.
#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>

namespace RecordStore::Internal {

// The database file in the program folder.
inline constexpr QLatin1String kDatabaseFileName("stockbook.txt");
// The database file's name before its ".txt": the sync tools' copies of it
// start with it.
inline constexpr QLatin1String kDatabaseStem("stockbook");
// The versions folder beside the database (see history.h).
inline constexpr QLatin1String kVersionsFolderName("stockbook-versions");
// In the versions folder: a version is stockbook-<id>.txt, a machine's log
// history-<machine>.txt.
inline constexpr QLatin1String kVersionPrefix("stockbook-");
inline constexpr QLatin1String kLogPrefix("history-");
inline constexpr QLatin1String kTextSuffix(".txt");

// Of the file names `names`, those of the sync tools' copies of the database
// (the patterns in file_names.cpp), oldest first (see ListConflictCopies).
QStringList conflictCopiesAmong(const QStringList &names);

// The log (history-<machine>.txt) whose sync tool's copy is named `name`, by
// the names of the database's copies; empty for another name.
QString logOfConflictCopy(const QString &name);

} // namespace RecordStore::Internal
