#!/usr/bin/env bash
# Builds the Debian package of Sonavel with CPack: sonavel_<version>_<arch>.deb
# in BUILD_DIR/package (BUILD_DIR is build/ by default; configured and brought
# up to date first). Install it with `sudo apt install ./build/package/sonavel_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build}")
for tool in dpkg-shlibdeps file; do
    command -v $tool >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh --tests" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja
cmake --build "$build"
cd "$build" && cpack -G DEB -B "$build/package"
ls "$build"/package/sonavel_*.deb
