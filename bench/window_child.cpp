// SPDX-License-Identifier: GPL-3.0-or-later

// What the child processes run, offscreen: the window's start-up, the click
// pick, Update and Save (each plainly and merging another writer's change) and
// the key strokes in the search field, each timed against the toolkit doing
// the same for the same text or against the plain write (--window); the peak memory of the
// window and of a bare editor showing the file (--memory, --memory-floor); and
// the start-up to a painted window (--long-line).
#include "bench/window_child.h"

#include <algorithm>
#include <functional>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "bench/bench_support.h"
#include "main_window/main_window.h"
#include "record_store/record_store.h"

using namespace RecordStore;

namespace Bench {

namespace {

// The database's text, every line of it as the search shows it, and the lines
// that hold kSelective.
struct DatabaseTexts
{
    QString whole;
    QString everyLine;
    QString selective;
};

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

// Shows the widget and lets it paint: the paint runs from the posted events.
void showPainted(QWidget &widget)
{
    widget.show();
    check(QTest::qWaitForWindowExposed(&widget), "the window was not shown");
    QCoreApplication::processEvents();
}

// Start-up: constructing the window loads the database into its view. Its
// floor: a new editor of the same size, hidden as the view is then. Gives the
// last window made.
Form1 *timeStartup(const QString &directory, const QString &whole, int reps)
{
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
    return window;
}

// A click on the last record line of the window's view, scrolled into sight.
// Where events are processed, the scrolling, the click's repaint and the
// like, which the toolkit posts, take effect: in the timed runs they belong
// to what the user waits for.
struct LastLineClick
{
    explicit LastLineClick(Form1 *form)
        : window(form), view(child<QPlainTextEdit>(form, "Text5")),
          boxField(child<QLineEdit>(form, "Text1"))
    {
    }

    void prepare()
    {
        QTextBlock last = view->document()->lastBlock();
        if (last.text().isEmpty())
            last = last.previous();
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
        QCoreApplication::processEvents();
        caret = QTextCursor(last);
        caret.setPosition(last.position() + 3);
        point = view->cursorRect(caret).center();
        box = PickRecordFields(QString(last.text() + "\r\n"), 3).fields.box;
        boxField->clear();
        QCoreApplication::processEvents();
    }
    void click() const
    {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
        QCoreApplication::processEvents();
    }
    void clickAndCheck() const
    {
        click();
        check(picked(), "the click picked no record");
    }
    bool picked() const
    {
        return boxField->text() == box;
    }

