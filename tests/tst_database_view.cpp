// SPDX-License-Identifier: GPL-3.0-or-later

// The database view's in-place replacement against rebuilding the whole view,
// and its mouse handling against the toolkit's editor.
#include <QApplication>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QtTest>

#include "main_window/database_view.h"
#include "record_store/record_store.h"
#include "tests/test_support.h"

using RecordStore::ComposeRecordLine;

class DatabaseViewTest final : public QObject
{
    Q_OBJECT

private slots:
    void databaseText_data();
    void databaseText();
    void replaceAgreesWithRebuild_data();
    void replaceAgreesWithRebuild();
    void replaceAgreesWithRebuildOnRandomTexts();
    void replaceKeepsScrollPosition();
    void mergeKeepsCaretLine_data();
    void mergeKeepsCaretLine();
    void mouseAgreesWithToolkit_data();
    void mouseAgreesWithToolkit();
    void everyLeftReleaseIsAClick();
    void longWordWrapsAnywhere();
};

namespace {

// The state a user can see or reach: the text, the lines, the caret, the
// selection and whether an undo is possible.
void compareViews(DatabaseView &edited, DatabaseView &rebuilt)
{
    QCOMPARE(edited.databaseText(), rebuilt.databaseText());
    QCOMPARE(edited.document()->blockCount(), rebuilt.document()->blockCount());
    QCOMPARE(edited.textCursor().position(), rebuilt.textCursor().position());
    QCOMPARE(edited.textCursor().hasSelection(), rebuilt.textCursor().hasSelection());
    QCOMPARE(edited.document()->isUndoAvailable(), rebuilt.document()->isUndoAvailable());
}

void replaceBothWays(const QString &text, const QString &before, const QString &after,
                     bool lastLineEnds = false)
{
    DatabaseView edited;
    DatabaseView rebuilt;
    edited.setDatabaseText(text);
    rebuilt.setDatabaseText(text);
    // A caret somewhere inside, as after a pick.
    QTextCursor caret(edited.document());
    caret.setPosition(edited.document()->characterCount() / 2);
    edited.setTextCursor(caret);
    rebuilt.setTextCursor(caret);
    const QString shown = edited.databaseText();
    edited.replaceInDatabaseText(shown, before, after, lastLineEnds);
    rebuilt.setDatabaseText(lastLineEnds ? QString(shown + "\r\n").replace(before, after).chopped(2)
                                         : QString(shown).replace(before, after));
    compareViews(edited, rebuilt);
}

} // namespace

void DatabaseViewTest::databaseText_data()
{
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("one line end") << "\r\n"
                                  << "\r\n";
    QTest::newRow("records") << "A\r\nB\r\n"
                             << "A\r\nB\r\n";
    QTest::newRow("no final line end") << "A\r\nB"
                                       << "A\r\nB";
    QTest::newRow("empty lines") << "\r\n\r\nA\r\n\r\n"
                                 << "\r\n\r\nA\r\n\r\n";
    QTest::newRow("lone LF and CR become CR LF") << "A\nB\rC"
                                                 << "A\r\nB\r\nC";
    QTest::newRow("a lone LF among CR LFs") << "A\r\nB\nC\r\n"
                                            << "A\r\nB\r\nC\r\n";
    QTest::newRow("paragraph separator")
        << QString::fromUtf8("A\r\nB\u2029C\r\n") << "A\r\nB\r\nC\r\n";
    QTest::newRow("no-break space, line separator, tab, beyond the BMP")
        << QString::fromUtf8("a\u00a0b\u2028c\td😀\r\n")
        << QString::fromUtf8("a\u00a0b\u2028c\td😀\r\n");
}

