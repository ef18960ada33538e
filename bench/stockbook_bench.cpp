// The Stockbook benchmark.
//
// For each database size it writes a generated database of realistic record
// lines with WriteDatabaseFile into a temporary directory and measures, on that
// one file: the record store's operations, the window's (offscreen, in a child
// process per size, so that its peak memory is that size's alone), and the
// floors the figures are held against: reading the file's bytes, `grep -F -c`
// on the file as a process of its own, and QPlainTextEdit::setPlainText of the
// same result text. It prints one Markdown table of medians, each figure with
// its ratio to its floor, then the targets at 100,000 records, then the
// start-up on a database of one 1 MB line.
//
// Usage: stockbook_bench [--sizes 1000,10000,...] [--reps N]
//        stockbook_bench --generate RECORDS DIRECTORY   (a database to profile with)
// (the child modes --window, --memory, --memory-floor and --long-line are for
// its own use).
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QThread>

#include "main_window/main_window.h"
#include "record_store/record_store.h"

using namespace RecordStore;

namespace {

// About one line in a thousand holds it (see generateDatabase).
const QString kSelective = QStringLiteral("MAX232");
// Neither it nor its upper-case form occurs anywhere.
const QString kNothing = QStringLiteral("qzx");

using Figures = std::map<QString, double>;

struct Component
{
    QString type;
    QStringList items;
};

QStringList valuesWithUnits(const QStringList &mantissas, const QStringList &units)
{
    QStringList values;
    for (const QString &unit : units) {
        for (const QString &mantissa : mantissas)
            values << mantissa + unit;
    }
    return values;
}

QList<Component> components()
{
    const QStringList e12 = {"1",   "1.2", "1.5", "1.8", "2.2", "2.7",
                             "3.3", "3.9", "4.7", "5.6", "6.8", "8.2"};
    const QStringList e6 = {"1", "2.2", "4.7", "10", "22", "47", "100", "220", "470"};
    return {
        {"Resistor", valuesWithUnits(e12, {QStringLiteral("Ω"), QStringLiteral("0Ω"),
                                           QStringLiteral("00Ω"), "k", "0k", "00k", "M"})},
        {"Capacitor", valuesWithUnits(e6, {"pF", "nF", QStringLiteral("µF"),
                                           QStringLiteral("µF 25V"), QStringLiteral("µF 63V")})},
        {"Inductor", valuesWithUnits(e6, {QStringLiteral("µH"), "mH"})},
        {"Transistor",
         {"BC547B", "BC557B", "BC337-40", "2N2222A", "2N3904", "2N3906", "BD139", "BD140", "TIP120",
          "IRF540N", "IRLZ44N", "BS170"}},
        {"RF Transistor", {"BFR91A", "BFR96S", "BFG135", "2SC3355", "BF199", "MRF237"}},
        {"Xtal", {"4MHz", "8MHz", "12MHz", "16MHz", "20MHz", "32.768kHz", "14.318MHz", "27MHz"}},
        {"Resonator", {"CSTCE8M00G", "CSTCE16M0V", "4MHz ceramic", "455kHz ceramic"}},
        {"Socket", {"DIL8", "DIL14", "DIL16", "DIL28 narrow", "DIL40", "PLCC44", "ZIF28"}},
        {"IC",
         {"NE555", "LM358", "LM324", "74HC595", "74HC00", "CD4017", "LM7805", "LM317T", "TL072",
          "ULN2003A"}},
        {"MicroChip",
         {"ATmega328P", "ATtiny85", "PIC16F84A", "PIC12F675", "STM32F103C8T6", "ESP32-WROOM-32"}},
        {"Other",
         {"Fuse 2A", "Heatsink TO-220", "Relay 12V", "Ferrite bead", "Buzzer 5V",
          QStringLiteral("LED red 5mm, 20mA @ 25°C"), "Pin header 2.54"}},
    };
}

// `records` record lines: boxes A1 to Z99, the eleven types, counts up to 999;
// one line in a thousand, at random, holds a MAX232 level shifter.
QString generateDatabase(int records)
{
    const QList<Component> parts = components();
    QRandomGenerator random(20261208);
    QString text;
    text.reserve(qsizetype(records) * 64);
    for (int k = 0; k < records; ++k) {
        const QString box =
            QChar(char16_t(u'A' + random.bounded(26))) + QString::number(1 + random.bounded(99));
        const QString count = QString::number(random.bounded(1000));
        if (random.bounded(1000) == 0) {
            text +=
                ComposeRecordLine(box, random.bounded(2) ? "MAX232CPE" : "MAX232N", count, "IC");
            continue;
        }
        const Component &part = parts[random.bounded(int(parts.size()))];
        text += ComposeRecordLine(box, part.items[random.bounded(int(part.items.size()))], count,
                                  part.type);
    }
    return text;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median in milliseconds of `reps` timed runs of `run`, each after an
// untimed `prepare`, after one untimed warm-up. `batch` runs are timed
// together and divided, for operations too short to time one by one.
double medianMs(int reps, const std::function<void()> &prepare, const std::function<void()> &run,
                int batch = 1)
{
    QList<double> times;
    for (int k = 0; k <= reps; ++k) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        for (int b = 0; b < batch; ++b)
            run();
        const double ms = double(timer.nsecsElapsed()) / 1e6 / batch;
        if (k > 0)
            times << ms;
    }
    return median(times);
}

double medianMs(int reps, const std::function<void()> &run, int batch = 1)
{
    return medianMs(
        reps, [] {}, run, batch);
}

[[noreturn]] void fail(const QString &what)
{
    std::fprintf(stderr, "stockbook_bench: %s\n", qPrintable(what));
    std::exit(2);
}

void check(bool condition, const QString &what)
{
    if (!condition)
        fail(what);
}

qsizetype lineCount(const QString &text)
{
    return text.count(QLatin1String("\r\n"));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("cannot read " + path);
    return file.readAll();
}

// Writes `bytes` into a new file as plainly as the platform allows, and flushes
// it to disk, as WriteDatabaseFile does.
void writeFileSynced(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0)
        fail("cannot write " + path);
}

