// SPDX-License-Identifier: GPL-3.0-or-later

#include <memory>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextBlock>
#include <QtTest>

#include "main_window/database_view.h"
#include "main_window/main_window.h"
#include "record_store/history.h"
#include "record_store/record_store.h"
#include "tests/test_support.h"
#include "tests/window_driver.h"

using RecordStore::ComposeRecordLine;
using RecordStore::WriteDatabaseFile;
using namespace TestSupport;

namespace {

const QString r1 = ComposeRecordLine("A1", "10k", "25", "Resistor");
const QString r2 = ComposeRecordLine("B2", "BC547", "4", "Transistor");
const QString r3 = ComposeRecordLine("C3", "R1 spare", "7", "Other");

// A program directory of its own, with a database file unless told
// otherwise, and the window on it once opened.
struct Window
{
    explicit Window(const QByteArray &database = QByteArray(), bool withFile = true)
    {
        if (withFile)
            dir.writeDatabase(database);
    }
    void open()
    {
        driver = std::make_unique<WindowDriver>(dir.path());
    }
    WindowDriver *operator->() const
    {
        return driver.get();
    }

    ProgramDirectory dir;
    std::unique_ptr<WindowDriver> driver;
};

// The text a control shows: a frame's title, a label's, a button's or a
// field's text.
QString captionOf(const QWidget *widget)
{
    if (auto *box = qobject_cast<const QGroupBox *>(widget))
        return box->title();
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<const QPushButton *>(widget))
        return button->text();
    if (auto *line = qobject_cast<const QLineEdit *>(widget))
        return line->text();
    if (auto *combo = qobject_cast<const QComboBox *>(widget))
        return combo->currentText();
    return QString();
}

} // namespace

class MainWindowTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsInItsInitialState();
    void layoutMatchesTable_data();
    void layoutMatchesTable();
    void tabCycle();
    void countSteps_data();
    void countSteps();
    void newEntryRoad();
    void addConditions_data();
    void addConditions();
    void saveRule_data();
    void saveRule();
    void searchedEditAfterSavedBlankLine();
    void changeOfCountRoad();
    void pickOnEveryClick();
    void pickNeedsLineEnd();
    void viewShowsWhatWasDone();
    void upperCaseRetry();
    void updateWithoutPickOnlyClears();
    void updateReplacesEveryOccurrence();
    void updateThatFindsNothingSaysSo_data();
    void updateThatFindsNothingSaysSo();
    void searchedUpdateWritesWhatTheWindowHolds_data();
    void searchedUpdateWritesWhatTheWindowHolds();
    void viewFollowsTheFile_data();
    void viewFollowsTheFile();
    void conflictCopiesAreMerged_data();
    void conflictCopiesAreMerged();
    void oneSlipIsUndone();
    void twoWindowsLoseNothing();
    void refusesFieldsThatBreakTheLine_data();
    void refusesFieldsThatBreakTheLine();
    void pastedLineEndIsDropped();
    void failedWriteIsReported();
    void unreadableDatabaseIsNeverOverwritten();
    void unreadableDatabaseDuringSearch();
    void viewTextKeepsEveryCharacter();
};

void MainWindowTest::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void MainWindowTest::startsInItsInitialState()
{
    Window w(QByteArray(), false);
    MessageCatcher messages;
    w.open();
    QTRY_COMPARE(QApplication::focusWidget(), w->field(Box));
    QCOMPARE(w->entry(), (QStringList{"", "", "0", "..."}));
    QCOMPARE(w->search()->text(), QString("..."));
    QCOMPARE(w->view()->databaseText(), QString());
    QCOMPARE(w->type()->currentIndex(), -1);
    QStringList types;
    for (int k = 0; k < w->type()->count(); ++k)
        types << w->type()->itemText(k);
    QCOMPARE(types, (QStringList{"Resistor", "Capacitor", "Inductor", "Transistor", "RF Transistor",
                                 "Xtal", "Resonator", "Socket", "IC", "MicroChip", "Other"}));
    QVERIFY(w->form().windowTitle().startsWith("Stockbook v1.01 by "));
    QVERIFY(!w->form().windowIcon().isNull());
    QCOMPARE(w->form().minimumSize(), w->form().maximumSize());
    QTest::qWait(20);
    QVERIFY(messages.texts().isEmpty());
}

void MainWindowTest::layoutMatchesTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Frame1") << "Frame1"
                            << "Form1" << QRect(24, 16, 257, 297) << "Database";
    QTest::newRow("Label2") << "Label2"
                            << "Frame1" << QRect(16, 64, 97, 17) << "Component Name";
    QTest::newRow("Text3") << "Text3"
                           << "Frame1" << QRect(120, 88, 41, 19) << "0";
    QTest::newRow("Command2") << "Command2"
                              << "Frame1" << QRect(200, 88, 25, 17) << "-";
    QTest::newRow("Combo1") << "Combo1"
                            << "Frame1" << QRect(120, 112, 97, 21) << "...";
    QTest::newRow("Command6") << "Command6"
                              << "Frame1" << QRect(120, 152, 57, 25) << "Update";
    QTest::newRow("Command5") << "Command5"
                              << "Frame1" << QRect(184, 152, 49, 25) << "Quit";
    QTest::newRow("Frame2") << "Frame2"
                            << "Form1" << QRect(296, 16, 433, 297) << "Search";
    QTest::newRow("Text4") << "Text4"
                           << "Frame2" << QRect(88, 40, 145, 19) << "...";
    QTest::newRow("Text5") << "Text5"
                           << "Frame2" << QRect(24, 88, 385, 177) << "";
}

