// SPDX-License-Identifier: GPL-3.0-or-later

// The report: the machine line, one Markdown table row a figure (a cell a size,
// each with its ratio to the floor the row names, and the growth from the
// second size to the last), the targets at 100,000 records and, from 1,000 to
// 1,000,000 records, the click's, then the start-up on one long line.
#include "bench/bench_report.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include <QLocale>
#include <QProcess>
#include <QSysInfo>

#include "bench/store_timings.h"

namespace Bench {

namespace {

// A figure of a size's run.
using Figure = std::function<double(const SizeRun &)>;

Figure fig(const QString &key)
{
    return [key](const SizeRun &r) {
        return r.figures.at(key);
    };
}

Figure sum(const QString &a, const QString &b)
{
    return [a, b](const SizeRun &r) {
        return r.figures.at(a) + r.figures.at(b);
    };
}

// A key stroke's floor: the search as its handler makes it, and the toolkit
// setting its result into the view.
Figure filterPlusSet(const QString &key)
{
    return sum("wfilter_" + key, "set_" + key);
}

// The figure of the smallest size, whatever the size.
Figure atSmallest(const SizeRun &smallest, const QString &key)
{
    return [key, &smallest](const SizeRun &) {
        return smallest.figures.at(key);
    };
}

QString thousands(int number)
{
    return QLocale(QLocale::English).toString(number);
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

QString verdict(bool holds)
{
    return holds ? QStringLiteral("holds") : "MISSED";
}

// One row: a figure per size, each with its ratio to its floor.
struct Row
{
    QString label;
    QString floorLabel;
    Figure value;
    Figure floor; // empty: no ratio
    bool memory = false;
};

Row heading(const QString &label)
{
    return Row{"**" + label + "**", {}, {}, {}};
}

// A figure against the same figure at the smallest size.
Row againstSmallest(const SizeRun &smallest, const QString &label, const QString &floorName,
                    const QString &key)
{
    return Row{label, floorName + " at " + thousands(smallest.records), fig(key),
               atSmallest(smallest, key)};
}

// A key stroke against the search as its handler makes it and the toolkit
// setting its result.
Row keyStroke(const QString &label, const QString &key)
{
    return Row{label, "filter + set", fig("key_" + key), filterPlusSet(key)};
}

// A floor on its own.
Row floorOnly(const QString &label, const QString &key, bool memory = false)
{
    return Row{label, {}, fig(key), {}, memory};
}

QList<Row> storeRows(const SizeRun &smallest)
{
    return {
        heading("Record store"),
        {"LoadDatabaseFile", "read", fig("load"), fig("read")},
        {"FilterDatabaseLines, 0.1 % match", "grep", fig("filter_selective"),
         fig("grep_selective")},
        {"… same, against the raw read", "read", fig("filter_selective"), fig("read")},
        {"FilterDatabaseLines, no match in either case (2 scans)", "grep ×2", fig("filter_nothing"),
         fig("grep_nothing")},
        {"FilterDatabaseLines, empty text (every line)", "grep", fig("filter_all"),
         fig("grep_all")},
        againstSmallest(smallest, "PickRecordFields, last line", "pick", "pick"),
        {"WriteDatabaseFile", "write", fig("write"), fig("write_floor")},
        {"Save, one record changed (session)", "write", fig("save"), fig("write_floor")},
        {"Save merging another writer's change", "Save", fig("save_merge"), fig("save")},
        {"Save of a searched view, one record added", "merging Save", fig("save_searched"),
         fig("save_merge")},
    };
}

QList<Row> windowRows(const SizeRun &smallest)
{
    return {
        heading("Window"),
        {"start-up to a loaded view", "load + set", fig("startup"),
         sum("load", "set_whole_hidden")},
        keyStroke("key stroke, 0.1 % match (view showed a result)", "selective"),
        keyStroke("key stroke, 0.1 % match (view showed every line)", "first"),
        keyStroke("key stroke, every line (search text emptied)", "all"),
        keyStroke("key stroke, no match in either case", "nothing"),
        againstSmallest(smallest, "click pick on the last line", "click", "click"),
        againstSmallest(smallest, "… with the processor's cache emptied first (cold)", "cold click",
                        "click_cold"),
        againstSmallest(smallest, "… its handler alone (Text5_Click)", "handler", "click_handler"),
        {"… the toolkit's own press: its walk over every line", "click", fig("marker_walk"),
         fig("click")},
        {"Update on the whole view", "text + write", fig("update"),
         sum("to_plain_text", "write_floor")},
        {"… merging another writer's change of the first record (message closed at once)", "Update",
         fig("update_merge"), fig("update")},
        {"… merging another writer's change of the record before", "Update",
         fig("update_merge_near"), fig("update")},
        {"Save, one record typed into the view (its message closed at once)", "session Save",
         fig("save_window"), fig("save")},
        {"… merging another writer's change of the first record (messages closed at once)",
         "window Save", fig("save_window_merge"), fig("save_window")},
        {"… merging another writer's change of the record before", "window Save",
         fig("save_window_merge_near"), fig("save_window")},
        {"peak memory, database loaded", "editor", fig("peak"), fig("peak_floor"), true},
    };
}

QList<Row> floorRows()
{
    return {
        heading("Floors"),
        floorOnly("QFile::readAll of the file (read)", "read"),
        floorOnly("grep -F -c, 0.1 % match (grep)", "grep_selective"),
        floorOnly("grep -F -c, no match, both cases (grep ×2)", "grep_nothing"),
        floorOnly("grep -F -c, empty text", "grep_all"),
        floorOnly("QFile write + fsync of the same bytes (write)", "write_floor"),
        floorOnly("setPlainText, whole text, new hidden editor (set)", "set_whole_hidden"),
        floorOnly("view setPlainText + paint, 0.1 % result over a result (set)", "set_selective"),
        floorOnly("view setPlainText + paint, 0.1 % result over every line (set)", "set_first"),
        floorOnly("view setPlainText + paint, every line over a result (set)", "set_all"),
        floorOnly("view setPlainText + paint, empty over a result (set)", "set_nothing"),
        floorOnly("FilterDatabaseLines in the window's process, 0.1 % (filter)",
                  "wfilter_selective"),
        floorOnly("… every line (filter)", "wfilter_all"),
        floorOnly("… no match, with the upper-case retry (filter)", "wfilter_nothing"),
        floorOnly("toPlainText of the whole view (text)", "to_plain_text"),
        floorOnly("QPlainTextEdit showing the file (editor)", "peak_floor", true),
    };
}

QList<Row> rows(const SizeRun &smallest)
{
    return storeRows(smallest) + windowRows(smallest) + floorRows();
}

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

// Whether the table has a column of the growth from the second size to the
// last, a hundred times as many records.
bool hasGrowth(const QList<SizeRun> &runs)
{
    return runs.size() > 2 && runs[1].records * 100 == runs.last().records;
}

// The lines above the table: the machine, the runs and the files.
QString preamble(const QList<SizeRun> &runs)
{
    QString out = "Machine: " + machineLine() + "\n\n";
    out += "Medians of ";
    QStringList repCounts;
    for (const SizeRun &r : runs)
        repCounts << QString::number(r.reps);
    out += repCounts.join(" / ") +
           QStringLiteral(" runs (the click and its handler: at least %1); each figure "
                          "with its ratio to the floor named. ")
               .arg(kLeastClickReps);
    QStringList sizesText;
    for (const SizeRun &r : runs)
        sizesText << QStringLiteral("%1 MB (%2 lines match \"%3\")")
                         .arg(QString::number(r.fileBytes / 1e6, 'f', 2))
                         .arg(r.matchingLines)
                         .arg(kSelective);
    out += "Files: " + sizesText.join(", ") + ".\n\n";
    return out;
}

// The table's header and the rule under it.
QString tableHeader(const QList<SizeRun> &runs)
{
    QString header = "| Figure | floor |";
    QString rule = "|---|---|";
    for (const SizeRun &r : runs) {
        header += " " + thousands(r.records) + " |";
        rule += "---:|";
    }
    if (hasGrowth(runs)) {
        header +=
            " growth " + thousands(runs[1].records) + " → " + thousands(runs.last().records) + " |";
        rule += "---:|";
    }
    return header + "\n" + rule + "\n";
}

QString tableLine(const Row &row, const QList<SizeRun> &runs)
{
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
    if (hasGrowth(runs))
        line += row.value
                    ? QString(" " +
                              QString::number(row.value(runs.last()) / row.value(runs[1]), 'f', 0) +
                              " |")
                    : " |";
    return line + "\n";
}

// The lines above the table, the table's header and every row.
QString table(const QList<SizeRun> &runs)
{
    QString out = preamble(runs) + tableHeader(runs);
    for (const Row &row : rows(runs.first()))
        out += tableLine(row, runs);
    return out;
}

// The targets on the 100,000-record run `at`.
QString targetsAt(const SizeRun &at)
{
    struct Target
    {
        QString text;
        Figure value;
        Figure floor;
        double limit;
    };
    const QList<Target> targets = {
        {"FilterDatabaseLines (0.1 %) / grep -F -c", fig("filter_selective"), fig("grep_selective"),
         1.0},
        {"FilterDatabaseLines (0.1 %) / raw read", fig("filter_selective"), fig("read"), 3.0},
        {"key stroke (0.1 %, from a result) / (filter + set)", fig("key_selective"),
         filterPlusSet("selective"), 1.3},
        {"key stroke (0.1 %, from every line) / (filter + set)", fig("key_first"),
         filterPlusSet("first"), 1.3},
        {"key stroke (every line) / (filter + set)", fig("key_all"), filterPlusSet("all"), 1.3},
        {"key stroke (no match) / (filter + set)", fig("key_nothing"), filterPlusSet("nothing"),
         1.3},
        {"start-up / (load + set)", fig("startup"), sum("load", "set_whole_hidden"), 1.3},
        {"Save that merges / plain Save", fig("save_merge"), fig("save"), 2.0},
        {"Save of a searched view / Save that merges", fig("save_searched"), fig("save_merge"),
         1.0},
        {"window's Update merging a far change / plain Update", fig("update_merge"), fig("update"),
         1.3},
        {"window's Update merging a change next to it / plain Update", fig("update_merge_near"),
         fig("update"), 1.3},
        {"window's Save merging a far change / plain Save", fig("save_window_merge"),
         fig("save_window"), 1.3},
        {"window's Save merging a change next to it / plain Save", fig("save_window_merge_near"),
         fig("save_window"), 1.3},
    };
    QString out = "\nTargets at 100,000 records:\n\n";
    for (const Target &t : targets) {
        const double ratio = t.value(at) / t.floor(at);
        out +=
            QStringLiteral("- %1: %2 (at most %3): %4\n")
                .arg(t.text, formatRatio(ratio), formatRatio(t.limit), verdict(ratio <= t.limit));
    }
    const Figures &f = at.figures;
    out += QStringLiteral("- versions folder after 50 Saves of one changed record each: %1 MB\n")
               .arg(f.at("versions_mb_50_saves"), 0, 'f', 1);
    for (const char *key : {"key_selective", "key_first"})
        out += QStringLiteral("- %1 key stroke, 0.1 %: %2 (under 50 ms): %3\n")
                   .arg(QString::fromLatin1(key) == "key_first" ? "first" : "further",
                        formatMs(f.at(key)), verdict(f.at(key) < 50));
    return out;
}

// The targets on the 100,000-record run, and the click's growth from 1,000 or
// fewer records to 1,000,000 or more.
QString targets(const QList<SizeRun> &runs)
{
    QString out;
    const auto at = std::find_if(runs.begin(), runs.end(),
                                 [](const SizeRun &r) { return r.records == 100000; });
    if (at != runs.end())
        out += targetsAt(*at);
    const SizeRun &smallest = runs.first();
    if (runs.last().records >= 1000000 && smallest.records <= 1000) {
        for (const char *key : {"click", "click_cold"}) {
            const double ratio = runs.last().figures.at(key) / smallest.figures.at(key);
            out += QStringLiteral("- %1 pick at %2 / at %3: %4 (at most 2×): %5\n")
                       .arg(QString::fromLatin1(key) == "click" ? "click" : "cold click",
                            thousands(runs.last().records), thousands(smallest.records),
                            formatRatio(ratio), verdict(ratio <= 2));
        }
    }
    return out;
}

} // namespace

QString historySection(const Figures &f)
{
    const auto line = [](const QString &text, double ratio) {
        return QStringLiteral("- %1: %2 (at most 1.1×): %3\n")
            .arg(text, formatRatio(ratio), verdict(ratio <= 1.1));
    };
    return "\nThe history (see history_timings.cpp):\n\n" +
           line(QStringLiteral("Save at 100,000 records with a 100,000-line log (%1) / with an "
                               "empty log (%2)")
                    .arg(formatMs(f.at("save_long_log")), formatMs(f.at("save_empty_log"))),
                f.at("save_long_log") / f.at("save_empty_log")) +
           QStringLiteral("- the first of those Saves, which compacts that log: %1\n")
               .arg(formatMs(f.at("first_save_long_log"))) +
           line(QStringLiteral("a year, a Save on its last day (%1) / on its first (%2), on the "
                               "disk")
                    .arg(formatMs(f.at("day_last_save")), formatMs(f.at("day_1_save"))),
                f.at("day_last_save") / f.at("day_1_save")) +
           QStringLiteral("- the same in memory, without flushes to disk: %1 / %2 = %3\n")
               .arg(formatMs(f.at("day_last_save_memory")), formatMs(f.at("day_1_save_memory")),
                    formatRatio(f.at("day_last_save_memory") / f.at("day_1_save_memory"))) +
           QStringLiteral("- after the year: %1 versions, %2 MiB in all; one machine's log %3 "
                          "lines\n")
               .arg(f.at("versions_files"))
               .arg(f.at("versions_mib"), 0, 'f', 1)
               .arg(f.at("log_lines"));
}

void printHistoryReport(const Figures &history)
{
    std::fputs(qPrintable(historySection(history)), stdout);
}

void printReport(const QList<SizeRun> &runs, std::pair<double, double> longLineMs,
                 const Figures &history)
{
    const QString out =
        table(runs) + targets(runs) + historySection(history) +
        QStringLiteral("\nStart-up to a painted window on one record line with a 1 MB item: "
                       "%1 without a blank, %2 with a blank every ten characters.\n")
            .arg(formatMs(longLineMs.first), formatMs(longLineMs.second));
    std::fputs(qPrintable(out), stdout);
}

} // namespace Bench
