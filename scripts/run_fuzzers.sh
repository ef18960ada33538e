#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later

# Runs every fuzz target in the fuzzing build for a bounded time and prints the
# executions each one made. Usage: run_fuzzers.sh BUILD_DIR SECONDS_PER_TARGET
# New inputs go to BUILD_DIR/corpus/<target>; the committed seeds in
# fuzz/corpus/<target> are read, never written. A crash leaves its input in
# BUILD_DIR/artifacts/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?build directory}
seconds=${2:?seconds per target}
targets="fuzz_pick fuzz_collapse fuzz_read_filter fuzz_round_trip fuzz_merge"
mkdir -p "$build/artifacts"
status=0
for target in $targets; do
    mkdir -p "$build/corpus/$target"
    log="$build/$target.log"
    if "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -dict=fuzz/stockbook.dict -max_len=8192 -timeout=20 -rss_limit_mb=4096 \
        -artifact_prefix="$build/artifacts/$target-" \
        "$build/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
        tail -n 40 "$log"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    echo "$target: ${runs:-?} executions (${rate:-?} per second), $(ls "$build/corpus/$target" | wc -l) corpus inputs: $result"
done
exit $status