void DatabaseViewTest::databaseText()
{
    QFETCH(QString, set);
    QFETCH(QString, text);
    DatabaseView view;
    view.setDatabaseText(set);
    QCOMPARE(view.databaseText(), text);
    view.appendDatabaseText("[Box]: X\r\n");
    QCOMPARE(view.databaseText(), text + "[Box]: X\r\n");
    // Shift+Return starts a new line, as Return does.
    view.moveCursor(QTextCursor::Start);
    QTest::keyClick(&view, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(view.databaseText(), "\r\n" + text + "[Box]: X\r\n");
    // The same text merged into a view that showed other lines.
    DatabaseView merged;
    merged.setDatabaseText("A\r\nZ\r\n");
    merged.replaceDatabaseTextKeepingPlace(set);
    QCOMPARE(merged.databaseText(), text);
}

void DatabaseViewTest::replaceAgreesWithRebuild_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    const QString a = ComposeRecordLine("A1", "10k", "25", "Resistor");
    const QString b = ComposeRecordLine("B2", QString::fromUtf8("100µF"), "4", "Capacitor");
    const QString c = ComposeRecordLine("C3", "BC547", "7", "Transistor");
    const QString x = ComposeRecordLine("X9", QString::fromUtf8("4k7 Ω"), "1", "Other");
    QTest::newRow("middle line") << a + b + c << b << x;
    QTest::newRow("first line") << a + b + c << a << x;
    QTest::newRow("last line") << a + b + c << c << x;
    QTest::newRow("twice") << a + b + a + c + a << a << x;
    QTest::newRow("back to back") << b + b + b << b << x;
    QTest::newRow("not there") << a + b << c << x;
    QTest::newRow("same text") << a + b << b << b;
    QTest::newRow("two lines taken together") << a + b + c << a + b << x;
    QTest::newRow("by a longer text") << a + b << a << x + x;
    QTest::newRow("by nothing") << a + b + c << b << QString();
    QTest::newRow("last line without line end") << a + b + "[Box]: Z" << b << x;
    QTest::newRow("after an empty first line") << "\r\n" + a + "\r\n" + b << b << x;
    QTest::newRow("text starting with a line feed") << a + b << "\n" + b << x;
    QTest::newRow("empty text replaced") << a << QString() << "-";
}

void DatabaseViewTest::replaceAgreesWithRebuild()
{
    QFETCH(QString, text);
    QFETCH(QString, before);
    QFETCH(QString, after);
    replaceBothWays(text, before, after);
}

void DatabaseViewTest::replaceAgreesWithRebuildOnRandomTexts()
{
    QRandomGenerator random(20261210);
    const QStringList lines = {ComposeRecordLine("A", "1", "2", "IC"),
                               ComposeRecordLine("B", "1", "2", "IC"),
                               ComposeRecordLine("A", "1", "2", "ICs"),
                               "\r\n",
                               "free text\r\n",
                               QString::fromUtf8("µ\u2028Ω\r\n")};
    for (int round = 0; round < 200; ++round) {
        QString text;
        for (int k = random.bounded(12); k > 0; --k)
            text += lines.at(random.bounded(int(lines.size())));
        QString before;
        for (int k = 1 + random.bounded(2); k > 0; --k)
            before += lines.at(random.bounded(int(lines.size())));
        const QString after =
            lines.at(random.bounded(int(lines.size()))).repeated(random.bounded(3));
        replaceBothWays(text, before, after);
        const QString open = text.chopped(text.endsWith("\r\n") ? 2 : 0);
        replaceBothWays(open, before, after,
                        !open.isEmpty() && !open.endsWith('\n') && before.endsWith("\r\n") &&
                            after.endsWith("\r\n"));
        // A merge's text, with or without its final line end, in the view.
        QString merged = before + text + after;
        merged.chop(2 * random.bounded(2));
        DatabaseView view;
        view.setDatabaseText(text);
        QCOMPARE(view.databaseText(), text); // as a Save reads it before the merge
        view.replaceDatabaseTextKeepingPlace(merged);
        QCOMPARE(view.databaseText(), merged);
    }
}

void DatabaseViewTest::replaceKeepsScrollPosition()
{
    QString text;
    for (int k = 0; k < 500; ++k)
        text += ComposeRecordLine(QString::number(k), "R", "1", "Resistor");
    DatabaseView view;
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setDatabaseText(text);
    view.verticalScrollBar()->setValue(300);
    const QString line = ComposeRecordLine("310", "R", "1", "Resistor");
    view.replaceInDatabaseText(view.databaseText(), line,
                               ComposeRecordLine("310", "R", "9", "Resistor"));
    QCOMPARE(view.verticalScrollBar()->value(), 300);
    QCOMPARE(view.textCursor().position(), 0);
    QVERIFY(view.databaseText().contains("[Box]: 310 [Item]: R [Nr]: 9"));
    // A merge that adds lines above the top line and changes one there.
    const QString top = view.cursorForPosition({0, 0}).block().text();
    view.replaceDatabaseTextKeepingPlace(
        QString("new\r\n" + text).replace("[Box]: 5 ", "[Box]: 5x "));
    QCOMPARE(view.cursorForPosition({0, 0}).block().text(), top);
}