void MainWindowTest::layoutMatchesTable()
{
    QFETCH(QString, name);
    QFETCH(QString, container);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    // At 7 points the table's pixels hold every caption; at 9 and 14 points the
    // whole layout grows by one factor: each edge is the table's times it.
    const QFont desktopFont = QApplication::font();
    const auto restoreFont = qScopeGuard([&] { QApplication::setFont(desktopFont); });
    qreal scale = 1;
    const auto scaled = [&scale](int edge) {
        return qRound(edge * scale);
    };
    for (const qreal points : {7.0, 9.0, 14.0}) {
        QFont font = desktopFont;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        Window w;
        w.open();
        QCOMPARE(w->form().font(), font);
        QVERIFY(!w->control(qPrintable(name))->testAttribute(Qt::WA_SetFont));
        QVERIFY(points == 7 ? w->form().layoutScale() == 1 : w->form().layoutScale() > scale);
        scale = w->form().layoutScale();
        QCOMPARE(w->form().size(), QSize(scaled(753), scaled(329)));
        const QRect at = w->control(qPrintable(name))->geometry();
        QCOMPARE(
            at, QRect(QPoint(scaled(geometry.left()), scaled(geometry.top())),
                      QPoint(scaled(geometry.right() + 1) - 1, scaled(geometry.bottom() + 1) - 1)));
        // A font that changes while the window is open lays it out anew.
        QApplication::setFont(desktopFont);
        QTRY_COMPARE(w->form().layoutScale() == scale, font == desktopFont);
    }
    Window w;
    w.open();
    QWidget *widget = w->control(qPrintable(name));
    QCOMPARE(widget->parentWidget()->objectName(), container);
    QCOMPARE(captionOf(widget), caption);
    if (auto *button = qobject_cast<QPushButton *>(widget))
        QVERIFY(!button->autoDefault() && !button->isDefault());
}

void MainWindowTest::tabCycle()
{
    Window w;
    w.open();
    w->form().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w->form()));
    w->field(Box)->setFocus();
    const QStringList cycle{"Text2",  "Text3",    "Command1", "Command2", "Text4",    "Text5",
                            "Combo1", "Command3", "Command4", "Command5", "Command6", "Text1"};
    QStringList visited;
    for (int k = 0; k < cycle.size(); ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        // The type field's focus sits on its line edit.
        visited << (focus->parentWidget() == w->type() ? w->type() : focus)->objectName();
    }
    QCOMPARE(visited, cycle);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget()->objectName(), QString("Command6"));
    QCOMPARE(w->view()->databaseText(), QString()); // Tab typed nothing into the view
}

void MainWindowTest::countSteps_data()
{
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("plus");
    QTest::addColumn<QString>("minus");
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("not numeric") << "abc"
                                 << "abc"
                                 << "abc";
    QTest::newRow("zero") << "0"
                          << "1"
                          << "0";
    QTest::newRow("negative") << "-3"
                              << "-2"
                              << "-3";
    QTest::newRow("carry") << "9"
                           << "10"
                           << "8";
    QTest::newRow("one") << "1"
                         << "2"
                         << "0";
    QTest::newRow("leading zeros") << "007"
                                   << "8"
                                   << "6";
    QTest::newRow("leading blank") << " 7"
                                   << "8"
                                   << "6";
    QTest::newRow("decimal") << "2.5"
                             << "3.5"
                             << "1.5";
    QTest::newRow("half") << "0.5"
                          << "1.5"
                          << "-0.5";
    QTest::newRow("exponent") << "1e3"
                              << "1001"
                              << "999";
    QTest::newRow("thousands separator") << "1,500"
                                         << "1501"
                                         << "1499";
    QTest::newRow("trailing text") << "5 pcs"
                                   << "5 pcs"
                                   << "5 pcs";
    QTest::newRow("large whole number") << "99999999999999"
                                        << "100000000000000"
                                        << "99999999999998";
    QTest::newRow("infinity is no count") << "inf"
                                          << "inf"
                                          << "inf";
    QTest::newRow("not-a-number is no count") << "nan"
                                              << "nan"
                                              << "nan";
    // Rows named after a locale run in it.
    QTest::newRow("de_DE decimal comma") << "12,75"
                                         << "13,75"
                                         << "11,75";
    QTest::newRow("de_DE written without group separator") << "999"
                                                           << "1000"
                                                           << "998";
    QTest::newRow("de_CH apostrophe as group separator") << "1'000"
                                                         << "1001"
                                                         << "999";
    QTest::newRow("fr_FR no-break space as group separator") << "1\u00a0000"
                                                             << "1001"
                                                             << "999";
}

void MainWindowTest::countSteps()
{
    QFETCH(QString, count);
    QFETCH(QString, plus);
    QFETCH(QString, minus);
    const QString locale = QString(QTest::currentDataTag()).section(' ', 0, 0);
    QLocale::setDefault(locale.contains('_') ? QLocale(locale) : QLocale::c());
    const auto backToC = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    Window w;
    w.open();
    w->field(Count)->setText(count);
    w->click(Plus);
    QCOMPARE(w->field(Count)->text(), plus);
    w->field(Count)->setText(count);
    w->click(Minus);
    QCOMPARE(w->field(Count)->text(), minus);
    QCOMPARE(w->view()->databaseText(), QString());
}

void MainWindowTest::newEntryRoad()
{
    Window w(r1.toUtf8() + "\r\n");
    w.open();
    QTest::keyClicks(w->field(Box), "A3");
    QTest::keyClicks(w->field(Item), "BC547");
    for (int k = 0; k < 25; ++k)
        w->click(Plus);
    w->type()->setCurrentIndex(w->type()->findText("Transistor"));
    w->click(Add);
    const QString added = ComposeRecordLine("A3", "BC547", "25", "Transistor");
    QCOMPARE(w->form().entryRecord(), added);
    QCOMPARE(w->view()->databaseText(), r1 + added);
    QCOMPARE(w->entry(), (QStringList{"A3", "", "0", "Transistor"}));

    MessageCatcher messages;
    w->click(Save);
    QCOMPARE(messages.texts(), QStringList("Database saved in " + w.dir.databasePath()));
    QCOMPARE(messages.titles(), QStringList("Stockbook"));
    QCOMPARE(messages.icons(), QList<int>{QMessageBox::NoIcon});
    QCOMPARE(w.dir.readDatabase(), (r1 + added + "\r\n").toUtf8());
    QCOMPARE(w->view()->databaseText(), r1 + added);
}

