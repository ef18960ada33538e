// The database view's in-place replacement against rebuilding the whole view.
#include <QApplication>
#include <QRandomGenerator>
#include <QScrollBar>
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

void replaceBothWays(const QString &text, const QString &before, const QString &after)
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
    edited.replaceInDatabaseText(shown, before, after);
    rebuilt.setDatabaseText(QString(shown).replace(before, after));
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
}

STOCKBOOK_TEST_MAIN(DatabaseViewTest, QApplication)
#include "tst_database_view.moc"