// The view after a merge: `shown` with the caret at the start of line
// `caretLine` (a slip typed there first) becomes `merged`, and the caret
// stands at the start of line `caretLineAfter`.
void DatabaseViewTest::mergeKeepsCaretLine_data()
{
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("merged");
    QTest::addColumn<int>("caretLine");
    QTest::addColumn<int>("caretLineAfter");
    QTest::newRow("start") << "a\r\nb\r\nc\r\n"
                           << "x\r\nb\r\nc\r\n"
                           << 2 << 2;
    QTest::newRow("middle") << "a\r\nb\r\nc\r\n"
                            << "a\r\nx\r\nc\r\n"
                            << 0 << 0;
    QTest::newRow("end") << "a\r\nb\r\nc\r\n"
                         << "a\r\nb\r\nx\r\n"
                         << 1 << 1;
    QTest::newRow("both ends") << "a\r\nb\r\nc\r\nd\r\n"
                               << "x\r\nb\r\nc\r\ny\r\n"
                               << 2 << 2;
    QTest::newRow("caret's line replaced") << "a\r\nb\r\nc\r\n"
                                           << "a\r\nx\r\nc\r\n"
                                           << 1 << 1;
    QTest::newRow("added before") << "a\r\nb\r\nc\r\n"
                                  << "x\r\na\r\ny\r\nb\r\nc\r\n"
                                  << 1 << 3;
    QTest::newRow("removed before") << "a\r\nb\r\nc\r\n"
                                    << "b\r\nc\r\n"
                                    << 2 << 1;
    QTest::newRow("added after") << "a\r\nb\r\n"
                                 << "a\r\nb\r\nx\r\ny\r\n"
                                 << 1 << 1;
    QTest::newRow("removed after") << "a\r\nb\r\nc\r\n"
                                   << "a\r\n"
                                   << 0 << 0;
    QTest::newRow("empty view") << ""
                                << "a\r\nb\r\n"
                                << 0 << 2;
    QTest::newRow("emptied") << "a\r\nb\r\n"
                             << "" << 1 << 0;
    QTest::newRow("no final line end") << "a\r\nb"
                                       << "a\r\nb\r\nc" << 1 << 1;
    QTest::newRow("line end added at the end") << "a\r\nb"
                                               << "x\r\nb\r\n"
                                               << 1 << 1;
    // Changes so far apart that the texts are cut between them.
    const QString far = "a\r\n" + QString("m\r\n").repeated(100) + "b\r\nc\r\n";
    const QString farMerged = "x\r\ny\r\n" + QString("m\r\n").repeated(100) + "c\r\n";
    QTest::newRow("between far changes") << far << farMerged << 50 << 51;
    QTest::newRow("behind far changes") << far << farMerged << 101 << 102;
    QTest::newRow("beyond the BMP")
        << QString::fromUtf8("😀1\r\n😀2\r\n") << QString::fromUtf8("😀1\r\n😀3\r\n😀2\r\n") << 1 << 2;
}

void DatabaseViewTest::mergeKeepsCaretLine()
{
    QFETCH(QString, shown);
    QFETCH(QString, merged);
    QFETCH(int, caretLine);
    QFETCH(int, caretLineAfter);
    DatabaseView view;
    view.setDatabaseText("-" + shown);
    QCOMPARE(view.databaseText(), "-" + shown); // what the slip below changes
    view.moveCursor(QTextCursor::Start);
    QTest::keyClick(&view, Qt::Key_Delete);
    view.setTextCursor(QTextCursor(view.document()->findBlockByNumber(caretLine)));
    view.markPickedLine();
    view.replaceDatabaseTextKeepingPlace(merged);
    QCOMPARE(view.databaseText(), merged);
    QCOMPARE(view.textCursor().blockNumber(), caretLineAfter);
    QCOMPARE(view.textCursor().positionInBlock(), 0);
    QVERIFY(!view.document()->isUndoAvailable());
    QVERIFY(view.extraSelections().isEmpty());
}