void MainWindowTest::addConditions_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<QStringList>("entry");
    QTest::addColumn<QString>("viewAfter");
    QTest::newRow("box empty") << r1 << QStringList{"", "x", "1", "IC"} << r1;
    QTest::newRow("item empty") << r1 << QStringList{"A", "", "1", "IC"} << r1;
    QTest::newRow("blank box is not empty")
        << "" << QStringList{" ", "x", "1", "IC"} << "[Box]:   [Item]: x [Nr]: 1 [Type]: IC\r\n";
    QTest::newRow("count empty, type untouched")
        << "" << QStringList{"A", "x", "", "..."} << "[Box]: A [Item]: x [Nr]:  [Type]: ...\r\n";
    QTest::newRow("view without final line end")
        << "free text" << QStringList{"A", "x", "1", "IC"}
        << "free text\r\n[Box]: A [Item]: x [Nr]: 1 [Type]: IC\r\n";
    QTest::newRow("same entry twice")
        << r1 << QStringList{"A1", "10k", "25", "Resistor"} << r1 + r1;
}

void MainWindowTest::addConditions()
{
    QFETCH(QString, view);
    QFETCH(QStringList, entry);
    QFETCH(QString, viewAfter);
    Window w;
    w.open();
    w->view()->setDatabaseText(view);
    w->setEntry(entry);
    w->click(Add);
    QCOMPARE(w->view()->databaseText(), viewAfter);
    if (viewAfter == view)
        QCOMPARE(w->entry(), entry);
    else
        QCOMPARE(w->entry(), (QStringList{entry[0], "", "0", entry[3]}));
    QCOMPARE(w->form().focusWidget(), viewAfter == view ? w->control("Command3") : w->field(Item));
    QCOMPARE(w.dir.readDatabase(), QByteArray()); // Add never writes the file
}

void MainWindowTest::saveRule_data()
{
    // After a search, Save writes the view's changes since the search into
    // the file and keeps the records the search hid.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("added");
    QTest::addColumn<QByteArray>("written");
    const QByteArray both = (r1 + r2).toUtf8();
    const QByteArray file = both + "\r\n";
    QTest::newRow("placeholder untouched")
        << file << QStringList() << "edited by hand" << both + "edited by hand\r\n";
    QTest::newRow("search field empty")
        << file << QStringList{""} << "edited by hand" << both + "edited by hand\r\n\r\n";
    QTest::newRow("placeholder with a blank") << file << QStringList{"... "} << "edited by hand\r\n"
                                              << both + "edited by hand\r\n\r\n";
    QTest::newRow("other text") << file << QStringList{"A1"} << r3 << both + r3.toUtf8() + "\r\n";
    QTest::newRow("placeholder typed back after a search")
        << file << QStringList{"A1", "..."} << "edited by hand" << both + "edited by hand\r\n\r\n";
    QTest::newRow("searched view unchanged: nothing written")
        << file << QStringList{"A1"} << "" << QByteArray();
    // Over a million characters, which the merge splits in two just behind
    // B20158's line, among the search's lines.
    QByteArray longFile;
    for (int k = 0; k < 40000; ++k)
        longFile += QStringLiteral("[Box]: B%1 [Item]: a long list\r\n").arg(k).toUtf8();
    QTest::newRow("a long database, searched around its middle") << longFile + "\r\n"
                                                                 << QStringList{"B2015"} << "N\r\n"
                                                                 << longFile + "N\r\n\r\n";
}

void MainWindowTest::saveRule()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, typed);
    QFETCH(QString, added);
    QFETCH(QByteArray, written);
    Window w(file);
    w.open();
    for (const QString &text : typed)
        w->typeSearch(text);
    w->view()->appendDatabaseText(added);
    const QString view = w->view()->databaseText();
    MessageCatcher messages;
    w->click(Save);
    QTest::qWait(20);
    QCOMPARE(messages.texts().size(), written.isEmpty() ? 0 : 1);
    QCOMPARE(w.dir.readDatabase(), written.isEmpty() ? file : written);
    QCOMPARE(w->view()->databaseText(), view);
}

void MainWindowTest::searchedEditAfterSavedBlankLine()
{
    // A searched Save's blank line, which a load drops: the next edit stays in place.
    Window w("\r\nR\r\nH\r\n\r\n");
    w.open();
    MessageCatcher messages;
    w->typeSearch("R");
    for (const char *view : {"R\r\n\r\nX\r\n", "R2\r\n\r\nX\r\n"}) {
        w->view()->setDatabaseText(view);
        w->click(Save);
    }
    QCOMPARE(w.dir.readDatabase(), QByteArray("\r\nR2\r\nH\r\nX\r\n\r\n"));
}

void MainWindowTest::changeOfCountRoad()
{
    // The view is narrowed to one record; Update must keep the hidden ones.
    Window w((r1 + r2 + r3 + "\r\n").toUtf8());
    w.open();
    w->typeSearch("BC5");
    QCOMPARE(w->view()->databaseText(), r2);
    w->pickWithKey(Qt::SHIFT | Qt::Key_F10); // the caret stands at the start
    QCOMPARE(w->entry(), (QStringList{"B2", "BC547", "4", "Transistor"}));
    QCOMPARE(w->form().selectedRecord(), r2);
    w->click(Plus);
    w->click(Update);
    const QString changed = ComposeRecordLine("B2", "BC547", "5", "Transistor");
    QCOMPARE(w->view()->databaseText(), changed);
    QCOMPARE(w.dir.readDatabase(), (r1 + changed + r3 + "\r\n").toUtf8());
    QCOMPARE(w->entry(), (QStringList{"", "", "0", "..."}));
    QCOMPARE(w->form().selectedRecord(), QString());
    QCOMPARE(w->form().entryRecord(), changed);

    // On the whole view, Update writes the view as it stands.
    Window whole((r1 + r2 + "\r\n").toUtf8());
    whole.open();
    whole->view()->appendDatabaseText(r3);
    whole->pickWithKey(Qt::Key_Menu);
    whole->field(Count)->setText("30");
    whole->click(Update);
    const QString r1changed = ComposeRecordLine("A1", "10k", "30", "Resistor");
    QCOMPARE(whole.dir.readDatabase(), (r1changed + r2 + r3 + "\r\n").toUtf8());
}

