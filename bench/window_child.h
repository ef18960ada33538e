// SPDX-License-Identifier: GPL-3.0-or-later

// The window's side of the benchmark: the modes in which the benchmark starts
// itself as a child process to run the window offscreen, so that each
// database size's peak memory is its own. Each mode reports its figures to the
// parent through the child-report protocol (see bench_support.h).
#pragma once

#include <QStringList>

namespace Bench {

// Whether `mode` (the first argument) is one of the child modes: --window,
// --memory, --memory-floor or --long-line.
bool isWindowChildMode(const QString &mode);

// Runs the child mode that `arguments` (the program's, its name first) name,
// in a running QApplication; gives the process's exit code.
int runWindowChild(const QStringList &arguments);

} // namespace Bench
