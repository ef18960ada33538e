// SPDX-License-Identifier: GPL-3.0-or-later

// The texts of the window's messages, in one place and through tr(), so that
// the handlers stay short and a translation needs no change of the code.
#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>

#include "record_store/database_session.h"

class Messages final
{
    Q_DECLARE_TR_FUNCTIONS(Form1)

public:
    static QString applicationTitle();
    static QString databaseSaved(const QString &programDirectory);
    // Why a save failed: the system's reason, or that the program folder is
    // gone or cannot be written to.
    static QString saveFailed(const QString &programDirectory, const QString &reason);
    // `inView`: whether the record was looked for in the view, else in the
    // whole database as the window holds it (a searched view).
    static QString recordNotFound(bool inView, const QString &record);
    static QString searchFailed(const QString &programDirectory, const QString &reason);
    // The entry fields are named by their labels' captions, box, item, count
    // and type.
    static QString fieldProblem(const RecordStore::FieldProblem &problem,
                                const RecordStore::RecordFields &fields,
                                const QStringList &captions);
    // A text of several lines pasted into the entry field with this caption,
    // or into the search field.
    static QString pasteRefused(const QString &caption);
    static QString searchPasteRefused(const QString &caption);
    static QString merged(const QString &programDirectory, const RecordStore::MergeReport &merge);
    // What the sync tools' copies brought into the view, or, `written`, into
    // what a write wrote; or nothing to tell.
    static QString copiesMerged(const QList<RecordStore::CopyReport> &copies, bool written = false);
    static QString copyUnreadable(const RecordStore::CopyReport &copy);
    static QString writingRefused(const QString &programDirectory, const QString &reason);
    static QString unreadableDatabase(const QString &programDirectory, const QString &reason);
};