double grepMs(int reps, const QStringList &fragments, const QString &path)
{
    return medianMs(reps, [&] {
        for (const QString &fragment : fragments) {
            QProcess grep;
            grep.start("grep", {"-F", "-c", "-e", fragment, path});
            if (!grep.waitForFinished(-1) || grep.exitStatus() != QProcess::NormalExit)
                fail("grep did not run");
        }
    });
}

// Peak resident memory of this process so far, in KiB.
double peakKib()
{
    QFile status("/proc/self/status");
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toDouble();
        }
    }
    return -1;
}

void report(const char *key, double value)
{
    std::printf("%s %.6f\n", key, value);
    std::fflush(stdout);
}

// ---- The window, in a child process ------------------------------------------------------

// An editor like the database view, for the toolkit's own figures.
QPlainTextEdit *makeFloorView(const QPlainTextEdit *view)
{
    auto *editor = new QPlainTextEdit;
    editor->setFont(view->font());
    editor->resize(view->size());
    editor->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return editor;
}

template <typename T> T *child(QWidget *window, const char *name)
{
    T *widget = window->findChild<T *>(QLatin1String(name));
    if (!widget)
        fail(QStringLiteral("no control %1").arg(name));
    return widget;
}

double timeOnceMs(const std::function<void()> &prepare, const std::function<void()> &run)
{
    prepare();
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Medians of two operations timed in turns, so that a load on the machine
// that comes and goes weighs on both alike.
std::pair<double, double> pairedMedianMs(int reps, const std::function<void()> &prepareA,
                                         const std::function<void()> &runA,
                                         const std::function<void()> &prepareB,
                                         const std::function<void()> &runB)
{
    QList<double> a;
    QList<double> b;
    for (int k = 0; k <= reps; ++k) {
        const double timeA = timeOnceMs(prepareA, runA);
        const double timeB = timeOnceMs(prepareB, runB);
        if (k > 0) {
            a << timeA;
            b << timeB;
        }
    }
    return {median(a), median(b)};
}

void settle()
{
    QCoreApplication::processEvents();
}

int runWindow(const QString &directory, int reps)
{
    const QString whole = LoadDatabaseFile(directory).value.text;
    const QString everyLine = FilterDatabaseLines(directory, QString()).value;
    const QString selective = FilterDatabaseLines(directory, kSelective).value;
    const qsizetype lines = lineCount(whole);

    // Start-up: constructing the window loads the database into its view.
    // Its floor: a new editor of the same size, hidden as the view is then.
    Form1 *window = nullptr;
    QPlainTextEdit *hidden = nullptr;
    const auto [startup, setHidden] = pairedMedianMs(
        reps,
        [&] {
            delete window;
            window = nullptr;
        },
        [&] { window = new Form1(directory); },
        [&] {
            delete hidden;
            hidden = makeFloorView(child<QPlainTextEdit>(window, "Text5"));
        },
        [&] { hidden->setPlainText(whole); });
    delete hidden;
    report("startup", startup);
    report("set_whole_hidden", setHidden);
    auto *view = child<QPlainTextEdit>(window, "Text5");
    check(view->blockCount() == lines + 1, "start-up did not load every line");

    window->show();
    check(QTest::qWaitForWindowExposed(window), "the window was not shown");
    auto *boxField = child<QLineEdit>(window, "Text1");
    auto *countField = child<QLineEdit>(window, "Text3");
    auto *searchField = child<QLineEdit>(window, "Text4");
    auto *update = child<QPushButton>(window, "Command6");

    // The pick: one click on the last record line, scrolled into sight.
    QPoint lastLinePoint;
    QString lastBox;
    QTextCursor lastLineCaret;
    auto prepareLastLineClick = [&] {
        QTextBlock last = view->document()->lastBlock();
        if (last.text().isEmpty())
            last = last.previous();
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
        settle();
        lastLineCaret = QTextCursor(last);
        lastLineCaret.setPosition(last.position() + 3);
        lastLinePoint = view->cursorRect(lastLineCaret).center();
        lastBox = PickRecordFields(last.text() + "\r\n", 3).value(0);
        boxField->clear();
        settle();
    };
    auto clickLastLine = [&] {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, lastLinePoint);
        settle();
    };
    // The click, the walk over every line that the toolkit's own press would
    // make (QAbstractTextDocumentLayout::blockWithMarkerAt, which looks for a
    // list marker under the mouse; the view's plain click does without it),
    // and the click handler alone. A click costs little at every size, so it
    // is timed as often as at the smallest one, also where the window's other
    // figures get few runs: once on its own, as clicks follow one another,
    // and once in turns with the walk, which leaves the processor's cache
    // emptied by a pass over the whole document before every click.
    const int clickReps = std::max(reps, 21);
    auto clickAndCheck = [&] {
        clickLastLine();
        check(boxField->text() == lastBox, "the click picked no record");
    };
    const double click = medianMs(clickReps, prepareLastLineClick, clickAndCheck);
    const auto [clickCold, markerWalk] = pairedMedianMs(
        clickReps, prepareLastLineClick, clickAndCheck, [] {},
        [&] {
            check(!view->document()->documentLayout()->blockWithMarkerAt(lastLinePoint).isValid(),
                  "a list marker in the view");
        });
    report("click", click);
    report("click_cold", clickCold);
    report("marker_walk", markerWalk);
    report("click_handler", medianMs(
                                clickReps,
                                [&] {
                                    prepareLastLineClick();
                                    view->setTextCursor(lastLineCaret);
                                    settle();
                                },
                                [&] {
                                    QMetaObject::invokeMethod(window, "Text5_Click");
                                    check(boxField->text() == lastBox, "no record picked");
                                }));

    // Update on the whole view: pick the last line, change its count, click.
    int round = 0;
    report("update", medianMs(
                         reps,
                         [&] {
                             prepareLastLineClick();
                             clickLastLine();
                             check(!window->selectedRecord().isEmpty(), "no record picked");
                             countField->setText(QString::number(++round));
                             settle();
                         },
                         [&] {
                             QTest::mouseClick(update, Qt::LeftButton);
                             settle();
                             check(countField->text() == "0", "Update did not run");
                         }));
    check(view->blockCount() == lines + 1, "Update lost lines");
    report("to_plain_text",
           medianMs(reps, [&] { check(!view->toPlainText().isEmpty(), "empty"); }));

    // Key strokes in the search field, each against the toolkit setting the
    // same result into the same view from the same previous content. Setting
    // the field's text from here runs no search; a typed key does.
    auto showInView = [&](const QString &text) {
        view->setPlainText(text);
        settle();
    };
    // `searched` is the search text the key stroke leaves for the handler.
    auto keyStroke = [&](const char *key, const QString &before, const QString &fieldText,
                         const std::function<void()> &type, const QString &searched,
                         const QString &result) {
        const qsizetype resultLines = lineCount(result);
        QList<double> stroke;
        QList<double> set;
        QList<double> filter;
        for (int k = 0; k <= reps; ++k) {
            const double strokeMs = timeOnceMs(
                [&] {
                    searchField->setText(fieldText);
                    showInView(before);
                },
                [&] {
                    type();
                    settle();
                });
            check(result.isEmpty() ? view->toPlainText().isEmpty()
                                   : view->blockCount() == resultLines + 1,
                  "wrong result");
            const double setMs =
                timeOnceMs([&] { showInView(before); }, [&] { showInView(result); });
            // The search as the handler makes it: the first pass and, when it
            // finds nothing, the upper-case retry on the same read.
            const double filterMs = timeOnceMs(
                [] {},
                [&] {
                    DatabaseSnapshot snapshot;
                    if (FilterDatabaseLines(directory, searched, snapshot).value.isEmpty())
                        FilterDatabaseLines(directory, searched.toUpper(), snapshot);
                });
            if (k > 0) {
                stroke << strokeMs;
                set << setMs;
                filter << filterMs;
            }
        }
        report(qPrintable(QStringLiteral("key_%1").arg(key)), median(stroke));
        report(qPrintable(QStringLiteral("set_%1").arg(key)), median(set));
        report(qPrintable(QStringLiteral("wfilter_%1").arg(key)), median(filter));
    };
    const auto typeLastOf = [&](const QString &fragment) {
        return [&searchField, last = fragment.right(1)] {
            QTest::keyClicks(searchField, last);
        };
    };
    // The first key stroke after start-up, from the whole view.
    keyStroke("first", whole, kSelective.chopped(1), typeLastOf(kSelective), kSelective, selective);
    // A further key stroke, from a view that shows a result.
    keyStroke("selective", selective, kSelective.chopped(1), typeLastOf(kSelective), kSelective,
              selective);
    // Deleting the one character of the search text shows every line.
    keyStroke(
        "all", selective, kSelective.left(1),
        [&] { QTest::keyClick(searchField, Qt::Key_Backspace); }, QString(), everyLine);
    // A key stroke that matches nothing, so that the upper-case retry runs.
    keyStroke("nothing", selective, kNothing.chopped(1), typeLastOf(kNothing), kNothing, QString());
    check(searchField->text() == kNothing.toUpper(), "no upper-case retry");
    delete window;
    return 0;
}

