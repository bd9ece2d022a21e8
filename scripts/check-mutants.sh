#!/usr/bin/env bash
# Runs the mutants of tests/mutants.txt through the test suite and says which
# tests catch which of them. Run it after ./scripts/test.sh has built once;
# it never runs as part of the suite or CI. Options: --help.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/check_mutants.py "$@"