namespace {

// A view and a bare editor alike in all that decides where a mouse lands.
void prepareForMouse(QPlainTextEdit &edit, const QString &text)
{
    edit.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    edit.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit.resize(260, 160);
    edit.setPlainText(text);
    edit.show();
}

// Runs gestures such as "click 12; shift-click 40; press 3; move 30;
// release 30; double-click 50" on the editor. A number is a text position:
// the mouse goes to the middle of the caret drawn there. "below" is the empty
// space under the last line.
void runGestures(QPlainTextEdit &edit, const QString &gestures, int step)
{
    const QStringList parts = gestures.split(';').at(step).trimmed().split(' ');
    const QString verb = parts.at(0);
    QPoint at(20, edit.viewport()->height() - 4);
    if (parts.at(1) != "below") {
        QTextCursor place(edit.document());
        place.setPosition(parts.at(1).toInt());
        at = edit.cursorRect(place).center();
    }
    QWidget *viewport = edit.viewport();
    if (verb == "click")
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
    else if (verb == "shift-click")
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::ShiftModifier, at);
    else if (verb == "ctrl-click")
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::ControlModifier, at);
    else if (verb == "press")
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
    else if (verb == "move")
        QTest::mouseMove(viewport, at);
    else if (verb == "release")
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    else if (verb == "double-click" || verb == "double-press" || verb == "triple-click" ||
             verb == "triple-press") {
        // As a window system delivers them: the second press is followed
        // by the double-click event. A double press keeps the button down.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        if (verb != "double-press")
            QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
        if (verb == "triple-click")
            QTest::mouseClick(viewport, Qt::LeftButton, {}, at);
        if (verb == "triple-press")
            QTest::mousePress(viewport, Qt::LeftButton, {}, at);
    } else if (verb == "right-click")
        QTest::mouseClick(viewport, Qt::RightButton, {}, at);
    else
        QFAIL(qPrintable("unknown gesture " + verb));
}

} // namespace

// The view answers plain and Shift clicks itself; whatever the gestures, the
// caret and the selection must end where the toolkit's own editor puts them.
void DatabaseViewTest::mouseAgreesWithToolkit_data()
{
    QTest::addColumn<QString>("gestures");
    // Positions in the text below: line 1 starts at 0, line 2 at 48, the
    // long line 3 (wrapped) at 98, line 4 at 259.
    QTest::newRow("click") << "click 60";
    QTest::newRow("click in the first line") << "click 5";
    QTest::newRow("click on a wrapped part of a long line") << "click 200";
    QTest::newRow("click under the last line") << "click below";
    QTest::newRow("click after a selection") << "press 10; move 70; release 70; click 120";
    QTest::newRow("drag down") << "press 10; move 70; move 130; release 130";
    QTest::newRow("drag up") << "press 130; move 70; move 10; release 10";
    QTest::newRow("drag and back to the start") << "press 30; move 80; move 30; release 30";
    QTest::newRow("shift-click extends") << "click 20; shift-click 100";
    QTest::newRow("shift-click back") << "click 100; shift-click 20; shift-click 60";
    QTest::newRow("click inside the selection") << "press 10; move 90; release 90; click 50";
    QTest::newRow("double-click a word") << "double-click 52";
    QTest::newRow("double-click, then click") << "double-click 52; click 120";
    QTest::newRow("double-click and drag by words") << "double-press 52; move 75; release 75";
    QTest::newRow("double-click, then drag") << "double-click 52; press 150; move 200; release 200";
    QTest::newRow("double-click, then shift-click") << "double-click 52; click 10; shift-click 120";
    QTest::newRow("double-click twice, then drag")
        << "double-click 52; double-click 100; press 20; move 60; release 60";
    QTest::newRow("triple-click a line") << "triple-click 150";
    QTest::newRow("triple-click and drag by lines") << "triple-press 60; move 270; release 270";
    QTest::newRow("triple-click, then click") << "triple-click 150; click 20";
    QTest::newRow("triple-click, then double-click and drag")
        << "triple-click 150; click 20; double-click 52; move 70; release 70";
    QTest::newRow("ctrl-click") << "click 20; ctrl-click 100";
    QTest::newRow("right-click keeps the selection")
        << "press 10; move 90; release 90; right-click 150";
}

