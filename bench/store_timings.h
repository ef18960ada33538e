// SPDX-License-Identifier: GPL-3.0-or-later

// The parent's side of the benchmark: for each database size, the generated
// file, the record store's operations timed on it beside their floors (reading
// the file, grep on it, writing the same bytes), and the window's figures
// collected from the child processes; and the start-up on one long line.
#pragma once

#include <utility>

#include "bench/bench_support.h"

namespace Bench {

// The figures of one database size.
struct SizeRun
{
    int records = 0;
    int reps = 0;
    qint64 fileBytes = 0;
    qsizetype matchingLines = 0;
    Figures figures;
};

// Writes a generated database of `records` lines into a temporary directory
// and measures every figure on it, each as the median of `reps` runs.
SizeRun measureSize(int records, int reps);

// Start-up to a painted window, in milliseconds, on one record line whose item
// is 1 MB of letters: without a blank, and with one every ten characters.
std::pair<double, double> measureLongLine();

} // namespace Bench
