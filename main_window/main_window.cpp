// SPDX-License-Identifier: GPL-3.0-or-later

#include "main_window/main_window.h"

#include <algorithm>
#include <optional>
#include <utility>

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "main_window/count_step.h"
#include "main_window/database_view.h"
#include "main_window/messages.h"
#include "main_window/search_case.h"
#include "record_store/record_store.h"

using namespace RecordStore;

namespace {

const QString kPlaceholder = QStringLiteral("...");
// The types offered are stored in the records as they stand, so they are the
// same in every language.
const QStringList kComponentTypes = {
    QStringLiteral("Resistor"),   QStringLiteral("Capacitor"),     QStringLiteral("Inductor"),
    QStringLiteral("Transistor"), QStringLiteral("RF Transistor"), QStringLiteral("Xtal"),
    QStringLiteral("Resonator"),  QStringLiteral("Socket"),        QStringLiteral("IC"),
    QStringLiteral("MicroChip"),  QStringLiteral("Other")};
const RecordFields kEmptyEntry{QString(), QString(), QStringLiteral("0"), kPlaceholder};

QString composeRecordLine(const RecordFields &fields)
{
    return ComposeRecordLine(fields.box, fields.item, fields.count, fields.type);
}

} // namespace

Form1::Form1(const QString &programDirectory, QWidget *parent)
    : QWidget(parent), m_programDirectory(programDirectory), m_session(programDirectory)
{
    createControls();
    connectHandlers();
    explainRefusedPastes();
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
    std::optional<QString> text = m_session.followFile(Text5->databaseText());
    if (!text)
        return;
    const QList<CopyReport> copies = m_session.mergeConflictCopies(*text);
    Text5->replaceDatabaseTextKeepingPlace(*text);
    reportCopies(copies);
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

// A one-line field refuses a pasted text that holds a line break beyond its
// final line ends (see OneLineValidator) and is left as it was; a text the
// window set keeps its break, and Add and Update name it.
void Form1::explainRefusedPastes()
{
    const std::pair<QLineEdit *, QLabel *> fields[] = {{Text1, Label1},
                                                       {Text2, Label2},
                                                       {Text3, Label3},
                                                       {Combo1->lineEdit(), Label5},
                                                       {Text4, Label4}};
    for (const auto &[field, label] : fields) {
        connect(field, &QLineEdit::inputRejected, this, [this, field = field, label = label] {
            QTimer::singleShot(0, this, [this, field, label] {
                const QString text = field->text();
                if (std::none_of(text.cbegin(), text.cend(), isLineEndCharacter))
                    warn(field == Text4 ? Messages::searchPasteRefused(label->text())
                                        : Messages::pasteRefused(label->text()));
            });
        });
    }
}

void Form1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_session.writable().ok() && !m_warnedOfUnreadableDatabase) {
        m_warnedOfUnreadableDatabase = true;
        QTimer::singleShot(0, this, &Form1::warnUnreadableDatabase);
    }
    if (!m_copiesAtStartUp.isEmpty())
        QTimer::singleShot(0, this, [this] { reportCopies(std::exchange(m_copiesAtStartUp, {})); });
}