void DatabaseViewTest::mouseAgreesWithToolkit()
{
    QFETCH(QString, gestures);
    const QString text = ComposeRecordLine("A1", "10k", "25", "Resistor") +
                         ComposeRecordLine("B2", QString::fromUtf8("100µF"), "4", "Capacitor") +
                         ComposeRecordLine("C3", QString("BC547 ").repeated(20), "7", "Other") +
                         ComposeRecordLine("D4", "NE555", "2", "IC");
    DatabaseView view;
    QPlainTextEdit toolkit;
    view.setDatabaseText(text);
    prepareForMouse(view, view.document()->toRawText());
    prepareForMouse(toolkit, view.document()->toRawText());
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(QTest::qWaitForWindowExposed(&toolkit));
    QCOMPARE(view.document()->findBlockByNumber(3).position(), 259);
    QVERIFY(view.document()->findBlockByNumber(2).lineCount() > 1);

    const int steps = int(gestures.count(';')) + 1;
    for (int step = 0; step < steps; ++step) {
        runGestures(view, gestures, step);
        runGestures(toolkit, gestures, step);
        const QString after = "after step " + QString::number(step + 1);
        QVERIFY2(view.textCursor().position() == toolkit.textCursor().position(),
                 qPrintable(after + ": caret " + QString::number(view.textCursor().position()) +
                            ", toolkit " + QString::number(toolkit.textCursor().position())));
        QVERIFY2(view.textCursor().anchor() == toolkit.textCursor().anchor(),
                 qPrintable(after + ": anchor " + QString::number(view.textCursor().anchor()) +
                            ", toolkit " + QString::number(toolkit.textCursor().anchor())));
    }
}

void DatabaseViewTest::everyLeftReleaseIsAClick()
{
    DatabaseView view;
    prepareForMouse(view, "A\nB\nC");
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy clicks(&view, &DatabaseView::clicked);
    const QPoint onB = view.cursorRect(QTextCursor(view.document()->findBlockByNumber(1))).center();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, onB);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, onB);
    QTest::mouseClick(view.viewport(), Qt::RightButton, {}, onB);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, onB);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier, onB);
    // Two clicks on the same place, a Shift and a Ctrl click; the right
    // button makes no click.
    QCOMPARE(clicks.count(), 4);
    QCOMPARE(view.caretLine().text, QString("B\r\n"));
}

// A word too long to lay out at blanks, set, typed or merged, makes the view wrap
// anywhere; a view without one (blanks and line ends part words) wraps at
// blanks again.
void DatabaseViewTest::longWordWrapsAnywhere()
{
    const QString half = QString(600, 'x');
    DatabaseView view;
    view.setDatabaseText("[Box]: A1 [Item]: " + half + half);
    QCOMPARE(view.wordWrapMode(), QTextOption::WrapAnywhere);
    view.setDatabaseText(QString("xxxx ").repeated(1000) + half + "\r\n" + half + "\r" + half);
    QCOMPARE(view.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    view.insertPlainText(half + half);
    QCOMPARE(view.wordWrapMode(), QTextOption::WrapAnywhere);
    // So does a merge that keeps one or puts one in, and one that takes the
    // last one out wraps at blanks.
    view.replaceDatabaseTextKeepingPlace("b\r\n" + view.databaseText());
    QCOMPARE(view.wordWrapMode(), QTextOption::WrapAnywhere);
    view.replaceDatabaseTextKeepingPlace("a\r\n");
    QCOMPARE(view.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    view.replaceDatabaseTextKeepingPlace("a\r\n" + half + half);
    QCOMPARE(view.wordWrapMode(), QTextOption::WrapAnywhere);
}

STOCKBOOK_TEST_MAIN(DatabaseViewTest, QApplication)
#include "tst_database_view.moc"
