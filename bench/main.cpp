// SPDX-License-Identifier: GPL-3.0-or-later

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
// start-up on a database of one 1 MB line, and the history's cost (a Save
// against a long log, a simulated year: history_timings.*).
//
// Usage: stockbook_bench [--sizes 1000,10000,...] [--reps N]
//        stockbook_bench --history [DAYS]   (the history's figures alone)
//        stockbook_bench --generate RECORDS DIRECTORY   (a database to profile with)
// (the child modes --window, --memory, --memory-floor and --long-line are for
// its own use).
//
// The sources: bench_support.* (what the parts share), store_timings.* (the
// parent's measurements), window_child.* (the child modes), bench_report.* (the
// table and the targets) and this file (the command line).
#include <cstdio>

#include <QApplication>

#include "bench/bench_report.h"
#include "bench/history_timings.h"
#include "bench/store_timings.h"
#include "bench/window_child.h"
#include "record_store/record_store.h"

using namespace Bench;

int main(int argc, char *argv[])
{
    // The window runs offscreen, also when started by hand; memory is kept
    // for reuse as the program keeps it.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    RecordStore::keepFreedMemoryForReuse();
    const QStringList arguments = [&] {
        QStringList list;
        for (int k = 0; k < argc; ++k)
            list << QString::fromLocal8Bit(argv[k]);
        return list;
    }();
    const QString mode = arguments.value(1);
    if (isWindowChildMode(mode)) {
        QApplication app(argc, argv);
        return runWindowChild(arguments);
    }
    QCoreApplication app(argc, argv);
    if (mode == "--history") {
        // Only the history's figures: --history [DAYS].
        const int days = arguments.size() > 2 ? arguments[2].toInt() : 365;
        printHistoryReport(measureHistory(11, days));
        return 0;
    }
    if (mode == "--generate" && arguments.size() == 4) {
        // A database to profile with: --generate RECORDS DIRECTORY.
        const QString text = generateDatabase(arguments[2].toInt());
        return RecordStore::WriteDatabaseFile(arguments[3], text).ok() ? 0 : 1;
    }
    QList<int> sizes = {1000, 10000, 100000, 1000000};
    int repsOverride = 0;
    for (int k = 1; k < arguments.size(); ++k) {
        if (arguments[k] == "--sizes" && k + 1 < arguments.size()) {
            sizes.clear();
            for (const QString &size : arguments[++k].split(','))
                sizes << size.toInt();
        } else if (arguments[k] == "--reps" && k + 1 < arguments.size()) {
            repsOverride = arguments[++k].toInt();
        } else {
            std::fprintf(stderr, "usage: %s [--sizes 1000,10000,...] [--reps N]\n", argv[0]);
            return 2;
        }
    }
    QList<SizeRun> runs;
    for (int records : sizes) {
        const int reps = repsOverride > 0     ? repsOverride
                         : records >= 1000000 ? 3
                         : records >= 100000  ? 11
                         : records >= 10000   ? 15
                                              : 21;
        runs << measureSize(records, reps);
    }
    printReport(runs, measureLongLine(), measureHistory(11, 365));
    return 0;
}
