// Regression tests for faults that the fuzzers found in the record store.
// (The fault injection tests in tst_faults.cpp cover the one it found: a disk
// that filled up part way was reported as "Unknown error".)
#include <QCoreApplication>
#include <QtTest>

#include "record_store/record_store.h"
#include "tests/test_support.h"

using namespace RecordStore;
using TestSupport::ProgramDirectory;

namespace {

const QByteArray kMark("\xEF\xBB\xBF");

} // namespace

class FoundFaultsTest final : public QObject
{
    Q_OBJECT

private slots:
    void zeroWidthNoBreakSpaceKept_data();
    void zeroWidthNoBreakSpaceKept();
};

// U+FEFF is a byte-order mark only as the file's first three bytes. Anywhere
// else it is a character of a line, and neither loading nor searching may
// drop it: QString::fromUtf8 dropped it when it came first in the bytes it was
// given (a second mark at the file's start, or the first line of a search
// result).
void FoundFaultsTest::zeroWidthNoBreakSpaceKept_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("found");
    const QByteArray &mark = kMark;
    const QString feff(QChar(0xFEFF));
    QTest::newRow("second mark, ASCII search") << mark + mark + "[Box]: A1\r\n"
                                               << "A1" << feff + "[Box]: A1\r\n";
    QTest::newRow("second mark, empty search") << mark + mark + "[Box]: A1\r\n"
                                               << "" << feff + "[Box]: A1\r\n";
    QTest::newRow("first matching line, ASCII search") << "x\r\n" + mark + "[Box]: B2\r\n"
                                                       << "B2" << feff + "[Box]: B2\r\n";
    QTest::newRow("first matching line, other search")
        << "x\r\n" + mark + "[Box]: µ\r\n"
        << QStringLiteral("µ") << feff + QStringLiteral("[Box]: µ\r\n");
    QTest::newRow("first matching line, empty search") << "\r\n" + mark + "[Box]: B2\r\n"
                                                       << "" << feff + "[Box]: B2\r\n";
}

void FoundFaultsTest::zeroWidthNoBreakSpaceKept()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, search);
    QFETCH(QString, found);
    ProgramDirectory dir;
    dir.writeDatabase(file);
    const auto filtered = FilterDatabaseLines(dir.path(), search);
    QVERIFY(filtered.ok());
    QCOMPARE(filtered.value, found);
    // Loading keeps every line's characters as well.
    const auto loaded = LoadDatabaseFile(dir.path());
    QVERIFY(loaded.ok());
    QVERIFY2(loaded.value.text.contains(found), qPrintable(loaded.value.text));
    const QString decoded = decodeDatabaseBytes(file);
    QCOMPARE(decoded.count(QChar(0xFEFF)), file.count(kMark) - (file.startsWith(kMark) ? 1 : 0));
}

STOCKBOOK_TEST_MAIN(FoundFaultsTest, QCoreApplication)
#include "tst_found_faults.moc"
