// SPDX-License-Identifier: GPL-3.0-or-later

// What the benchmark's parts share: the search texts it times, the generated
// database, the timing of an operation as the median of runs after an untimed
// warm-up, the check that stops the run when an operation gave a wrong result,
// and the protocol by which a child process hands its figures to the parent:
// one line "key value" a figure on its standard output.
#pragma once

#include <functional>
#include <map>
#include <utility>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace Bench {

// Figures by key, in milliseconds or (for the peak memory) in KiB.
using Figures = std::map<QString, double>;

// About one line in a thousand holds it (see generateDatabase).
extern const QString kSelective;
// Neither it nor its upper-case form occurs anywhere.
extern const QString kNothing;
// A click costs little at every size, so it is timed at least this often.
constexpr int kLeastClickReps = 21;

// `records` record lines: boxes A1 to Z99, the eleven types, counts up to 999;
// one line in a thousand, at random, holds a MAX232 level shifter.
QString generateDatabase(int records);

// Stops the benchmark with a message on the standard error.
[[noreturn]] void fail(const QString &what);
void check(bool condition, const QString &what);

qsizetype lineCount(const QString &text);
QByteArray readFile(const QString &path);

// The time in milliseconds of one `run`, after an untimed `prepare`.
double timeOnceMs(const std::function<void()> &prepare, const std::function<void()> &run);

// Runs each of `timings` (each returns the milliseconds it measured) in turns,
// one untimed warm-up round and `reps` rounds, and gives each one's median, so
// that a load on the machine that comes and goes weighs on all alike.
QList<double> mediansInTurnsMs(int reps, const QList<std::function<double()>> &timings);

// The median in milliseconds of `reps` timed runs of `run`, each after an
// untimed `prepare`, after one untimed warm-up. `batch` runs are timed
// together and divided, for operations too short to time one by one.
double medianMs(int reps, const std::function<void()> &prepare, const std::function<void()> &run,
                int batch = 1);
double medianMs(int reps, const std::function<void()> &run, int batch = 1);

// The medians of two operations timed in turns.
std::pair<double, double> pairedMedianMs(int reps, const std::function<void()> &prepareA,
                                         const std::function<void()> &runA,
                                         const std::function<void()> &prepareB,
                                         const std::function<void()> &runB);

// In a child process: hands one figure to the parent.
void report(const char *key, double value);
// In the parent: runs this program with `arguments` and collects the figures
// it reports; stops the benchmark if the child fails.
Figures runChild(const QStringList &arguments);

} // namespace Bench
