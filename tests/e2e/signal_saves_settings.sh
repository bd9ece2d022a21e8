#!/usr/bin/env bash
# The program ended by a signal (a logout's SIGTERM, Ctrl+C's SIGINT, a closed
# terminal's SIGHUP) closes its window as a user would, so the settings it
# holds are saved and it exits cleanly.
# So does a signal that comes while a modal dialog waits for a click: the
# program ends within a second, saving once, and a save that fails then
# writes its report to standard error instead of waiting in a dialog.
# Usage: signal_saves_settings.sh PATH-TO-SONAVEL. Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
program=${1:?path to the sonavel program}
command -v Xvfb >/dev/null || { echo "SKIPPED: Xvfb is not installed"; exit 77; }
command -v xdotool >/dev/null || { echo "SKIPPED: xdotool is not installed"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sonavel-signal.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; cat "$work/program.log" 2>/dev/null | tail -20; exit 1; }

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "SKIPPED: Xvfb did not start"; exit 77; }
export DISPLAY=:$(tr -dc '0-9' <"$work/display")
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY SESSION_MANAGER
export QT_QPA_PLATFORM=xcb
mkdir -p "$work/home" "$work/run" && chmod 700 "$work/run"
export HOME=$work/home USERPROFILE=$work/home XDG_RUNTIME_DIR=$work/run
settings=$work/home/snv2_settings.dat

for signal in TERM INT HUP; do
    rm -f "$settings"
    "$program" >"$work/program.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    xdotool search --sync --onlyvisible --name "Sonavel - Advanced" >/dev/null 2>&1 &
    finder=$!
    for _ in $(seq 300); do kill -0 "$finder" 2>/dev/null || break; sleep 0.1; done
    kill "$finder" 2>/dev/null
    kill -0 "$pid" 2>/dev/null || fail "the program ended before its window showed"
    [ -e "$settings" ] && fail "the settings file exists before the program ends"

    kill -s "$signal" "$pid"
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "SIG$signal did not end the program within 10 s"
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] || fail "SIG$signal: exit status $status, expected 0"
    [ -s "$settings" ] || fail "SIG$signal: the settings were not saved"
    grep -q $'^PlaybackSpeed=100\r$' "$settings" || fail "SIG$signal: the saved file is not whole"
    echo "SIG$signal: window closed, settings saved, exit 0"
done
# Waits until the program shows COUNT windows named NAME (a pattern).
windows() {
    for _ in $(seq 100); do
        [ "$(xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | wc -l)" -eq "$2" ] &&
            return
        sleep 0.1
    done
    fail "$case: no $2 windows \"$1\" within 10 s"
}
main='^Sonavel - Advanced$'
# Keys typed into the main window.
keys() {
    xdotool windowfocus --sync "$(xdotool search --all --onlyvisible --pid "$pid" --name "$main" | head -1)"
    xdotool key --clearmodifiers "$@"
}
# A line the reader rejects: the start-up fails with a report.
bad_line() { printf 'garbage\r\n' >"$settings"; }
# A link to a folder that does not exist: nothing to read, and a save fails.
dangling() { ln -s "$work/missing/snv2_settings.dat" "$settings"; }
# One row a case: name, how the settings file starts, the reports of a failed
# save expected on standard error, what opens the dialog.
while IFS=: read -r case prepare reports open; do
    rm -f "$settings"
    $prepare
    "$program" </dev/null >"$work/program.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    eval "$open"
    kill -s TERM "$pid"
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$pid" 2>/dev/null && fail "$case: SIGTERM did not end the program within a second"
    wait "$pid" || fail "$case: exit status $?, expected 0"
    # A failure while ending goes to standard error; a save whose report
    # already shows in the dialog is not tried again.
    seen=$(grep -c '^Source: frmMain::Form_Unload()' "$work/program.log")
    [ "$seen" -eq "$reports" ] || fail "$case: $seen reports of a failed save, expected $reports"
    if [ "$prepare" = dangling ]; then
        [ -L "$settings" ] && [ ! -e "$settings" ] || fail "$case: the link was replaced"
    else
        grep -q $'^PlaybackSpeed=100\r$' "$settings" || fail "$case: the settings were not saved whole"
    fi
    echo "$case: ended within a second, saved once"
done <<'CASES'
about-box::0:windows "$main" 1; keys alt+h a; windows '^About' 1
startup-report:bad_line:0:windows "$main" 1
failing-save:dangling:1:windows "$main" 1
save-report:dangling:0:windows "$main" 1; keys alt+f x; windows "$main" 2
CASES
echo "PASSED"
