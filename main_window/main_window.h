// SPDX-License-Identifier: GPL-3.0-or-later

// The Stockbook window, Form1. Its handlers read the controls, call the record
// store and write the controls back; the data flow and why the established
// names (Form1, Text5, Command3_Click, SelectedRecord, ...) stay are in
// docs/architecture.md.
#pragma once

#include <QFileSystemWatcher>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "main_window/twips_layout.h"
#include "record_store/database_session.h"

class DatabaseView;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class Form1 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(const QString &programDirectory, QWidget *parent = nullptr);

    QString selectedRecord() const;
    QString entryRecord() const;
    // Pixels per fifteen twips of the layout: 1 where the desktop's font fits
    // the layout as drawn, more where the captions need more room.
    qreal layoutScale() const;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Text4_Change();
    void Text5_Click();

private:
    // layout.cpp
    struct LayoutRow;
    static const LayoutRow kLayout[];
    void createControls();
    void nameForScreenReaders();
    void explainControls();
    void setTabCycle();

    void connectHandlers();
    void watchDatabaseFile();
    void watchDatabasePath();
    void followDatabaseFile();
    RecordStore::RecordFields entryFields() const;
    // Writes the first `count` of the fields, in the order box, item, count,
    // type.
    void writeEntryFields(const RecordStore::RecordFields &fields, int count = 4);
    bool entryFieldsFitRecordLine();
    bool writingIsRefused();
    bool showWritten(const RecordStore::FileResult<RecordStore::WrittenDatabase> &written);
    void reportMerge(const RecordStore::WrittenDatabase &written);
    void reportCopies(const QList<RecordStore::CopyReport> &copies);
    void warnRecordNotFound(RecordStore::FileStatus fileStatus);
    void warn(const QString &text);
    void warnUnreadableDatabase();

    const QString m_programDirectory;
    // The window-level texts: the record of the last pick, and the record line
    // last composed by Add or Update.
    QString SelectedRecord;
    QString EntryRecord;
    // What the window last read from or wrote to the file, whether the view
    // holds the whole database, and what Save and Update write.
    RecordStore::DatabaseSession m_session;
    // Another program's change of the file (sync tools replace it by a
    // rename, so the folder is watched too) reloads a view that holds nothing
    // of its own, once the changes have settled.
    QFileSystemWatcher m_databaseWatcher;
    QTimer m_followTimer;
    bool m_warnedOfUnreadableDatabase = false;
    // The sync tools' copies merged into the view at start-up, told once the
    // window shows.
    QList<RecordStore::CopyReport> m_copiesAtStartUp;
    bool m_searchFailureShown = false;

    // Every control's place in twips, in its container, and the layout's scale.
    TwipsLayout m_layout;

    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLineEdit *Text3 = nullptr;
    QLineEdit *Text4 = nullptr;
    DatabaseView *Text5 = nullptr;
    QComboBox *Combo1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command4 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command6 = nullptr;
};
