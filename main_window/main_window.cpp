// SPDX-License-Identifier: GPL-3.0-or-later

#include "main_window/main_window.h"

#include <algorithm>
#include <utility>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "main_window/count_step.h"
#include "main_window/database_view.h"
#include "record_store/record_store.h"

using namespace RecordStore;

namespace {

const QString kApplicationTitle = QStringLiteral("Stockbook");
const QString kPlaceholder = QStringLiteral("...");
const QStringList kComponentTypes = {
    QStringLiteral("Resistor"),   QStringLiteral("Capacitor"),     QStringLiteral("Inductor"),
    QStringLiteral("Transistor"), QStringLiteral("RF Transistor"), QStringLiteral("Xtal"),
    QStringLiteral("Resonator"),  QStringLiteral("Socket"),        QStringLiteral("IC"),
    QStringLiteral("MicroChip"),  QStringLiteral("Other")};
// The database's path as the system writes paths, for the messages.
QString databasePathText(const QString &programDirectory)
{
    return QDir::toNativeSeparators(DatabaseFilePath(programDirectory));
}

// Why a save failed. A program folder that is gone or cannot be written to is
// named as such: the system's reason would only say "No such file or
// directory" or "Permission denied".
QString writeFailureText(const QString &programDirectory, const QString &error)
{
    if (!QFileInfo(programDirectory).isDir())
        return QStringLiteral("Could not save the database: the folder %1 no longer exists. It was "
                              "moved or deleted after Stockbook started.\n\nNothing was written, "
                              "and your changes are still in the window. Put the folder back and "
                              "try again.")
            .arg(QDir::toNativeSeparators(programDirectory));
    if (!QFileInfo(programDirectory).isWritable())
        return QStringLiteral("Could not save the database: the folder %1 is not writable.\n\n"
                              "The file was left as it was, and your changes are still in the "
                              "window. Make the folder writable and try again.")
            .arg(QDir::toNativeSeparators(programDirectory));
    return QStringLiteral("Could not save the database to %1:\n%2\n\n"
                          "The file was left as it was, and your changes are still in the window.")
        .arg(databasePathText(programDirectory), error);
}

} // namespace

Form1::Form1(const QString &programDirectory, QWidget *parent)
    : QWidget(parent), m_programDirectory(programDirectory), m_session(programDirectory)
{
    createControls();
    connectHandlers();
    Form_Load();
    watchDatabaseFile();
    Text1->setFocus();
}

void Form1::watchDatabaseFile()
{
    m_followTimer.setSingleShot(true);
    m_followTimer.setInterval(250);
    connect(&m_followTimer, &QTimer::timeout, this, &Form1::followDatabaseFile);
    const auto changed = [this] {
        m_followTimer.start();
    };
    connect(&m_databaseWatcher, &QFileSystemWatcher::fileChanged, this, changed);
    connect(&m_databaseWatcher, &QFileSystemWatcher::directoryChanged, this, changed);
    if (m_programDirectory.isEmpty())
        return;
    m_databaseWatcher.addPath(m_programDirectory);
    watchDatabasePath();
}

// A file replaced by a rename is a new file to watch.
void Form1::watchDatabasePath()
{
    const QString path = DatabaseFilePath(m_programDirectory);
    if (!m_databaseWatcher.files().contains(path) && QFileInfo(path).isReadable())
        m_databaseWatcher.addPath(path);
}

void Form1::followDatabaseFile()
{
    watchDatabasePath();
    if (const std::optional<QString> text = m_session.followFile(Text5->databaseText()))
        Text5->replaceDatabaseTextKeepingPlace(*text, DatabaseView::Undo::Without);
}

QString Form1::selectedRecord() const
{
    return SelectedRecord;
}

QString Form1::entryRecord() const
{
    return EntryRecord;
}

