// SPDX-License-Identifier: GPL-3.0-or-later

// The three-way merge of Save (record_store/merge.cpp), through the window:
// the file's and the window's changes since the window read the file, and
// what the window is told of them.
#include <QApplication>
#include <QtTest>

#include "main_window/database_view.h"
#include "tests/test_support.h"
#include "tests/window_driver.h"

using namespace TestSupport;

namespace {

// Types `window` over the view's text, as one edit of the lines between
// those both share.
void typeOver(DatabaseView *view, const QString &window)
{
    const QString shown = view->databaseText();
    qsizetype head = 0;
    while (head < qMin(shown.size(), window.size()) && shown[head] == window[head])
        ++head;
    head = shown.first(head).lastIndexOf(u'\n') + 1;
    qsizetype tail = 0;
    while (tail < qMin(shown.size(), window.size()) - head &&
           shown[shown.size() - 1 - tail] == window[window.size() - 1 - tail])
        ++tail;
    const qsizetype lineEnd = shown.last(tail).indexOf(u'\n');
    tail = lineEnd < 0 ? 0 : tail - lineEnd - 1;
    const auto position = [&](qsizetype at) {
        return int(at - shown.first(at).count(u"\r\n"));
    };
    QTextCursor edit(view->document());
    edit.setPosition(position(head));
    edit.setPosition(position(shown.size() - tail), QTextCursor::KeepAnchor);
    edit.insertText(window.sliced(head, window.size() - head - tail).replace("\r\n", "\n"));
}

} // namespace

class MergeTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void otherWritersChangesAreMerged_data();
    void otherWritersChangesAreMerged();
};