    Form1 *const window;
    QPlainTextEdit *const view;
    QLineEdit *const boxField;
    QPoint point;
    QString box;
    QTextCursor caret;
};

// A click costs little at every size, so it is timed as often as at the
// smallest one, also where the window's other figures get few runs.
int clickReps(int reps)
{
    return std::max(reps, kLeastClickReps);
}

// The pick, timed on its own, as clicks follow one another.
void timeClick(LastLineClick &last, int reps)
{
    report("click", medianMs(
                        clickReps(reps), [&] { last.prepare(); }, [&] { last.clickAndCheck(); }));
}

// Reads memory the size of the processor's largest cache, so that what
// follows finds nothing of its own there: a pass over every line of a small
// document leaves the cache as it was.
void emptyProcessorCache()
{
    static const std::vector<char> other = [] {
        const long largest =
            std::max({sysconf(_SC_LEVEL3_CACHE_SIZE), sysconf(_SC_LEVEL2_CACHE_SIZE), 64L << 20});
        return std::vector<char>(size_t(largest) * 2, 1);
    }();
    volatile char sink = 0;
    for (size_t k = 0; k < other.size(); k += 64)
        sink = char(sink + other[k]);
}

// The click with the processor's cache emptied before it, in turns with the
// walk over every line that the toolkit's own press would make
// (QAbstractTextDocumentLayout::blockWithMarkerAt, which looks for a list
// marker under the mouse; the view's plain click does without it).
void timeColdClick(LastLineClick &last, int reps)
{
    const auto [clickCold, markerWalk] = pairedMedianMs(
        clickReps(reps),
        [&] {
            last.prepare();
            emptyProcessorCache();
        },
        [&] { last.clickAndCheck(); }, [] {},
        [&] {
            const QAbstractTextDocumentLayout *layout = last.view->document()->documentLayout();
            check(!layout->blockWithMarkerAt(last.point).isValid(), "a list marker in the view");
        });
    report("click_cold", clickCold);
    report("marker_walk", markerWalk);
}

// The click handler alone, on the caret the click would set.
void timeClickHandler(LastLineClick &last, int reps)
{
    auto prepare = [&] {
        last.prepare();
        last.view->setTextCursor(last.caret);
        QCoreApplication::processEvents();
    };
    report("click_handler", medianMs(clickReps(reps), prepare, [&] {
               QMetaObject::invokeMethod(last.window, "Text5_Click");
               check(last.picked(), "no record picked");
           }));
}

// Which record another writer changes in the file before a write: none, the
// first (far from the window's change of the last, so that the merge compares
// every line between), or the one before the last (next to it).
enum class OtherWriter { None, FirstRecord, RecordBefore };

// Puts `mark` at the end of the record the other writer changes.
void changeRecordInFile(const QString &directory, OtherWriter other, const QString &mark)
{
    QString file = LoadDatabaseFile(directory).value.text;
    file.insert(other == OtherWriter::FirstRecord
                    ? file.indexOf(u'\r')
                    : file.lastIndexOf(u'\r', file.lastIndexOf(u'\r') - 1),
                mark);
    check(WriteDatabaseFile(directory, file).ok(), "the other writer could not write");
}

// The view's line of the record the other writer changed.
QTextBlock otherWritersLine(const QPlainTextEdit *view, OtherWriter other)
{
    const QTextDocument *document = view->document();
    return other == OtherWriter::FirstRecord ? document->firstBlock()
                                             : document->lastBlock().previous().previous();
}

// A click on a button that writes the database: plainly and, in turns with
// it, merging another writer's change of the first record or of the one
// before the window's; `prepare` readies the window for the click, `done`
// tells that the write ran. The messages the click shows close as soon as
// they show. Gives the three medians.
QList<double> timeWriteClick(LastLineClick &last, int reps, const QString &directory,
                             QPushButton *button, const std::function<void()> &prepare,
                             const std::function<bool()> &done)
{
    int round = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    auto timed = [&](OtherWriter other) {
        const QString mark = QStringLiteral("~%1").arg(++round);
        const double ms = timeOnceMs(
            [&] {
                prepare();
                if (other != OtherWriter::None)
                    changeRecordInFile(directory, other, mark);
                QCoreApplication::processEvents();
            },
            [&] {
                closer.start(1);
                QTest::mouseClick(button, Qt::LeftButton);
                QCoreApplication::processEvents();
                closer.stop();
            });
        check(done(), "the write did not run");
        check(other == OtherWriter::None ||
                  otherWritersLine(last.view, other).text().endsWith(mark),
              "the other writer's change is not in the view");
        return ms;
    };
    return mediansInTurnsMs(reps, {[&] { return timed(OtherWriter::None); },
                                   [&] { return timed(OtherWriter::FirstRecord); },
                                   [&] {
                                       return timed(OtherWriter::RecordBefore);
                                   }});
}

void reportWriteClick(const char *key, const QList<double> &medians)
{
    report(key, medians[0]);
    report(qPrintable(QStringLiteral("%1_merge").arg(key)), medians[1]);
    report(qPrintable(QStringLiteral("%1_merge_near").arg(key)), medians[2]);
}

// Update on the whole view: pick the last line, change its count, click.
void timeUpdate(LastLineClick &last, int reps, qsizetype lines, const QString &directory)
{
    auto *countField = child<QLineEdit>(last.window, "Text3");
    int round = 0;
    auto prepare = [&] {
        last.prepare();
        last.click();
        check(!last.window->selectedRecord().isEmpty(), "no record picked");
        countField->setText(QString::number(++round));
    };
    reportWriteClick("update", timeWriteClick(last, reps, directory,
                                              child<QPushButton>(last.window, "Command6"), prepare,
                                              [&] { return countField->text() == "0"; }));
    check(last.view->blockCount() == lines + 1, "Update lost lines");
}

// Save through the window: a key typed at the end of the last record line
// changes it in the view, then a click on Save.
void timeSave(LastLineClick &last, int reps, qsizetype lines, const QString &directory)
{
    QByteArray changed;
    auto prepare = [&] {
        last.prepare();
        QTextCursor end(last.caret.block());
        end.movePosition(QTextCursor::EndOfBlock);
        last.view->setTextCursor(end);
        QTest::keyClick(last.view, Qt::Key_S);
        changed = last.view->textCursor().block().text().toUtf8();
    };
    reportWriteClick(
        "save_window",
        timeWriteClick(last, reps, directory, child<QPushButton>(last.window, "Command4"), prepare,
                       [&] { return readFile(DatabaseFilePath(directory)).contains(changed); }));
    check(last.view->blockCount() == lines + 1, "Save lost lines");
}

void timeToPlainText(const QPlainTextEdit *view, int reps)
{
    report("to_plain_text",
           medianMs(reps, [&] { check(!view->toPlainText().isEmpty(), "empty"); }));
}

// One key stroke in the search field: `fieldText` in the field and `before`
// in the view, which the window's own search for `shownBy` shows, `type`
// strokes the key, which leaves `searched` for the handler, and the view then
// shows `result`.
struct KeyStroke
{
    const char *key;
    QString before;
    QString shownBy;
    QString fieldText;
    std::function<void()> type;
    QString searched;
    QString result;
};

// The key stroke, against the toolkit setting the same result into the same
// view from the same previous content, and against the search as the handler
// makes it: the first pass and, when it finds nothing, the upper-case retry on
// the same read. Setting the field's text from here runs no search; a typed
// key does. The view's previous content comes from the window's own search,
// so that the window does not take it for the user's edits. Processing the
// events lets the view paint, in both.
void timeKeyStroke(Form1 *window, const QString &directory, const KeyStroke &stroke, int reps)
{
    auto *view = child<QPlainTextEdit>(window, "Text5");
    auto *searchField = child<QLineEdit>(window, "Text4");
    auto showInView = [&](const QString &text) {
        view->setPlainText(text);
        QCoreApplication::processEvents();
    };
    const qsizetype resultLines = lineCount(stroke.result);
    auto typed = [&] {
        const double ms = timeOnceMs(
            [&] {
                searchField->setText(stroke.shownBy);
                QMetaObject::invokeMethod(window, "Text4_Change");
                QCoreApplication::processEvents();
                check(view->blockCount() == lineCount(stroke.before) + 1, "wrong view before");
                searchField->setText(stroke.fieldText);
            },
            [&] {
                stroke.type();
                QCoreApplication::processEvents();
            });
        check(stroke.result.isEmpty() ? view->toPlainText().isEmpty()
                                      : view->blockCount() == resultLines + 1,
              "wrong result");
        return ms;
    };
    auto set = [&] {
        return timeOnceMs([&] { showInView(stroke.before); }, [&] { showInView(stroke.result); });
    };
    auto filter = [&] {
        return timeOnceMs(
            [] {},
            [&] {
                DatabaseSnapshot snapshot;
                if (FilterDatabaseLines(directory, stroke.searched, snapshot).value.isEmpty())
                    static_cast<void>(
                        FilterDatabaseLines(directory, stroke.searched.toUpper(), snapshot));
            });
    };
    const QList<double> medians = mediansInTurnsMs(reps, {typed, set, filter});
    report(qPrintable(QStringLiteral("key_%1").arg(stroke.key)), medians[0]);
    report(qPrintable(QStringLiteral("set_%1").arg(stroke.key)), medians[1]);
    report(qPrintable(QStringLiteral("wfilter_%1").arg(stroke.key)), medians[2]);
}

// The key strokes timed, in the order they are reported.
void timeKeyStrokes(Form1 *window, const QString &directory, const DatabaseTexts &texts, int reps)
{
    auto *searchField = child<QLineEdit>(window, "Text4");
    const auto typeLastOf = [searchField](const QString &fragment) {
        return [searchField, last = fragment.right(1)] {
            QTest::keyClicks(searchField, last);
        };
    };
    const QString &selective = texts.selective;
    const QList<KeyStroke> strokes = {
        // The first key stroke after start-up, from the whole view.
        {"first", texts.everyLine, QString(), kSelective.chopped(1), typeLastOf(kSelective),
         kSelective, selective},
        // A further key stroke, from a view that shows a result.
        {"selective", selective, kSelective, kSelective.chopped(1), typeLastOf(kSelective),
         kSelective, selective},
        // Deleting the one character of the search text shows every line.
        {"all", selective, kSelective, kSelective.left(1),
         [searchField] { QTest::keyClick(searchField, Qt::Key_Backspace); }, QString(),
         texts.everyLine},
        // A key stroke that matches nothing, so that the upper-case retry runs.
        {"nothing", selective, kSelective, kNothing.chopped(1), typeLastOf(kNothing), kNothing,
         QString()},
    };
    for (const KeyStroke &stroke : strokes)
        timeKeyStroke(window, directory, stroke, reps);
    check(searchField->text() == kNothing.toUpper(), "no upper-case retry");
}

int runWindow(const QString &directory, int reps)
{
    const DatabaseTexts texts = {LoadDatabaseFile(directory).value.text,
                                 FilterDatabaseLines(directory, QString()).value,
                                 FilterDatabaseLines(directory, kSelective).value};
    const qsizetype lines = lineCount(texts.whole);

    Form1 *window = timeStartup(directory, texts.whole, reps);
    check(child<QPlainTextEdit>(window, "Text5")->blockCount() == lines + 1,
          "start-up did not load every line");
    showPainted(*window);
    LastLineClick last(window);
    timeClick(last, reps);
    timeColdClick(last, reps);
    timeClickHandler(last, reps);
    timeUpdate(last, reps, lines, directory);
    timeSave(last, reps, lines, directory);
    timeToPlainText(last.view, reps);
    timeKeyStrokes(window, directory, texts, reps);
    delete window;
    return 0;
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

// Shows the widget, lets it paint, and reports the process's peak memory.
int reportPeakMemoryShown(QWidget &widget)
{
    showPainted(widget);
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
    showPainted(window);
    report("shown", double(timer.nsecsElapsed()) / 1e6);
    return 0;
}

} // namespace

bool isWindowChildMode(const QString &mode)
{
    return mode == "--window" || mode == "--memory" || mode == "--memory-floor" ||
           mode == "--long-line";
}

int runWindowChild(const QStringList &arguments)
{
    const QString mode = arguments.value(1);
    const QString directory = arguments.value(2);
    if (mode == "--window")
        return runWindow(directory, arguments.value(3).toInt());
    if (mode == "--long-line")
        return runLongLine(directory);
    if (mode == "--memory")
        return runMemory(directory);
    return runMemoryFloor(directory);
}

} // namespace Bench