void Form1::connectHandlers()
{
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    // Only the user's edits run the search; its own upper-case write does not.
    connect(Text4, &QLineEdit::textEdited, this, &Form1::Text4_Change);
    connect(Text5, &DatabaseView::clicked, this, &Form1::Text5_Click);
    connect(Text5, &DatabaseView::pickRequested, this, &Form1::Text5_Click);
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_session.unreadableReason().isEmpty() && !m_warnedOfUnreadableDatabase) {
        m_warnedOfUnreadableDatabase = true;
        QTimer::singleShot(0, this, &Form1::warnUnreadableDatabase);
    }
    if (!m_copiesAtStartUp.isEmpty())
        QTimer::singleShot(0, this, [this] { reportCopies(std::exchange(m_copiesAtStartUp, {})); });
}

void Form1::Form_Load()
{
    FileResult<QString> loaded = m_session.load();
    if (loaded.ok()) {
        m_copiesAtStartUp = m_session.mergeConflictCopies(loaded.value);
        Text5->setDatabaseText(loaded.value);
    }
    // Filling an empty list selects its first entry; the field keeps showing
    // the placeholder instead.
    Combo1->addItems(kComponentTypes);
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(kPlaceholder);
}

void Form1::Command1_Click()
{
    if (const auto count = steppedCount(Text3->text(), +1))
        Text3->setText(*count);
}

void Form1::Command2_Click()
{
    if (const auto count = steppedCount(Text3->text(), -1))
        Text3->setText(*count);
}

void Form1::Command3_Click()
{
    if (Text1->text().isEmpty() || Text2->text().isEmpty() || !entryFieldsFitRecordLine())
        return;
    const QStringList fields = entryFields();
    EntryRecord = ComposeRecordLine(fields[0], fields[1], fields[2], fields[3]);
    Text5->appendDatabaseText(EntryRecord);
    Text2->clear();
    Text3->setText(QStringLiteral("0"));
}

void Form1::Command4_Click()
{
    if (Text4->text() != kPlaceholder || !m_session.viewHoldsWholeDatabase() || writingIsRefused())
        return;
    const FileResult<WrittenDatabase> written = m_session.save(Text5->databaseText());
    if (!showWritten(written))
        return;
    QMessageBox message(QMessageBox::NoIcon, kApplicationTitle,
                        QStringLiteral("Database saved in ") + databasePathText(m_programDirectory),
                        QMessageBox::Ok, this);
    message.exec();
    reportMerge(written.value);
}

void Form1::Command5_Click()
{
    close();
}

void Form1::Command6_Click()
{
    if (SelectedRecord.isEmpty()) {
        writeEntryFields({QString(), QString(), QStringLiteral("0"), kPlaceholder});
        return;
    }
    if (!entryFieldsFitRecordLine())
        return;
    const QStringList fields = entryFields();
    EntryRecord = ComposeRecordLine(fields[0], fields[1], fields[2], fields[3]);
    if (writingIsRefused())
        return;
    const QString view = Text5->databaseText();
    const FileResult<WrittenDatabase> written = m_session.update(view, SelectedRecord, EntryRecord);
    if (written.ok() && !written.value.recordFound)
        return warnRecordNotFound(written.status);
    if (!showWritten(written))
        return;
    if (!written.value.tookInOtherChanges() && EntryRecord != SelectedRecord &&
        view.contains(SelectedRecord))
        Text5->replaceInDatabaseText(view, SelectedRecord, EntryRecord);
    Text5->showAndUnmarkPickedLine();
    SelectedRecord.clear();
    writeEntryFields({QString(), QString(), QStringLiteral("0"), kPlaceholder});
    reportMerge(written.value);
}

void Form1::warnRecordNotFound(FileStatus fileStatus)
{
    const QString path = databasePathText(m_programDirectory);
    const QString where =
        m_session.viewHoldsWholeDatabase() ? QStringLiteral("the database view")
        : fileStatus == FileStatus::Ok
            ? QStringLiteral("the database file %1").arg(path)
            : QStringLiteral("the database file %1, which no longer exists").arg(path);
    warn(QStringLiteral("The record you picked is no longer in %1:\n\n%2\n\n"
                        "It was changed or removed there since you picked it, so nothing was "
                        "updated. The fields keep your entry; pick the record again to update it.")
             .arg(where, SelectedRecord.chopped(2)));
}

