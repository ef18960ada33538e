// SPDX-License-Identifier: GPL-3.0-or-later

// The benchmark's report: the Markdown table of every size's figures with
// their ratios to their floors, the machine it ran on, the targets and the
// start-up on one long line, printed on the standard output.
#pragma once

#include <utility>

#include <QList>

#include "bench/bench_support.h"

namespace Bench {

struct SizeRun;

// Prints the report of `runs` (smallest size first) and of the start-up on
// one long line, in milliseconds without and with blanks (see measureLongLine).
// ... and the history's figures (see measureHistory).
void printReport(const QList<SizeRun> &runs, std::pair<double, double> longLineMs,
                 const Figures &history);
void printHistoryReport(const Figures &history);

} // namespace Bench