// Shows the widget, lets it paint, and reports the process's peak memory.
int reportPeakMemoryShown(QWidget &widget)
{
    widget.show();
    check(QTest::qWaitForWindowExposed(&widget), "the window was not shown");
    QCoreApplication::processEvents();
    report("peak_kib", peakKib());
    return 0;
}

int runMemory(const QString &directory)
{
    Form1 window(directory);
    return reportPeakMemoryShown(window);
}

// The least a program must hold to show the file: its bytes, their text and
// a plain text editor showing it.
int runMemoryFloor(const QString &directory)
{
    QPlainTextEdit editor;
    editor.resize(385, 177);
    {
        const QString text = QString::fromUtf8(readFile(DatabaseFilePath(directory)));
        editor.setPlainText(text);
    }
    return reportPeakMemoryShown(editor);
}

// Start-up until the window is shown and painted.
int runLongLine(const QString &directory)
{
    QElapsedTimer timer;
    timer.start();
    Form1 window(directory);
    window.show();
    check(QTest::qWaitForWindowExposed(&window), "the window was not shown");
    QCoreApplication::processEvents();
    report("shown", double(timer.nsecsElapsed()) / 1e6);
    return 0;
}

// ---- The parent: generate, measure, print ------------------------------------------------

Figures runChild(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        fail("the child " + arguments.join(' ') + " failed");
    Figures figures;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 2)
            figures[QString::fromLatin1(words[0])] = words[1].toDouble();
    }
    return figures;
}