void Form1::Text4_Change()
{
    m_session.searchStarted();
    FileResult<QString> found;
    // Both passes of one key stroke search one read of the file; the second
    // reads it again only when the file was replaced or changed in between.
    DatabaseSnapshot snapshot;
    if (DatabaseFileExists(m_programDirectory)) {
        found = FilterDatabaseLines(m_programDirectory, Text4->text(), snapshot);
        if (found.ok() && found.value.isEmpty()) {
            Text4->setText(Text4->text().toUpper());
            Text4->setCursorPosition(Text4->text().size());
            if (DatabaseFileExists(m_programDirectory))
                found = FilterDatabaseLines(m_programDirectory, Text4->text(), snapshot);
        }
    }
    Text5->setDatabaseText(found.value);
    // A failure is told once, not on every key stroke, until a search reads
    // the file again.
    if (found.ok())
        m_searchFailureShown = false;
    else if (!std::exchange(m_searchFailureShown, true))
        warn(QStringLiteral("Could not read the database %1 to search it:\n%2")
                 .arg(databasePathText(m_programDirectory), found.reason));
}

void Form1::Text5_Click()
{
    // The pick reads only the caret's line, so it is handed that line alone.
    const DatabaseView::CaretLine line = Text5->caretLine();
    const QStringList fields = PickRecordFields(line.text, line.caretOffset);
    writeEntryFields(fields);
    if (fields.size() < 4) {
        // The fields now hold parts of two lines; an Update must not write
        // such a mixture over the record picked before.
        if (!fields.isEmpty()) {
            SelectedRecord.clear();
            Text5->unmarkPickedLine();
        }
        return;
    }
    const QStringList shown = entryFields();
    SelectedRecord = ComposeRecordLine(shown[0], shown[1], shown[2], shown[3]);
    Text5->markPickedLine();
}

QStringList Form1::entryFields() const
{
    return {Text1->text(), Text2->text(), Text3->text(), Combo1->currentText()};
}

void Form1::writeEntryFields(const QStringList &texts)
{
    QLineEdit *lineFields[] = {Text1, Text2, Text3};
    for (qsizetype k = 0; k < texts.size() && k < 3; ++k)
        lineFields[k]->setText(texts[k]);
    if (texts.size() > 3)
        Combo1->setEditText(texts[3]);
}

bool Form1::entryFieldsFitRecordLine()
{
    const QStringList fields = entryFields();
    const FieldProblem problem = findFieldProblem(fields[0], fields[1], fields[2], fields[3]);
    if (problem.field < 0)
        return true;
    // The fields are named by their labels' captions.
    const QLabel *labels[] = {Label1, Label2, Label3, Label5};
    if (problem.kind == FieldProblem::TooLong) {
        warn(QStringLiteral("The fields \"%1\", \"%2\" and \"%3\" hold %4 characters together. "
                            "They may hold at most %5 together, or the record could not be "
                            "picked back from the view.\n\nShorten them and try again; nothing "
                            "was changed.")
                 .arg(labels[0]->text(), labels[1]->text(), labels[2]->text())
                 .arg(fields[0].size() + fields[1].size() + fields[2].size())
                 .arg(kPickableFieldsLength));
        return false;
    }
    warn(QStringLiteral("The field \"%1\" holds %2, which would break the record line.\n\n"
                        "Remove it and try again; nothing was changed.")
             .arg(labels[problem.field]->text(), problem.reason));
    return false;
}

// Says why a write failed and returns false; else shows the merged text in
// the view, where the write merged another program's changes.
bool Form1::showWritten(const FileResult<WrittenDatabase> &written)
{
    if (!written.ok()) {
        warn(writeFailureText(m_programDirectory, written.reason));
        return false;
    }
    if (written.value.tookInOtherChanges())
        Text5->replaceDatabaseTextKeepingPlace(written.value.text, DatabaseView::Undo::With);
    return true;
}

