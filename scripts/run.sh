#!/usr/bin/env bash
# Installs what Sonavel needs, builds it and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DSONAVEL_BUILD_TESTS=OFF >/dev/null
cmake --build build --target sonavel
exec ./build/sonavel "$@"