void Form1::Form_Load()
{
    FileResult<QString> loaded = m_session.load();
    if (loaded.okOrNoFile()) {
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
    EntryRecord = composeRecordLine(entryFields());
    // The record starts a line of its own, also after a line typed into the
    // view without its line end.
    const QString lineStart = Text5->endsInOpenLine() ? QStringLiteral("\r\n") : QString();
    Text5->appendDatabaseText(lineStart + EntryRecord);
    Text2->clear();
    Text3->setText(QStringLiteral("0"));
    // The next entry starts at its item: the box stays for it.
    Text2->setFocus();
}

void Form1::Command4_Click()
{
    const auto [view, change] = Text5->databaseTextAndChange();
    if (!m_session.hasSomethingToSave(view) || writingIsRefused())
        return;
    const FileResult<WrittenDatabase> written = m_session.save(view, change);
    if (showWritten(written))
        reportWrite(written.value, true);
}

void Form1::Command5_Click()
{
    close();
}

void Form1::Command6_Click()
{
    if (SelectedRecord.isEmpty())
        return writeEntryFields(kEmptyEntry);
    if (!entryFieldsFitRecordLine())
        return;
    EntryRecord = composeRecordLine(entryFields());
    if (writingIsRefused())
        return;
    const QString view = Text5->databaseText();
    const FileResult<WrittenDatabase> written = m_session.update(view, SelectedRecord, EntryRecord);
    if (written.status == FileStatus::NotFound)
        return warnRecordNotFound();
    if (!showWritten(written))
        return;
    const bool lastLineEnds =
        !m_session.viewHoldsWholeDatabase() && lastLineEndsInWhole(view, written.value.text);
    if (!written.value.tookInOtherChanges() && EntryRecord != SelectedRecord &&
        (lastLineEnds ? QString(view + u"\r\n") : view).contains(SelectedRecord))
        Text5->replaceInDatabaseText(view, SelectedRecord, EntryRecord, lastLineEnds);
    Text5->showAndUnmarkPickedLine();
    SelectedRecord.clear();
    writeEntryFields(kEmptyEntry);
    reportWrite(written.value, false);
}

void Form1::warnRecordNotFound()
{
    warn(Messages::recordNotFound(m_session.viewHoldsWholeDatabase(), SelectedRecord.chopped(2)));
}

void Form1::Text4_Change()
{
    // The view's unsaved changes stay in the session, and the search shows them.
    m_session.keepViewChanges(Text5->databaseText());
    FileResult<QString> found;
    DatabaseSnapshot snapshot;
    if (DatabaseFileExists(m_programDirectory) || m_session.holdsUnsavedChanges()) {
        // One search finds the lines of the text and of its upper-case
        // forms: the text's lines where there are any, else the retry's.
        const QString text = Text4->text();
        const QStringList forms = retryUpperCaseForms(text);
        found =
            m_session.filter(forms.contains(text) ? forms : QStringList{text} + forms, snapshot);
        if (found.okOrNoFile()) {
            if (QString lines = linesHolding(found.value, text); !lines.isEmpty()) {
                found.value = std::move(lines);
            } else {
                Text4->setText(shownRetryForm(forms, found.value));
                Text4->setCursorPosition(Text4->text().size());
            }
        }
    }
    Text5->setDatabaseText(found.value);
    m_session.searchShown(found.value);
    // A failure is told once, not on every key stroke, until a search reads
    // the file again.
    if (found.okOrNoFile())
        m_searchFailureShown = false;
    else if (!std::exchange(m_searchFailureShown, true))
        warn(Messages::searchFailed(m_programDirectory, found.reason));
}

void Form1::Text5_Click()
{
    // The pick reads only the caret's line, so it is handed that line alone.
    const DatabaseView::CaretLine line = Text5->caretLine();
    const PickedRecord picked = PickRecordFields(line.text, line.caretOffset);
    writeEntryFields(picked.fields, picked.completed);
    if (!picked.isComplete()) {
        // The fields now hold parts of two lines; an Update must not write
        // such a mixture over the record picked before.
        if (picked.completed > 0) {
            SelectedRecord.clear();
            Text5->unmarkPickedLine();
        }
        return;
    }
    SelectedRecord = composeRecordLine(entryFields());
    Text5->markPickedLine();
}

RecordFields Form1::entryFields() const
{
    return {Text1->text(), Text2->text(), Text3->text(), Combo1->currentText()};
}

void Form1::writeEntryFields(const RecordFields &fields, int count)
{
    QLineEdit *lineFields[] = {Text1, Text2, Text3};
    const QString *texts[] = {&fields.box, &fields.item, &fields.count};
    for (int k = 0; k < count && k < 3; ++k)
        lineFields[k]->setText(*texts[k]);
    if (count > 3)
        Combo1->setEditText(fields.type);
}

bool Form1::entryFieldsFitRecordLine()
{
    const RecordFields fields = entryFields();
    const std::optional<FieldProblem> problem = findFieldProblem(fields);
    if (!problem)
        return true;
    // The fields are named by their labels' captions.
    warn(Messages::fieldProblem(*problem, fields,
                                {Label1->text(), Label2->text(), Label3->text(), Label5->text()}));
    return false;
}

// Says why a write failed and returns false; else shows the merged text in
// the view, where the write merged another program's changes.
bool Form1::showWritten(const FileResult<WrittenDatabase> &written)
{
    if (!written.okOrNoFile()) {
        warn(Messages::saveFailed(m_programDirectory, written.reason));
        return false;
    }
    // Taking in another writer's records ends the view's undo history, so
    // that no key press takes them back; a searched view shows the search's
    // lines of what was written.
    if (!written.value.tookInOtherChanges())
        return true;
    if (m_session.viewHoldsWholeDatabase()) {
        Text5->replaceDatabaseTextKeepingPlace(written.value.text,
                                               written.value.changeFrom(Text5->databaseText()));
    } else {
        const QString shown = m_session.filterWritten({Text4->text()});
        Text5->replaceDatabaseTextKeepingPlace(shown);
        m_session.searchShown(shown);
    }
    return true;
}

// Tells in one message that the database was `saved`, what the write took
// in from another program's changes and from the sync tools' copies, and
// which copies were left where they are.
void Form1::reportWrite(const WrittenDatabase &written, bool saved)
{
    QStringList told;
    if (saved)
        told << Messages::databaseSaved(m_programDirectory);
    if (written.merge.merged)
        told << Messages::merged(m_programDirectory, written.merge);
    if (const QString copies = Messages::copiesMerged(written.copies, true); !copies.isEmpty())
        told << copies;
    for (const CopyReport &copy : written.copies) {
        if (!copy.read.ok() && !std::exchange(m_copiesLeftTold[copy.name], true))
            told << Messages::copyUnreadable(copy);
    }
    if (told.isEmpty())
        return;
    QMessageBox message(saved ? QMessageBox::NoIcon : QMessageBox::Information,
                        Messages::applicationTitle(), told.join(QStringLiteral("\n\n")),
                        QMessageBox::Ok, this);
    message.exec();
}

// Tells what the sync tools' copies brought into the view, or why one could
// not be read.
void Form1::reportCopies(const QList<CopyReport> &copies)
{
    // A copy left where it is is told once, not at every Save.
    for (const CopyReport &copy : copies) {
        if (!copy.read.ok() && !std::exchange(m_copiesLeftTold[copy.name], true))
            warn(Messages::copyUnreadable(copy));
    }
    const QString told = Messages::copiesMerged(copies);
    if (!told.isEmpty())
        QMessageBox::information(this, Messages::applicationTitle(), told);
}

// While the database could not be read at start-up, nothing is written over
// it: says so and returns true.
bool Form1::writingIsRefused()
{
    const FileResult<void> writable = m_session.writable();
    if (writable.ok())
        return false;
    warn(Messages::writingRefused(m_programDirectory, writable.reason));
    return true;
}

void Form1::warn(const QString &text)
{
    QMessageBox::warning(this, Messages::applicationTitle(), text);
}

void Form1::warnUnreadableDatabase()
{
    warn(Messages::unreadableDatabase(m_programDirectory, m_session.writable().reason));
}
