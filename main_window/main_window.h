// SPDX-License-Identifier: GPL-3.0-or-later

// The Stockbook window, Form1. Its handlers read the controls, call the record
// store and write the controls back; the data flow and why the established
// names (Form1, Text5, Command3_Click, SelectedRecord, ...) stay are in
// docs/architecture.md.
#pragma once

#include <QFileSystemWatcher>
#include <QHash>
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
    // the layout as drawn, more where the captions need more room, less where
    // a high-DPI screen is too small for the table.
    qreal layoutScale() const;

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void Form_Load();      // start-up: load the database
    void Command1_Click(); // +: count up
    void Command2_Click(); // -: count down
    void Command3_Click(); // Add: the entry onto the view
    void Command4_Click(); // Save: the view into the file
    void Command5_Click(); // Quit
    void Command6_Click(); // Update: the picked record, and the file
    void Text4_Change();   // Find typed into: the file's matching lines
    void Text5_Click();    // click in the view: pick the record

private:
    // layout.cpp
    struct LayoutRow;
    static const LayoutRow kLayout[];
    void createControls();
    void nameForScreenReaders();
    void explainControls();
    void setTabCycle();

    void connectHandlers();
    void explainRefusedPastes();
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
    void reportWrite(const RecordStore::WrittenDatabase &written, bool saved);
    void reportCopies(const QList<RecordStore::CopyReport> &copies);
    void warnRecordNotFound();
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
    // The copies left unmerged that the user was told of.
    QHash<QString, bool> m_copiesLeftTold;
    bool m_searchFailureShown = false;

    // Every control's place in twips, in its container, and the layout's scale.
    TwipsLayout m_layout;

    QGroupBox *Frame1 = nullptr;     // "Database": the entry fields and commands
    QGroupBox *Frame2 = nullptr;     // "Search": the search field and the view
    QLabel *Label1 = nullptr;        // "Box Name"
    QLabel *Label2 = nullptr;        // "Component Name"
    QLabel *Label3 = nullptr;        // "Number"
    QLabel *Label4 = nullptr;        // "Find"
    QLabel *Label5 = nullptr;        // "Type"
    QLineEdit *Text1 = nullptr;      // box field
    QLineEdit *Text2 = nullptr;      // item field
    QLineEdit *Text3 = nullptr;      // count field
    QLineEdit *Text4 = nullptr;      // search field (Find)
    DatabaseView *Text5 = nullptr;   // database view
    QComboBox *Combo1 = nullptr;     // type field
    QPushButton *Command1 = nullptr; // +
    QPushButton *Command2 = nullptr; // -
    QPushButton *Command3 = nullptr; // Add
    QPushButton *Command4 = nullptr; // Save
    QPushButton *Command5 = nullptr; // Quit
    QPushButton *Command6 = nullptr; // Update
};