void MainWindowTest::pickOnEveryClick()
{
    Window w((r1 + r2 + "\r\n").toUtf8());
    w.open();
    w->clickLine(1, 40);
    QCOMPARE(w->entry(), (QStringList{"B2", "BC547", "4", "Transistor"}));
    w->setEntry({"x", "y", "z", "w"});
    w->clickLine(1, 40); // the caret does not move
    QCOMPARE(w->entry(), (QStringList{"B2", "BC547", "4", "Transistor"}));
    // Moving the caret with the keyboard picks nothing.
    w->setEntry({"x", "y", "z", "w"});
    QTest::keyClick(w->view(), Qt::Key_Up);
    QCOMPARE(w->entry(), (QStringList{"x", "y", "z", "w"}));
}

void MainWindowTest::pickNeedsLineEnd()
{
    Window w(r1.toUtf8());
    w.open();
    w->view()->appendDatabaseText("[Box]: X [Item]: Y [Nr]: 1 [Type]: Z");
    w->clickLine(1, 10);
    QCOMPARE(w->entry(), (QStringList{"", "", "0", "..."}));
    QCOMPARE(w->form().selectedRecord(), QString());
    w->clickLine(0, 47);
    QCOMPARE(w->form().selectedRecord(), r1);

    // A pick that stops part way leaves no selection for Update to write.
    w->view()->setDatabaseText(r1 + "[Box]: Q9 [Item]: note to self, no count yet\r\n");
    w->clickLine(0, 5);
    w->clickLine(1, 5);
    QCOMPARE(w->entry(), (QStringList{"Q9", "10k", "25", "Resistor"}));
    QCOMPARE(w->form().selectedRecord(), QString());
    w->click(Update);
    QCOMPARE(w.dir.readDatabase(), r1.toUtf8());
}

void MainWindowTest::viewShowsWhatWasDone()
{
    Window w(r1.repeated(60).toUtf8());
    w.open();
    DatabaseView *view = w->view();
    const auto inSight = [view](int line) {
        const QTextCursor at(view->document()->findBlockByNumber(line));
        return view->viewport()->rect().contains(view->cursorRect(at));
    };
    const auto mark = [view] {
        return view->extraSelections().value(0).cursor.selectedText();
    };
    w->add("Z9", "new");
    QVERIFY(inSight(60));
    w->clickLine(59, 5);
    QCOMPARE(mark(), QString("[Box]: A1 [Item]: 10k [Nr]: 25 [Type]: Resistor"));
    QVERIFY(!view->textCursor().hasSelection()); // shown, not selected
    view->moveCursor(QTextCursor::Start);        // scrolled to the top
    w->field(Count)->setText("2");
    w->click(Update);
    QVERIFY(inSight(59) && mark().isEmpty());
    w->clickLine(3, 5);
    w->typeSearch("A1");
    QCOMPARE(mark(), QString());
}

void MainWindowTest::upperCaseRetry()
{
    Window w((r1 + r2 + r3 + "\r\n").toUtf8());
    w.open();
    QTest::mouseClick(w->search(), Qt::LeftButton); // selects the placeholder, as Tab does
    QTest::keyClicks(w->search(), "r1");
    QCOMPARE(w->search()->text(), QString("R1"));
    QCOMPARE(w->search()->cursorPosition(), 2);
    QCOMPARE(w->view()->databaseText(), r3);
    w->typeSearch("zz");
    QCOMPARE(w->search()->text(), QString("ZZ"));
    QCOMPARE(w->view()->databaseText(), QString());
    w->typeSearch("");
    QCOMPARE(w->view()->databaseText(), r1 + r2 + r3);
    // µ and ß keep their letters; i is upper-cased as the user's locale does.
    QLocale::setDefault(QLocale("tr_TR"));
    const auto backToC = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    w.dir.writeDatabase("4.7µF STRAßE DİRENÇ\r\n");
    w->search()->insert("4.7µf straße direnç"); // after the empty text
    QCOMPARE(w->search()->text(), QString("4.7µF STRAßE DİRENÇ"));
    QCOMPARE(w->view()->databaseText(), QString("4.7µF STRAßE DİRENÇ\r\n"));
    // Latin capitals too: the lines with either, once each; the field shows
    // the form that found lines, the locale's where both or neither did.
    const auto retry = [&](const char *typed, const QByteArray &file) {
        w.dir.writeDatabase(file);
        w->search()->clear();
        w->search()->insert(typed);
        return QStringList{w->search()->text(), w->view()->databaseText()};
    };
    QCOMPARE(retry("dip-8", "DIP-8\r\nx\r\nDİP-8 DIP-8\r\nDİP-8\r\n"),
             (QStringList{"DİP-8", "DIP-8\r\nDİP-8 DIP-8\r\nDİP-8\r\n"}));
    QCOMPARE(retry("pic16f84", "PIC16F84\r\n"), (QStringList{"PIC16F84", "PIC16F84\r\n"}));
    QCOMPARE(retry("zi", "PIC16F84\r\n"), (QStringList{"Zİ", ""}));
    // Where the text itself is found, its capitals' lines are not shown.
    QCOMPARE(retry("r1", "R1 a\r\nr1 b\r\nR1 c\r\n"), (QStringList{"r1", "r1 b\r\n"}));
}

void MainWindowTest::updateWithoutPickOnlyClears()
{
    Window w((r1 + r2 + "\r\n").toUtf8());
    w.open();
    w->setEntry({"A", "B", "3", "IC"});
    w->click(Update);
    QCOMPARE(w->entry(), (QStringList{"", "", "0", "..."}));
    QCOMPARE(w.dir.readDatabase(), (r1 + r2 + "\r\n").toUtf8());

    // After an Update the selection is used up: a second Update touches nothing.
    w->clickLine(0, 5);
    w->click(Update);
    const QByteArray afterFirst = w.dir.readDatabase();
    QCOMPARE(afterFirst, (r1 + r2 + "\r\n").toUtf8());
    w->click(Update);
    QCOMPARE(w.dir.readDatabase(), afterFirst);
    QCOMPARE(w->view()->databaseText(), r1 + r2);
}