struct SizeRun
{
    int records = 0;
    int reps = 0;
    qint64 fileBytes = 0;
    qsizetype matchingLines = 0;
    Figures figures;
};

SizeRun measureSize(int records, int reps)
{
    SizeRun run;
    run.records = records;
    run.reps = reps;
    Figures &f = run.figures;

    QTemporaryDir temporary;
    check(temporary.isValid(), "no temporary directory");
    const QString directory = temporary.path();
    const QString path = DatabaseFilePath(directory);
    const QString generated = generateDatabase(records);
    check(WriteDatabaseFile(directory, generated).ok(), "cannot write the database");
    const QByteArray bytes = readFile(path);
    run.fileBytes = bytes.size();

    std::fprintf(stderr, "%d records (%.1f MB): record store...\n", records, bytes.size() / 1e6);
    f["read"] = medianMs(reps, [&] { check(readFile(path).size() == bytes.size(), "short read"); });
    QString loaded;
    f["load"] = medianMs(reps, [&] { loaded = LoadDatabaseFile(directory).value.text; });
    check(loaded == generated, "the load does not give back what was written");

    QString selective;
    f["filter_selective"] =
        medianMs(reps, [&] { selective = FilterDatabaseLines(directory, kSelective).value; });
    run.matchingLines = lineCount(selective);
    f["filter_nothing"] = medianMs(reps, [&] {
        // The first pass and the upper-case retry, as a key stroke makes them.
        const QString first = FilterDatabaseLines(directory, kNothing).value;
        const QString second = FilterDatabaseLines(directory, kNothing.toUpper()).value;
        check(first.isEmpty() && second.isEmpty(), "the fragment that matches nothing matched");
    });
    f["filter_all"] = medianMs(reps, [&] {
        check(FilterDatabaseLines(directory, QString()).value.size() == loaded.size(),
              "lines lost");
    });

    // The caret three characters into the last line.
    const qsizetype caret = loaded.lastIndexOf(QLatin1String("\r\n"), loaded.size() - 3) + 2 + 3;
    f["pick"] = medianMs(
        reps, [&] { check(PickRecordFields(loaded, caret).size() == 4, "no pick"); }, 1000);

    f["write"] = medianMs(reps, [&] { check(WriteDatabaseFile(directory, loaded).ok(), "write"); });
    const QByteArray written = (loaded + "\r\n").toUtf8();
    const QString floorPath = directory + "/floor.txt";
    f["write_floor"] = medianMs(reps, [&] { writeFileSynced(floorPath, written); });
    QFile::remove(floorPath);

    f["grep_selective"] = grepMs(reps, {kSelective}, path);
    f["grep_nothing"] = grepMs(reps, {kNothing, kNothing.toUpper()}, path);
    f["grep_all"] = grepMs(reps, {QString()}, path);

    std::fprintf(stderr, "%d records: window...\n", records);
    const Figures window = runChild({"--window", directory, QString::number(reps)});
    f.insert(window.begin(), window.end());
    std::fprintf(stderr, "%d records: memory...\n", records);
    f["peak"] = runChild({"--memory", directory}).at("peak_kib");
    f["peak_floor"] = runChild({"--memory-floor", directory}).at("peak_kib");
    return run;
}

