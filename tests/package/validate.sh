#!/usr/bin/env bash
# Checks the desktop entry or the AppStream metainfo with the validator that
# distributions and software centres use: no error and no warning.
# Usage: validate.sh desktop|metainfo FILE. Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
kind=${1:?desktop or metainfo}
file=${2:?the file to check}
case $kind in
desktop) command=(desktop-file-validate "$file") package=desktop-file-utils ;;
metainfo) command=(appstreamcli validate --no-net --strict "$file") package=appstream ;;
*) echo "FAILED: unknown kind $kind"; exit 1 ;;
esac
command -v "${command[0]}" >/dev/null ||
    { echo "SKIPPED: ${command[0]} is not installed (Debian package $package)"; exit 77; }
# desktop-file-validate exits 0 after warnings; appstreamcli fails on them.
output=$("${command[@]}" 2>&1)
status=$?
echo "$output"
[ "$status" -eq 0 ] && ! grep -q -E '(^|: )(error|warning):' <<<"$output" || { echo "FAILED"; exit 1; }
echo "PASSED"