void MainWindowTest::updateReplacesEveryOccurrence()
{
    Window w((r1 + r2 + r1 + "\r\n").toUtf8());
    w.open();
    w->clickLine(2, 10);
    w->field(Item)->setText("22k");
    w->click(Update);
    const QString changed = ComposeRecordLine("A1", "22k", "25", "Resistor");
    QCOMPARE(w->view()->databaseText(), changed + r2 + changed);
    QCOMPARE(w.dir.readDatabase(), (changed + r2 + changed + "\r\n").toUtf8());
}

void MainWindowTest::updateThatFindsNothingSaysSo_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("said");
    QTest::newRow("edited by hand in the whole view") << "..."
                                                      << "view"
                                                      << "no longer in the database view";
    QTest::newRow("edited by hand in a searched view")
        << "A1"
        << "view"
        << "no longer in the database as this window";
}

void MainWindowTest::updateThatFindsNothingSaysSo()
{
    QFETCH(QString, search);
    QFETCH(QString, change);
    QFETCH(QString, said);
    Window w((r1 + r2 + "\r\n").toUtf8());
    w.open();
    if (search != "...")
        w->typeSearch(search);
    if (change == "add")
        w->add("C3", "new");
    w->clickLine(change == "add" ? 1 : 0, 5);
    w->click(Plus);
    const QByteArray other = (r2 + r3 + "\r\n").toUtf8();
    if (change == "view")
        w->view()->setDatabaseText(r2 + r3);
    else if (change == "file")
        w.dir.writeDatabase(other);
    else if (change == "remove")
        QVERIFY(QFile::remove(w.dir.databasePath()));
    const QString view = w->view()->databaseText();
    MessageCatcher messages;
    w->click(Update);
    QTRY_COMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts()[0].contains(said), qPrintable(messages.texts()[0]));
    QVERIFY(messages.texts()[0].contains(change == "add" ? "[Box]: C3 [Item]: new [Nr]: 0"
                                                         : "[Box]: A1 [Item]: 10k [Nr]: 25 "
                                                           "[Type]: Resistor"));
    QCOMPARE(w->entry().mid(0, 3),
             (change == "add" ? QStringList{"C3", "new", "1"} : QStringList{"A1", "10k", "26"}));
    QCOMPARE(w->view()->databaseText(), view);
    QCOMPARE(QFile::exists(w.dir.databasePath()), change != "remove");
    if (change != "remove")
        QCOMPARE(w.dir.readDatabase(), change == "file" ? other : (r1 + r2 + "\r\n").toUtf8());
}

void MainWindowTest::searchedUpdateWritesWhatTheWindowHolds_data()
{
    // A searched view's Update or Save writes the whole database as the
    // window holds it, its unsaved records too, merged with another program's
    // changes, and says so in one message.
    QTest::addColumn<bool>("add");
    QTest::addColumn<QByteArray>("file"); // another program's; "-": removed
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("said");
    const QByteArray b2c3 = "[Box]: B2 [Item]: BC547 [Nr]: 4 [Type]: Transistor\r\n"
                            "[Box]: C3 [Item]: R1 spare [Nr]: 7 [Type]: Other\r\n\r\n";
    QTest::newRow("removed in the file by another program")
        << false << b2c3 << "Update"
        << QByteArray("[Box]: A1 [Item]: 10k [Nr]: 26 [Type]: Resistor\r\n") + b2c3
        << "changed in one place and removed in the other";
    QTest::newRow("file removed") << false << QByteArray("-") << "Update"
                                  << QByteArray(
                                         "[Box]: A1 [Item]: 10k [Nr]: 26 [Type]: Resistor\r\n"
                                         "[Box]: B2 [Item]: BC547 [Nr]: 4 [Type]: "
                                         "Transistor\r\n\r\n")
                                  << "";
    QTest::newRow("added after the search, not saved")
        << true << QByteArray() << "Update"
        << QByteArray("[Box]: A1 [Item]: 10k [Nr]: 25 [Type]: Resistor\r\n"
                      "[Box]: B2 [Item]: BC547 [Nr]: 4 [Type]: Transistor\r\n"
                      "[Box]: C3 [Item]: new [Nr]: 1 [Type]: ...\r\n\r\n")
        << "";
    QTest::newRow("searched Save merging")
        << true << b2c3 << "Save"
        << b2c3.chopped(2) + "[Box]: C3 [Item]: new [Nr]: 0 [Type]: ...\r\n\r\n"
        << "1 record came from there and 1 was removed there";
}

void MainWindowTest::searchedUpdateWritesWhatTheWindowHolds()
{
    QFETCH(bool, add);
    QFETCH(QByteArray, file);
    QFETCH(QString, command);
    QFETCH(QByteArray, written);
    QFETCH(QString, said);
    Window w((r1 + r2 + "\r\n").toUtf8());
    w.open();
    w->typeSearch("A1");
    if (add)
        w->add("C3", "new");
    w->clickLine(add ? 1 : 0, 5);
    w->click(Plus);
    if (file == "-")
        QVERIFY(QFile::remove(w.dir.databasePath()));
    else if (!file.isEmpty())
        w.dir.writeDatabase(file);
    MessageCatcher messages;
    w->click(qPrintable("Command" + QString(command == "Save" ? "4" : "6")));
    QTest::qWait(20);
    QCOMPARE(messages.texts().size(), int(command == "Save" || !said.isEmpty()));
    QVERIFY2(messages.texts().join("").contains(said), qPrintable(messages.texts().join("")));
    QCOMPARE(w.dir.readDatabase(), written);
    // A Save then writes nothing twice.
    w->click(Save);
    QTest::qWait(20);
    QCOMPARE(w.dir.readDatabase(), written);
}

