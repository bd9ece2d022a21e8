#!/usr/bin/env bash
# Installs what Sonavel needs, builds it with its tests and runs the whole suite.
# Exits 0 only when every test passed.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --tests
cmake -S . -B build -G Ninja -DSONAVEL_BUILD_TESTS=ON
cmake --build build
ctest --test-dir build --output-on-failure --timeout 600 -j2
