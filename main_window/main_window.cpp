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
    : QWidget(parent), m_programDirectory(programDirectory)
{
    createControls();
    connectHandlers();
    Form_Load();
    Text1->setFocus();
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
    if (!m_unreadableDatabase.isEmpty() && !m_warnedOfUnreadableDatabase) {
        m_warnedOfUnreadableDatabase = true;
        QTimer::singleShot(0, this, &Form1::warnUnreadableDatabase);
    }
}

void Form1::Form_Load()
{
    const FileResult<DatabaseText> loaded = LoadDatabaseFile(m_programDirectory);
    if (loaded.ok()) {
        Text5->setDatabaseText(loaded.value.text);
        m_knownContent = loaded.value.digest;
    } else {
        m_unreadableDatabase = loaded.reason;
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
    if (Text4->text() != kPlaceholder || !m_viewHoldsWholeDatabase)
        return;
    if (!writeDatabase(Text5->databaseText(), IfChangedElsewhere::Ask))
        return;
    QMessageBox message(QMessageBox::NoIcon, kApplicationTitle,
                        QStringLiteral("Database saved in ") + databasePathText(m_programDirectory),
                        QMessageBox::Ok, this);
    message.exec();
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
    const QString database = databaseTextToUpdate(view);
    if (database.isNull())
        return;
    const IfChangedElsewhere ifChanged =
        m_viewHoldsWholeDatabase ? IfChangedElsewhere::Ask : IfChangedElsewhere::Write;
    if (!writeDatabase(QString(database).replace(SelectedRecord, EntryRecord), ifChanged))
        return;
    if (EntryRecord != SelectedRecord && view.contains(SelectedRecord))
        Text5->replaceInDatabaseText(view, SelectedRecord, EntryRecord);
    SelectedRecord.clear();
    writeEntryFields({QString(), QString(), QStringLiteral("0"), kPlaceholder});
}

// The text an Update replaces the picked record in, when it holds the record;
// else, having said why, a null text. The whole view is the database. A
// searched view holds only some records: the change then goes into the
// database as the file holds it now, so that the hidden records stay.
QString Form1::databaseTextToUpdate(const QString &view)
{
    const QString path = databasePathText(m_programDirectory);
    QString where = QStringLiteral("the database view");
    QString database = view;
    if (!m_viewHoldsWholeDatabase) {
        const FileResult<DatabaseText> file = LoadDatabaseFile(m_programDirectory);
        if (!file.ok()) {
            warn(QStringLiteral("Could not read the database %1 to update it:\n%2\n\n"
                                "Nothing was changed.")
                     .arg(path, file.reason));
            return QString();
        }
        database = file.value.text;
        where = file.status == FileStatus::Ok
                    ? QStringLiteral("the database file %1").arg(path)
                    : QStringLiteral("the database file %1, which no longer exists").arg(path);
    }
    if (database.contains(SelectedRecord))
        return database;
    warn(QStringLiteral("The record you picked is no longer in %1:\n\n%2\n\n"
                        "It was changed or removed there since you picked it, so nothing was "
                        "updated. The fields keep your entry; pick the record again to update it.")
             .arg(where, SelectedRecord.chopped(2)));
    return QString();
}

void Form1::Text4_Change()
{
    m_viewHoldsWholeDatabase = false;
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
        if (!fields.isEmpty())
            SelectedRecord.clear();
        return;
    }
    const QStringList shown = entryFields();
    SelectedRecord = ComposeRecordLine(shown[0], shown[1], shown[2], shown[3]);
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

bool Form1::writeDatabase(const QString &text, IfChangedElsewhere ifChanged)
{
    if (writingIsRefused())
        return false;
    if (ifChanged == IfChangedElsewhere::Ask && !confirmReplacingOtherChanges())
        return false;
    const FileResult<ContentDigest> written = WriteDatabaseFile(m_programDirectory, text);
    if (!written.ok()) {
        warn(writeFailureText(m_programDirectory, written.reason));
        return false;
    }
    m_knownContent = written.value;
    return true;
}

// While the database could not be read at start-up, nothing is written over
// it: says so and returns true.
bool Form1::writingIsRefused()
{
    if (m_unreadableDatabase.isEmpty())
        return false;
    warn(QStringLiteral("The database %1 could not be read when Stockbook started (%2), "
                        "so it is not written over.\n\n"
                        "Make the file readable and start Stockbook again.")
             .arg(databasePathText(m_programDirectory), m_unreadableDatabase));
    return true;
}

// True when the file is as this window last read or wrote it, or gone, or the
// user chose to replace another program's changes.
bool Form1::confirmReplacingOtherChanges()
{
    const QString path = databasePathText(m_programDirectory);
    const FileResult<ContentDigest> now = ReadDatabaseDigest(m_programDirectory);
    if (!now.ok()) {
        warn(QStringLiteral("Could not read the database %1 to see whether another program "
                            "changed it:\n%2\n\nNothing was written; your changes are still in "
                            "the window.")
                 .arg(path, now.reason));
        return false;
    }
    if (!now.value.exists || now.value == m_knownContent)
        return true;
    QMessageBox question(QMessageBox::Warning, kApplicationTitle,
                         QStringLiteral("The database %1 was changed by another program since "
                                        "Stockbook read it.\n\nReplace it with the window's "
                                        "text, losing those changes?")
                             .arg(path),
                         QMessageBox::NoButton, this);
    const QPushButton *replace =
        question.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
    QPushButton *cancel = question.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    question.setDefaultButton(cancel);
    question.setEscapeButton(cancel);
    question.exec();
    return question.clickedButton() == replace;
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
             .arg(databasePathText(m_programDirectory), m_unreadableDatabase));
}