void MainWindowTest::viewFollowsTheFile_data()
{
    QTest::addColumn<QString>("own");
    QTest::addColumn<QString>("followed"); // empty: the view is kept
    QTest::newRow("nothing of its own: reloaded") << "" << r1 + r2 + r3;
    QTest::newRow("a sync tool's copy beside: merged with it")
        << "copy" << r1 + r2 + r3 + "copied\r\n";
    QTest::newRow("a record added: kept") << "add"
                                          << "";
    QTest::newRow("a searched view: kept") << "search"
                                           << "";
}

void MainWindowTest::viewFollowsTheFile()
{
    QFETCH(QString, own);
    QFETCH(QString, followed);
    Window w((r1 + r2 + "\r\n").toUtf8());
    w.open();
    MessageCatcher messages;
    if (own == "add")
        w->add("D4", "x");
    else if (own == "search")
        w->typeSearch("A1");
    w->clickLine(1, 3);
    const QString before = w->view()->databaseText();
    QFile copy(w.dir.path() + "/stockbook (conflicted copy 2026-12-08 094300).txt");
    QVERIFY(own != "copy" ||
            (copy.open(QIODevice::WriteOnly) && copy.write(r1.toUtf8() + "copied\r\n")));
    copy.close();
    // Replaced by a rename, as sync tools do.
    QVERIFY(RecordStore::WriteDatabaseFile(w.dir.path(), r1 + r2 + r3).ok());
    if (!followed.isEmpty()) {
        QTRY_COMPARE(w->view()->databaseText(), followed);
        QCOMPARE(w->view()->textCursor().blockNumber(), 1);
        QTRY_COMPARE(messages.texts().size(), int(own == "copy"));
        // Following the file is no edit that Ctrl+Z takes back.
        QTest::keyClick(w->view(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w->view()->databaseText(), followed);
    } else {
        QTest::qWait(600);
        QCOMPARE(w->view()->databaseText(), before);
    }
}

void MainWindowTest::conflictCopiesAreMerged_data()
{
    // The window holds a, b, e; the copy's content, and whether the history
    // knows both to descend from a, b, c.
    QTest::addColumn<QString>("copy");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("history");
    QTest::addColumn<QString>("merged");
    QTest::addColumn<QString>("told");
    const QString syncthing = "stockbook.sync-conflict-20261208-094300-INARWTP.txt";
    QTest::newRow("Syncthing's, both known to descend from one content")
        << syncthing << QByteArray("a\r\nB\r\nd\r\n") << true << "a\r\nB\r\ne\r\nd\r\n"
        << "2 records came from it.";
    QTest::newRow("a copy of a content known only as replaced: nothing new")
        << syncthing << QByteArray("a\r\nb\r\nc\r\n") << true << "a\r\nb\r\ne\r\n"
        << "0 records came from it.";
    QTest::newRow("Dropbox's, no known ancestor: every line of both")
        << "stockbook (Ann's conflicted copy 2026-12-08).txt" << QByteArray("a\r\nB\r\nd\r\n")
        << false << "a\r\nb\r\ne\r\nB\r\nd\r\n"
        << "every record of both was kept";
    QTest::newRow("empty copy removes nothing")
        << syncthing << QByteArray() << true << "a\r\nb\r\ne\r\n"
        << "on one side only:\na\nb\ne";
    QTest::newRow("cut-short copy: its unfinished line left out")
        << syncthing << QByteArray("a\r\nB") << true << "a\r\nb\r\ne\r\n"
        << "every record of both was kept. These records were on one side only:\nb\ne\n\n"
           "Its last line was cut short (it has no line end) and was left out:\nB";
    QTest::newRow("UTF-16 copy, read as a UTF-16 file is")
        << syncthing << QByteArray::fromHex("fffe61000d000a0042000d000a00") << true
        << "a\r\nb\r\ne\r\nB\r\n"
        << "1 record came from it.";
    QTest::newRow("binary copy left where it is")
        << syncthing << QByteArrayLiteral("a\r\nB\0d\r\n") << true << "a\r\nb\r\ne\r\n"
        << "so it is no database";
    QTest::newRow("control characters without NUL, left where it is")
        << syncthing << QByteArray("a\r\nB\ad\r\n") << true << "a\r\nb\r\ne\r\n"
        << "so it is no database";
    QTest::newRow("conflict of a conflict copy")
        << "stockbook.sync-conflict-20261208-100000-AAAAAAA.sync-conflict-20261208-130000-"
           "CCCCCCC.txt"
        << QByteArray("a\r\nB\r\nd\r\n") << true << "a\r\nB\r\ne\r\nd\r\n"
        << "2 records came from it.";
}

void MainWindowTest::conflictCopiesAreMerged()
{
    QFETCH(QString, copy);
    QFETCH(QByteArray, content);
    QFETCH(bool, history);
    QFETCH(QString, merged);
    QFETCH(QString, told);
    ProgramDirectory dir("a\r\nb\r\nc\r\n");
    if (history) {
        // This machine wrote a, b, c, then the copy's content; the copy went
        // aside, and a, b, e was written over a, b, c.
        QVERIFY(WriteDatabaseFile(dir.path(), "a\r\nb\r\nc").ok());
        QVERIFY(WriteDatabaseFile(dir.path(), "a\r\nB\r\nd").ok());
        dir.writeDatabase("a\r\nb\r\nc\r\n");
    }
    QVERIFY(WriteDatabaseFile(dir.path(), "a\r\nb\r\ne\r\n").ok()); // as Save writes it
    QFile copyFile(dir.path() + "/" + copy);
    QVERIFY(copyFile.open(QIODevice::WriteOnly) && copyFile.write(content) == content.size());
    copyFile.close();
    MessageCatcher messages;
    WindowDriver w(dir.path());
    QCOMPARE(w.viewText(), merged);
    QTRY_COMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts()[0].contains(copy) && messages.texts()[0].contains(told),
             qPrintable(messages.texts()[0]));
    w.click(Save);
    QCOMPARE(dir.readDatabase(), (merged + "\r\n").toUtf8());
    QCOMPARE(messages.texts().size(), 2); // the copy is not told of again
    const bool database = !told.contains("no database");
    QCOMPARE(copyFile.exists(), !database);
    // A merged copy's content is kept among the versions.
    RecordStore::Internal::History::finishRemovals();
    const QDir versions(dir.path() + "/stockbook-versions");
    QList<QByteArray> kept;
    for (const QString &name : versions.entryList({"stockbook-*.txt"}, QDir::Files)) {
        QFile file(versions.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        kept << file.readAll();
    }
    QCOMPARE(kept.contains(content), database);
    // The write names the merged copy among what it was made from.
    QFile log(versions.filePath(versions.entryList({"history-*.txt"}).value(0)));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray id = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
    QCOMPARE(log.readAll().trimmed().split('\n').last().contains(id.left(32)), database);
}

void MainWindowTest::oneSlipIsUndone()
{
    Window w((r1 + r2 + "\r\n").toUtf8());
    w.open();
    MessageCatcher messages;
    w->clickLine(0, 2);
    QTest::keyClick(w->view(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(w->view(), "x");
    w->click("Command4");
    QCOMPARE(w.dir.readDatabase(), QByteArray("x\r\n"));
    RecordStore::Internal::History::finishRemovals();
    const QDir versions(w.dir.path() + "/stockbook-versions");
    QList<QByteArray> kept;
    for (const QString &name : versions.entryList({"stockbook-*.txt"}, QDir::Files)) {
        QFile old(versions.filePath(name));
        QVERIFY(old.open(QIODevice::ReadOnly));
        kept << old.readAll();
    }
    QCOMPARE(kept.size(), 2);
    QVERIFY(kept.contains((r1 + r2 + "\r\n").toUtf8()));
    QTest::keyClick(w->view(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(w->view()->databaseText(), r1 + r2);
    // Another writer's record, taken in by a merge, is not taken back by
    // Ctrl+Z.
    w.dir.writeDatabase(("x\r\n" + r3 + "\r\n").toUtf8());
    w->click("Command4");
    QTest::keyClick(w->view(), Qt::Key_Z, Qt::ControlModifier);
    w->click("Command4");
    QCOMPARE(w.dir.readDatabase(), (r1 + r3 + r2 + "\r\n").toUtf8());
}

void MainWindowTest::twoWindowsLoseNothing()
{
    ProgramDirectory dir;
    MessageCatcher messages;
    WindowDriver a(dir.path());
    WindowDriver b(dir.path());
    for (int round = 0; round < 5; ++round) {
        a.add("A", QString::number(round));
        a.click(Save);
        b.add("B", QString::number(round));
        b.click(Save);
    }
    // Updates of two records in turn, each window on its old view.
    a.clickLine(0, 2);
    a.typeInto(Item, "0 changed in A");
    a.click(Update);
    b.clickLine(1, 2);
    b.typeInto(Item, "0 changed in B");
    b.click(Update);
    a.click(Save);
    const QString file = QString::fromUtf8(dir.readDatabase());
    for (int round = 1; round < 5; ++round)
        QVERIFY(file.contains(QString("[Box]: A [Item]: %1 ").arg(round)) &&
                file.contains(QString("[Box]: B [Item]: %1 ").arg(round)));
    QVERIFY(file.startsWith("[Box]: A [Item]: 0 changed in A [Nr]: 0 [Type]: ...\r\n"
                            "[Box]: B [Item]: 0 changed in B [Nr]: 0 [Type]: ...\r\n"));
    QCOMPARE(file.count("[Box]: "), 10);
    QCOMPARE(a.viewText() + "\r\n", file);
    QVERIFY(std::none_of(messages.texts().cbegin(), messages.texts().cend(),
                         [](const QString &text) { return text.contains("?"); }));
}

void MainWindowTest::refusesFieldsThatBreakTheLine_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("entry");
    QTest::addColumn<QString>("named");
    QTest::newRow("Add, label in item")
        << "Command3" << QStringList{"A", "x [Nr]: 2", "1", "IC"} << "Component Name";
    QTest::newRow("Add, line break in type")
        << "Command3" << QStringList{"A", "x", "1", "I\nC"} << "Type";
    QTest::newRow("Update, label in count")
        << "Command6" << QStringList{"A", "x", "[Type]:", "IC"} << "Number";
    QTest::newRow("Update, paragraph separator in item")
        << "Command6" << QStringList{"A", QString::fromUtf8("x\u2029y"), "1", "IC"}
        << "Component Name";
    QTest::newRow("Add, too long to be picked back")
        << "Command3" << QStringList{"A", QString(32733, 'x'), "1", "IC"} << "Number";
}

void MainWindowTest::refusesFieldsThatBreakTheLine()
{
    QFETCH(QString, button);
    QFETCH(QStringList, entry);
    QFETCH(QString, named);
    const QByteArray file = (r1 + "\r\n").toUtf8();
    Window w(file);
    w.open();
    w->clickLine(0, 3);
    w->setEntry(entry);
    MessageCatcher messages;
    w->click(button);
    QTRY_COMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts()[0].contains('"' + named + '"'), qPrintable(messages.texts()[0]));
    QCOMPARE(w->entry(), entry);
    QCOMPARE(w->view()->databaseText(), r1);
    QCOMPARE(w.dir.readDatabase(), file);
    QCOMPARE(w->form().selectedRecord(), r1);
}

void MainWindowTest::pastedLineEndIsDropped()
{
    Window w;
    w.open();
    MessageCatcher messages;
    const auto paste = [](QLineEdit *edit, const QString &text) {
        edit->selectAll();
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        return edit->text();
    };
    QCOMPARE(paste(w->field(Item), "10k 1%\r\n"), QString("10k 1%"));
    QCOMPARE(paste(w->field(Item), "a\r\nb"), QString("10k 1%")); // refused, and told
    QCOMPARE(paste(w->type()->lineEdit(), "I\u2029C\r\n"), QString("..."));
    QCOMPARE(paste(w->field(Item), "44k\r\n\r\n\r\n"), QString("44k"));
    QCOMPARE(paste(w->search(), "a\r\nb"), QString("..."));
    QTRY_COMPARE(messages.texts().size(), 3);
    QVERIFY(messages.texts()[2].contains("search field \"Find\"") &&
            !messages.texts()[2].contains("record"));
}

void MainWindowTest::failedWriteIsReported()
{
    Window w(QByteArray(), false);
    QVERIFY(QDir(w.dir.path()).mkdir("stockbook.txt"));
    w.open();
    w->setEntry({"A", "x", "1", "IC"});
    w->click(Add);
    MessageCatcher messages;
    QFile copy(w.dir.path() + "/stockbook.sync-conflict-20261208-100000-AAAAAAA.txt");
    QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write((r2 + "\r\n").toUtf8()) > 0);
    copy.close();
    w->click(Save);
    QTRY_COMPARE(messages.texts().size(), 1);
    QVERIFY(messages.texts()[0].contains(w.dir.databasePath()));
    QVERIFY(!messages.texts()[0].contains("Database saved in"));
    QCOMPARE(messages.icons()[0], int(QMessageBox::Warning));
    QCOMPARE(w->view()->databaseText(), ComposeRecordLine("A", "x", "1", "IC"));
    // The copy the failed Save merged is merged again by the next, and told.
    QVERIFY(QDir(w.dir.path()).rmdir("stockbook.txt"));
    w->click(Save);
    QTRY_COMPARE(messages.texts().size(), 2);
    QVERIFY(messages.texts()[1].startsWith("Database saved in"));
    QVERIFY(messages.texts()[1].contains(copy.fileName().section('/', -1)));
    QCOMPARE(w.dir.readDatabase(), (ComposeRecordLine("A", "x", "1", "IC") + r2 + "\r\n").toUtf8());

    // Update in a read-only directory keeps the file, the view and the fields.
    const QByteArray file = (r1 + "\r\n").toUtf8();
    Window readOnly(file);
    readOnly.open();
    readOnly->clickLine(0, 3);
    readOnly->field(Count)->setText("26");
    QVERIFY(
        QFile::setPermissions(readOnly.dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    readOnly->click(Update);
    QTRY_COMPARE(messages.texts().size(), 3);
    QFile::setPermissions(readOnly.dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(messages.texts()[2].count(readOnly.dir.path()), 1);
    QVERIFY(messages.texts()[2].contains("the folder " + readOnly.dir.path() + " is not writable"));
    QVERIFY(messages.texts()[2].contains("your changes are still in the window"));
    QCOMPARE(readOnly.dir.readDatabase(), file);
    QCOMPARE(readOnly->view()->databaseText(), r1);
    QCOMPARE(readOnly->entry(), (QStringList{"A1", "10k", "26", "Resistor"}));
}

void MainWindowTest::unreadableDatabaseIsNeverOverwritten()
{
    const QByteArray file = (r1 + r2 + "\r\n").toUtf8();
    Window w(file);
    QVERIFY(QFile::setPermissions(w.dir.databasePath(), QFileDevice::WriteOwner));
    MessageCatcher messages;
    w.open();
    QTRY_COMPARE(messages.texts().size(), 1);
    QVERIFY(messages.texts()[0].contains(w.dir.databasePath()));
    QVERIFY(messages.texts()[0].contains("Permission denied"));
    QVERIFY(messages.texts()[0].contains("Quit, make the file readable"));
    QCOMPARE(w->view()->databaseText(), QString());

    w->setEntry({"A", "x", "1", "IC"});
    w->click(Add);
    w->click(Save);
    QTRY_COMPARE(messages.texts().size(), 2);
    w->clickLine(0, 3);
    w->click(Update);
    QTRY_COMPARE(messages.texts().size(), 3);
    QVERIFY(QFile::setPermissions(w.dir.databasePath(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(w.dir.readDatabase(), file);
}

void MainWindowTest::unreadableDatabaseDuringSearch()
{
    Window w((r1 + r2 + "\r\n").toUtf8());
    w.open();
    QVERIFY(QFile::setPermissions(w.dir.databasePath(), QFileDevice::WriteOwner));
    MessageCatcher messages;
    w->typeSearch("A1");
    QTest::qWait(20);
    QCOMPARE(messages.texts().size(), 1);
    QCOMPARE(w->view()->databaseText(), QString());
    QVERIFY(QFile::setPermissions(w.dir.databasePath(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    w->typeSearch("BC5");
    QCOMPARE(w->view()->databaseText(), r2);
    QCOMPARE(messages.texts().size(), 1);
    // After a search that worked, the next failure is told again.
    QVERIFY(QFile::setPermissions(w.dir.databasePath(), QFileDevice::WriteOwner));
    w->typeSearch("A1");
    QCOMPARE(messages.texts().size(), 2);
    QVERIFY(QFile::setPermissions(w.dir.databasePath(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner));
}

void MainWindowTest::viewTextKeepsEveryCharacter()
{
    DatabaseView view;
    view.setDatabaseText(QString::fromUtf8("a\u00a0b\r\nc\nd\re\r\n"));
    QCOMPARE(view.databaseText(), QString::fromUtf8("a\u00a0b\r\nc\r\nd\r\ne\r\n"));
    QTextCursor cursor(view.document());
    cursor.setPosition(view.document()->findBlockByNumber(2).position() + 1,
                       QTextCursor::MoveAnchor);
    cursor.setPosition(view.document()->findBlockByNumber(1).position(), QTextCursor::KeepAnchor);
    view.setTextCursor(cursor);
    QCOMPARE(view.caretOffset(), qsizetype(5)); // selection start, each line end counted twice
    const DatabaseView::CaretLine line = view.caretLine();
    QCOMPARE(line.text, QString("c\r\n"));
    QCOMPARE(line.caretOffset, qsizetype(0));
}

STOCKBOOK_TEST_MAIN(MainWindowTest, QApplication)
#include "tst_main_window.moc"
