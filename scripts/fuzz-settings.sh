#!/usr/bin/env bash
# Fuzzes the settings-file reader with libFuzzer for SECONDS seconds (default 60).
# Usage: scripts/fuzz-settings.sh [SECONDS]
# Needs clang and its runtime (Debian: clang libclang-rt-14-dev), installed here
# when missing. New inputs go to build-fuzz/corpus; the seeds in the repository
# are not changed. A crash, hang, leak or sanitizer report fails the script and
# leaves the input that caused it in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

for p in clang libclang-rt-14-dev; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get -o DPkg::Lock::Timeout=300 -y -q install --no-install-recommends clang libclang-rt-14-dev
    break
  fi
done

out=build-fuzz
mkdir -p "$out/corpus"
sources=(src/settings/*.cpp src/music/*.cpp src/engine/modGeneral.cpp src/startup/clsErrorHandler.cpp)
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Isrc "${sources[@]}" tests/fuzz/settings_fuzz.cpp -o "$out/settings_fuzz"

cd "$out"
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
TMPDIR=$work ./settings_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=65536 -detect_leaks=1 -print_final_stats=1 corpus ../tests/fuzz/corpus