namespace {

// The records a merge kept in two versions or kept changed, for a message.
QString mergedRecordsText(const MergeReport &merge)
{
    QString text;
    if (!merge.inTwoVersions.isEmpty())
        text += QStringLiteral("\n\nThese records were changed both here and there, so both "
                               "versions are kept (this window's first):\n") +
                merge.inTwoVersions.join(u'\n');
    if (!merge.changedAndRemoved.isEmpty())
        text += QStringLiteral("\n\nThese records were changed in one place and removed in the "
                               "other, so the changed record is kept:\n") +
                merge.changedAndRemoved.join(u'\n');
    return text;
}

} // namespace

// Tells what a write took in from another program's changes.
void Form1::reportMerge(const WrittenDatabase &written)
{
    reportCopies(written.copies);
    const MergeReport &merge = written.merge;
    if (!merge.merged)
        return;
    QMessageBox::information(
        this, kApplicationTitle,
        QStringLiteral("The database %1 had been changed by another program since Stockbook "
                       "last read it. Its changes were merged with yours: %2 records came from "
                       "there and %3 were removed there.")
                .arg(databasePathText(m_programDirectory))
                .arg(merge.fromFile)
                .arg(merge.removedInFile) +
            mergedRecordsText(merge));
}

// Tells what the sync tools' copies brought into the view, or why one could
// not be read.
void Form1::reportCopies(const QList<CopyReport> &copies)
{
    QStringList told;
    for (const CopyReport &copy : copies) {
        if (!copy.unreadable.isEmpty()) {
            warn(QStringLiteral("Could not read %1, a copy of the database that a sync tool left "
                                "beside it:\n%2\n\nIt was left as it is.")
                     .arg(copy.name, copy.unreadable));
            continue;
        }
        told << QStringLiteral("%1: %2 records came from it.")
                        .arg(copy.name)
                        .arg(copy.merge.fromFile) +
                    (copy.withoutAncestor
                         ? QStringLiteral(" No earlier version was found to compare it with, so "
                                          "every record of both was kept.")
                         : QString()) +
                    mergedRecordsText(copy.merge);
    }
    if (!told.isEmpty())
        QMessageBox::information(
            this, kApplicationTitle,
            QStringLiteral("Merged into the database view the copies that a sync tool left "
                           "beside the database, which hold another machine's changes. Save "
                           "writes them; the copies then move into stockbook-versions.\n\n") +
                told.join(QStringLiteral("\n\n")));
}

// While the database could not be read at start-up, nothing is written over
// it: says so and returns true.
bool Form1::writingIsRefused()
{
    if (m_session.unreadableReason().isEmpty())
        return false;
    warn(QStringLiteral("The database %1 could not be read when Stockbook started (%2), "
                        "so it is not written over.\n\n"
                        "Make the file readable and start Stockbook again.")
             .arg(databasePathText(m_programDirectory), m_session.unreadableReason()));
    return true;
}

void Form1::warn(const QString &text)
{
    QMessageBox::warning(this, kApplicationTitle, text);
}

void Form1::warnUnreadableDatabase()
{
    if (m_programDirectory.isEmpty()) {
        warn(QStringLiteral("Stockbook cannot tell which folder it was started from: the "
                            "folder's name is not valid UTF-8 text.\n\nThe database, "
                            "stockbook.txt, lies beside the program, so in this run nothing is "
                            "read or saved. Move Stockbook to a folder whose name is valid UTF-8 "
                            "text and start it again."));
        return;
    }
    warn(QStringLiteral("Could not read the database %1:\n%2\n\n"
                        "The view stays empty, and Save and Update will not write over the file. "
                        "Quit, make the file readable (or move it out of the folder) and start "
                        "Stockbook again.")
             .arg(databasePathText(m_programDirectory), m_session.unreadableReason()));
}