QString formatMs(double ms)
{
    if (ms < 0.1)
        return QString::number(ms * 1000, 'f', 1) + " µs";
    if (ms < 10)
        return QString::number(ms, 'f', 2) + " ms";
    if (ms < 100)
        return QString::number(ms, 'f', 1) + " ms";
    return QString::number(ms, 'f', 0) + " ms";
}

QString formatMib(double kib)
{
    return QString::number(kib / 1024, 'f', 0) + " MiB";
}

QString formatRatio(double ratio)
{
    return QString::number(ratio, 'f', ratio < 10 ? 2 : 1) + "×";
}

// One row: a figure per size, each with its ratio to its floor.
struct Row
{
    QString label;
    QString floorLabel;
    std::function<double(const SizeRun &)> value;
    std::function<double(const SizeRun &)> floor; // empty: no ratio
    bool memory = false;
};

QString lscpuField(const QString &output, const QString &name)
{
    for (const QString &line : output.split('\n')) {
        if (line.startsWith(name + ":"))
            return line.mid(name.size() + 1).trimmed();
    }
    return QStringLiteral("?");
}

QString machineLine()
{
    QProcess lscpu;
    lscpu.start("lscpu", {});
    lscpu.waitForFinished(-1);
    const QString out = QString::fromLocal8Bit(lscpu.readAllStandardOutput());
    return QStringLiteral("%1, %2 cores (%3 logical CPUs), %4; Qt %5, offscreen platform")
        .arg(lscpuField(out, "Model name"),
             QString::number(lscpuField(out, "Core(s) per socket").toInt() *
                             qMax(1, lscpuField(out, "Socket(s)").toInt())),
             lscpuField(out, "CPU(s)"), QSysInfo::prettyProductName(), qVersion());
}

