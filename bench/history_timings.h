// SPDX-License-Identifier: GPL-3.0-or-later

// The history's cost: a Save against the length of the machine's log, and a
// simulated year of three machines' Saves (see history_timings.cpp).
#pragma once

#include "bench/bench_support.h"

namespace Bench {

// Figures: "save_empty_log", "save_long_log" and "first_save_long_log" (ms,
// 100,000 records, a log of 100,000 lines); "day_1_save", "day_last_save"
// (ms), "versions_mib", "versions_files" and "log_lines" after `days` days.
Figures measureHistory(int reps, int days);

} // namespace Bench