void MergeTest::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void MergeTest::otherWritersChangesAreMerged_data()
{
    // The file held `ancestor` when the window opened; the window then holds
    // `window`, another program writes `file`, and Save writes `merged`.
    QTest::addColumn<QString>("ancestor");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("merged");
    QTest::addColumn<QString>("told");
    QTest::newRow("changed in the file, added in the window")
        << "a\r\nb\r\nc\r\n"
        << "a\r\nb\r\nc\r\nw\r\n"
        << QByteArray("a\r\nB\r\nc\r\n\r\n") << "a\r\nB\r\nc\r\nw\r\n"
        << "1 record came from there and 0 were removed";
    QTest::newRow("removed in the file, a change in the window")
        << "a\r\nb\r\nc\r\n"
        << "A\r\nb\r\nc\r\n"
        << QByteArray("a\r\nc\r\n") << "A\r\nc\r\n"
        << "0 records came from there and 1 was removed";
    QTest::newRow("the same change on both sides, once")
        << "a\r\nb\r\n"
        << "a\r\nB\r\n"
        << QByteArray("a\r\nB\r\nf\r\n") << "a\r\nB\r\nf\r\n"
        << "1 record came";
    QTest::newRow("two appends: the file's first")
        << "a\r\n"
        << "a\r\nw1\r\nw2\r\n"
        << QByteArray("a\r\nf1\r\n") << "a\r\nf1\r\nw1\r\nw2\r\n"
        << "1 record came";
    QTest::newRow("neighbouring lines changed on each side")
        << "a1\r\nb\r\n"
        << "A2\r\nb\r\n"
        << QByteArray("a1\r\nB\r\n") << "A2\r\nB\r\n"
        << "1 record came";
    QTest::newRow("one line changed differently: both kept, told")
        << "a\r\nb\r\n"
        << "a\r\nX\r\n"
        << QByteArray("a\r\nY\r\n") << "a\r\nX\r\nY\r\n"
        << "both versions are kept (this window's first):\nX\nY";
    QTest::newRow("changed in the window, removed in the file: kept, told")
        << "a\r\nb\r\nc\r\n"
        << "a\r\nB\r\nc\r\n"
        << QByteArray("a\r\nc\r\n") << "a\r\nB\r\nc\r\n"
        << "removed in the other, so the changed record is kept:\nB";
    QTest::newRow("removed in the window, changed in the file: kept, told")
        << "a\r\nb\r\nc\r\n"
        << "a\r\nc\r\n"
        << QByteArray("a\r\nB\r\nc\r\n") << "a\r\nB\r\nc\r\n"
        << "removed in the other, so the changed record is kept:\nB";
    QTest::newRow("changes lines apart, the file's longer by two")
        << "a\r\nb\r\nc\r\nd\r\ne\r\n"
        << "a\r\nb\r\nc\r\nd\r\nE\r\n"
        << QByteArray("a25\r\nb\r\nc\r\nd\r\ne\r\n\r\n") << "a25\r\nb\r\nc\r\nd\r\nE\r\n"
        << "1 record came from there and 0 were removed";
    QTest::newRow("a count rewritten to the same size (25 to 52)")
        << "a25\r\nb\r\n"
        << "a25\r\nb\r\nw\r\n"
        << QByteArray("a52\r\nb\r\n\r\n") << "a52\r\nb\r\nw\r\n"
        << "1 record came";
    QTest::newRow("moved in the window, removed in the file: removed")
        << "a\r\nb\r\nc\r\n"
        << "b\r\nc\r\na\r\n"
        << QByteArray("b\r\nc\r\n") << "b\r\nc\r\n"
        << "0 records came from there and 1 was removed";
    // Over a million characters, which the view compares in two halves: the
    // window's change at the end, the file's at the start, just before the
    // middle, or at the start and just behind the middle.
    const auto longText = [](int windowLine, QList<int> fileLines) {
        QString text;
        for (int k = 0; k < 40000; ++k)
            text += k == windowLine ? QStringLiteral("W\r\n")
                    : fileLines.contains(k)
                        ? QStringLiteral("F\r\n")
                        : QStringLiteral("[Box]: B%1 [Item]: a long list\r\n").arg(k);
        return text;
    };
    const QList<std::tuple<const char *, QList<int>, const char *>> changes = {
        {"at the start", {0}, "1 record came"},
        {"just before the middle", {20150}, "1 record came"},
        {"at the start and just behind the middle", {0, 20170}, "2 records came"}};
    for (const auto &[where, fileLines, told] : changes)
        QTest::addRow("a long database, changed there %s", where)
            << longText(-1, {}) << longText(39999, {}) << longText(-1, fileLines).toUtf8()
            << longText(39999, fileLines) << told;
    const QString added = QStringLiteral("[Box]: N [Item]: added\r\n").repeated(50);
    QTest::newRow("a long database, changed there behind the window's change")
        << longText(-1, {}) << added + longText(-1, {}) << longText(-1, {30000}).toUtf8()
        << added + longText(-1, {30000}) << "1 record came";
    QTest::newRow("only re-encoded with LF line ends: no change")
        << QString::fromUtf8("a\r\n\u00e9\r\n") << QString::fromUtf8("a\r\n\u00e9\r\nw\r\n")
        << QByteArray("a\n\xe9\n") << QString::fromUtf8("a\r\n\u00e9\r\nw\r\n") << "";
}

void MergeTest::otherWritersChangesAreMerged()
{
    QFETCH(QString, ancestor);
    QFETCH(QString, window);
    QFETCH(QByteArray, file);
    QFETCH(QString, merged);
    QFETCH(QString, told);
    ProgramDirectory dir(ancestor.toUtf8());
    WindowDriver w(dir.path());
    typeOver(w.view(), window);
    QCOMPARE(w.view()->toPlainText(), QString(window).replace("\r\n", "\n"));
    dir.writeDatabase(file);
    MessageCatcher messages;
    w.click("Command4");
    // One message says all.
    QTRY_COMPARE(messages.texts().size(), 1);
    QVERIFY(messages.texts()[0].startsWith("Database saved in "));
    QVERIFY2(messages.texts()[0].contains(told), qPrintable(messages.texts()[0]));
    QCOMPARE(w.view()->databaseText(), merged);
    QCOMPARE(w.view()->toPlainText(), QString(merged).replace("\r\n", "\n"));
    QCOMPARE(dir.readDatabase(), (merged + "\r\n").toUtf8());
}

STOCKBOOK_TEST_MAIN(MergeTest, QApplication)
#include "tst_merge.moc"