int runParent(const QList<int> &sizes, int repsOverride)
{
    QList<SizeRun> runs;
    for (int records : sizes) {
        const int reps = repsOverride > 0     ? repsOverride
                         : records >= 1000000 ? 3
                         : records >= 100000  ? 11
                         : records >= 10000   ? 15
                                              : 21;
        runs << measureSize(records, reps);
    }
    const SizeRun *smallest = &runs.first();
    auto fig = [](const char *key) {
        return [key = QString::fromLatin1(key)](const SizeRun &r) {
            return r.figures.at(key);
        };
    };
    auto sum = [](const char *a, const char *b) {
        return [a = QString::fromLatin1(a), b = QString::fromLatin1(b)](const SizeRun &r) {
            return r.figures.at(a) + r.figures.at(b);
        };
    };
    auto atSmallest = [smallest](const char *key) {
        return [key = QString::fromLatin1(key), smallest](const SizeRun &) {
            return smallest->figures.at(key);
        };
    };
    const QString smallestLabel = QLocale(QLocale::English).toString(smallest->records);

    const QList<Row> rows = {
        {"**Record store**", {}, {}, {}},
        {"LoadDatabaseFile", "read", fig("load"), fig("read")},
        {"FilterDatabaseLines, 0.1 % match", "grep", fig("filter_selective"),
         fig("grep_selective")},
        {"… same, against the raw read", "read", fig("filter_selective"), fig("read")},
        {"FilterDatabaseLines, no match in either case (2 scans)", "grep ×2", fig("filter_nothing"),
         fig("grep_nothing")},
        {"FilterDatabaseLines, empty text (every line)", "grep", fig("filter_all"),
         fig("grep_all")},
        {"PickRecordFields, last line", "pick at " + smallestLabel, fig("pick"),
         atSmallest("pick")},
        {"WriteDatabaseFile", "write", fig("write"), fig("write_floor")},
        {"**Window**", {}, {}, {}},
        {"start-up to a loaded view", "load + set", fig("startup"),
         sum("load", "set_whole_hidden")},
        {"key stroke, 0.1 % match (view showed a result)", "filter + set", fig("key_selective"),
         sum("wfilter_selective", "set_selective")},
        {"key stroke, 0.1 % match (view showed every line)", "filter + set", fig("key_first"),
         sum("wfilter_first", "set_first")},
        {"key stroke, every line (search text emptied)", "filter + set", fig("key_all"),
         sum("wfilter_all", "set_all")},
        {"key stroke, no match in either case", "filter + set", fig("key_nothing"),
         sum("wfilter_nothing", "set_nothing")},
        {"click pick on the last line", "click at " + smallestLabel, fig("click"),
         atSmallest("click")},
        {"… right after a pass over every line (cold cache)", "cold click at " + smallestLabel,
         fig("click_cold"), atSmallest("click_cold")},
        {"… its handler alone (Text5_Click)", "handler at " + smallestLabel, fig("click_handler"),
         atSmallest("click_handler")},
        {"… the toolkit's own press: its walk over every line", "click", fig("marker_walk"),
         fig("click")},
        {"Update on the whole view", "text + write", fig("update"),
         sum("to_plain_text", "write_floor")},
        {"peak memory, database loaded", "editor", fig("peak"), fig("peak_floor"), true},
        {"**Floors**", {}, {}, {}},
        {"QFile::readAll of the file (read)", {}, fig("read"), {}},
        {"grep -F -c, 0.1 % match (grep)", {}, fig("grep_selective"), {}},
        {"grep -F -c, no match, both cases (grep ×2)", {}, fig("grep_nothing"), {}},
        {"grep -F -c, empty text", {}, fig("grep_all"), {}},
        {"QFile write + fsync of the same bytes (write)", {}, fig("write_floor"), {}},
        {"setPlainText, whole text, new hidden editor (set)", {}, fig("set_whole_hidden"), {}},
        {"view setPlainText + paint, 0.1 % result over a result (set)",
         {},
         fig("set_selective"),
         {}},
        {"view setPlainText + paint, 0.1 % result over every line (set)", {}, fig("set_first"), {}},
        {"view setPlainText + paint, every line over a result (set)", {}, fig("set_all"), {}},
        {"view setPlainText + paint, empty over a result (set)", {}, fig("set_nothing"), {}},
        {"FilterDatabaseLines in the window's process, 0.1 % (filter)",
         {},
         fig("wfilter_selective"),
         {}},
        {"… every line (filter)", {}, fig("wfilter_all"), {}},
        {"… no match, with the upper-case retry (filter)", {}, fig("wfilter_nothing"), {}},
        {"toPlainText of the whole view (text)", {}, fig("to_plain_text"), {}},
        {"QPlainTextEdit showing the file (editor)", {}, fig("peak_floor"), {}, true},
    };

    // Header.
    QString out;
    QString header = "| Figure | floor |";
    QString rule = "|---|---|";
    for (const SizeRun &r : runs) {
        header += " " + QLocale(QLocale::English).toString(r.records) + " |";
        rule += "---:|";
    }
    const bool growth = runs.size() > 2 && runs[1].records * 100 == runs.last().records;
    if (growth) {
        header += " growth " + QLocale(QLocale::English).toString(runs[1].records) + " → " +
                  QLocale(QLocale::English).toString(runs.last().records) + " |";
        rule += "---:|";
    }
    out += "Machine: " + machineLine() + "\n\n";
    out += "Medians of ";
    QStringList repCounts;
    for (const SizeRun &r : runs)
        repCounts << QString::number(r.reps);
    out += repCounts.join(" / ") + " runs (the click and its handler: at least 21); each figure "
                                   "with its ratio to the floor named. ";
    QStringList sizesText;
    for (const SizeRun &r : runs)
        sizesText << QStringLiteral("%1 MB (%2 lines match \"%3\")")
                         .arg(QString::number(r.fileBytes / 1e6, 'f', 2))
                         .arg(r.matchingLines)
                         .arg(kSelective);
    out += "Files: " + sizesText.join(", ") + ".\n\n";
    out += header + "\n" + rule + "\n";
    for (const Row &row : rows) {
        QString line = "| " + row.label + " | " + row.floorLabel + " |";
        for (const SizeRun &r : runs) {
            if (!row.value) {
                line += " |";
                continue;
            }
            const double v = row.value(r);
            QString cell = row.memory ? formatMib(v) : formatMs(v);
            if (row.floor)
                cell += " · " + formatRatio(v / row.floor(r));
            line += " " + cell + " |";
        }
        if (growth)
            line += row.value
                        ? " " +
                              QString::number(row.value(runs.last()) / row.value(runs[1]), 'f', 0) +
                              " |"
                        : " |";
        out += line + "\n";
    }

    // The targets, on the 100,000-record run.
    const auto at = std::find_if(runs.begin(), runs.end(),
                                 [](const SizeRun &r) { return r.records == 100000; });
    if (at != runs.end()) {
        const Figures &f = at->figures;
        auto verdict = [](bool holds) {
            return holds ? QStringLiteral("holds") : "MISSED";
        };
        struct Target
        {
            QString text;
            double ratio;
            double limit;
        };
        const QList<Target> targets = {
            {"FilterDatabaseLines (0.1 %) / grep -F -c",
             f.at("filter_selective") / f.at("grep_selective"), 1.0},
            {"FilterDatabaseLines (0.1 %) / raw read", f.at("filter_selective") / f.at("read"),
             3.0},
            {"key stroke (0.1 %, from a result) / (filter + set)",
             f.at("key_selective") / (f.at("wfilter_selective") + f.at("set_selective")), 1.3},
            {"key stroke (0.1 %, from every line) / (filter + set)",
             f.at("key_first") / (f.at("wfilter_first") + f.at("set_first")), 1.3},
            {"key stroke (every line) / (filter + set)",
             f.at("key_all") / (f.at("wfilter_all") + f.at("set_all")), 1.3},
            {"key stroke (no match) / (filter + set)",
             f.at("key_nothing") / (f.at("wfilter_nothing") + f.at("set_nothing")), 1.3},
            {"start-up / (load + set)", f.at("startup") / (f.at("load") + f.at("set_whole_hidden")),
             1.3},
        };
        out += "\nTargets at 100,000 records:\n\n";
        for (const Target &t : targets)
            out += QStringLiteral("- %1: %2 (at most %3): %4\n")
                       .arg(t.text, formatRatio(t.ratio), formatRatio(t.limit),
                            verdict(t.ratio <= t.limit));
        for (const char *key : {"key_selective", "key_first"})
            out += QStringLiteral("- %1 key stroke, 0.1 %: %2 (under 50 ms): %3\n")
                       .arg(QString::fromLatin1(key) == "key_first" ? "first" : "further",
                            formatMs(f.at(key)), verdict(f.at(key) < 50));
    }
    if (runs.last().records >= 1000000 && smallest->records <= 1000) {
        for (const char *key : {"click", "click_cold"}) {
            const double ratio = runs.last().figures.at(key) / smallest->figures.at(key);
            out += QStringLiteral("- %1 pick at %2 / at %3: %4 (at most 2×): %5\n")
                       .arg(QString::fromLatin1(key) == "click" ? "click" : "cold click",
                            QLocale(QLocale::English).toString(runs.last().records), smallestLabel,
                            formatRatio(ratio), ratio <= 2 ? "holds" : "MISSED");
        }
    }
    // One record line whose item is 1 MB of letters, once without a blank and
    // once with one every ten characters, shown in the window.
    QStringList longLine;
    for (const char *item : {"abcdefghij", "abcdefghi "}) {
        QTemporaryDir temporary;
        const QString line = ComposeRecordLine("A1", QString(item).repeated(100000), "1", "IC");
        check(WriteDatabaseFile(temporary.path(), line).ok(), "cannot write the database");
        longLine << formatMs(runChild({"--long-line", temporary.path()}).at("shown"));
    }
    out += QStringLiteral("\nStart-up to a painted window on one record line with a 1 MB item: "
                          "%1 without a blank, %2 with a blank every ten characters.\n")
               .arg(longLine[0], longLine[1]);
    std::fputs(qPrintable(out), stdout);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The window runs offscreen, also when started by hand.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QStringList arguments = [&] {
        QStringList list;
        for (int k = 0; k < argc; ++k)
            list << QString::fromLocal8Bit(argv[k]);
        return list;
    }();
    const QString mode = arguments.value(1);
    if (mode == "--window" || mode == "--memory" || mode == "--memory-floor" ||
        mode == "--long-line") {
        QApplication app(argc, argv);
        if (mode == "--window")
            return runWindow(arguments.value(2), arguments.value(3).toInt());
        if (mode == "--long-line")
            return runLongLine(arguments.value(2));
        if (mode == "--memory")
            return runMemory(arguments.value(2));
        return runMemoryFloor(arguments.value(2));
    }
    QCoreApplication app(argc, argv);
    if (mode == "--generate" && arguments.size() == 4) {
        // A database to profile with: --generate RECORDS DIRECTORY.
        return WriteDatabaseFile(arguments[3], generateDatabase(arguments[2].toInt())).ok() ? 0 : 1;
    }
    QList<int> sizes = {1000, 10000, 100000, 1000000};
    int reps = 0;
    for (int k = 1; k < arguments.size(); ++k) {
        if (arguments[k] == "--sizes" && k + 1 < arguments.size()) {
            sizes.clear();
            for (const QString &size : arguments[++k].split(','))
                sizes << size.toInt();
        } else if (arguments[k] == "--reps" && k + 1 < arguments.size()) {
            reps = arguments[++k].toInt();
        } else {
            std::fprintf(stderr, "usage: %s [--sizes 1000,10000,...] [--reps N]\n", argv[0]);
            return 2;
        }
    }
    return runParent(sizes, reps);
}
