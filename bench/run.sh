#!/usr/bin/env bash
# Builds the program (RelWithDebInfo) and measures it as a user meets it:
# start-up, memory, idle cost, response, output latency and note timing on a
# private Xvfb and PulseAudio null sink. Prints a table a mode; see BENCHMARKS.md.
#
#   bench/run.sh [BUILD_DIR] [RUNS] [--menu] [--quiet|--load]   defaults: build-perf, 5
#       --menu: the View menu opened during the notes of each question
#       RUNS questions on a quiet machine, then RUNS with every core kept busy
#       (stress-ng) during each question; --quiet or --load: only those
#   BENCH_KEEP=DIR bench/run.sh          keeps recordings, traces and stderr in DIR
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-perf}"
runs="${2:-5}"
extra=("${@:3}")

"$root/scripts/install-deps.sh" --tests
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target sonavel bench_render_reference >/dev/null

keep=()
[ -n "${BENCH_KEEP:-}" ] && keep=(--keep "$BENCH_KEEP")
exec python3 "$root/bench/measure.py" --program "$build/sonavel" \
    --fixture "$root/tests/fixtures/settings/default.dat" --runs "$runs" "${keep[@]}" "${extra[@]}"
