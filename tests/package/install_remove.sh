#!/usr/bin/env bash
# The Debian package of the build installs with dpkg, its program starts from
# /usr/bin and finds its help pages, and dpkg --purge takes every file of it
# away again. Changes the machine: run as root on a test machine only.
# Usage: install_remove.sh BUILD_DIR. Exit 0 passed, 1 failed, 77 skipped.
set -uo pipefail
build=${1:?the build folder}
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: installing a package needs root"; exit 77; }
for tool in dpkg cpack dpkg-shlibdeps file Xvfb xdotool; do
    command -v $tool >/dev/null || { echo "SKIPPED: $tool is not installed (scripts/install-deps.sh --tests)"; exit 77; }
done
dpkg-query -W -f='${Status}' sonavel 2>/dev/null | grep -q installed &&
    { echo "SKIPPED: a sonavel package is installed here already, the test would remove it"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sonavel-package.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    dpkg-query -W sonavel >/dev/null 2>&1 && dpkg --purge sonavel >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; tail -20 "$work"/*.log 2>/dev/null; exit 1; }

# The build is done: cpack only installs it into its staging folder.
(cd "$build" && cpack -G DEB -B "$work/deb") >"$work/cpack.log" 2>&1 || fail "cpack"
dpkg -i "$work"/deb/sonavel_*.deb >"$work/dpkg.log" 2>&1 || fail "dpkg -i"
dpkg-query -W -f='${Depends}\n${Recommends}\n' sonavel | tee "$work/fields"
grep -q libqt6widgets6 "$work/fields" && grep -q fluid-soundfont-gm "$work/fields" ||
    fail "the package does not depend on Qt or recommend the SoundFont"
dpkg -L sonavel >"$work/files"
for f in /usr/bin/sonavel /usr/share/sonavel/help/index.htm /usr/share/metainfo/org.sonavel.Sonavel.metainfo.xml \
    /usr/share/applications/org.sonavel.Sonavel.desktop /usr/share/icons/hicolor/{scalable/apps/org.sonavel.Sonavel.svg,16x16/apps/org.sonavel.Sonavel.png}; do
    grep -qx "$f" "$work/files" && [ -f "$f" ] || fail "$f is not installed"
done

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "SKIPPED: Xvfb did not start"; exit 77; }
export DISPLAY=:$(tr -dc '0-9' <"$work/display") QT_QPA_PLATFORM=xcb
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY SESSION_MANAGER
mkdir -p "$work/home" "$work/run" && chmod 700 "$work/run"
export HOME=$work/home USERPROFILE=$work/home XDG_RUNTIME_DIR=$work/run
cd "$work" # nothing beside the current folder to find
/usr/bin/sonavel >"$work/program.log" 2>&1 &
pids+=($!)
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "${pids[-1]}" --name "^Sonavel - Advanced$" | head -1)
[ -n "$window" ] || fail "no window of the installed program within 30 s"
# Help > Contents opens the help window on the installed pages; without them
# a message box says it cannot find them.
xdotool windowfocus --sync "$window" key --clearmodifiers --delay 500 alt+h c
timeout 20 xdotool search --sync --onlyvisible --name "Sonavel Help$" >/dev/null ||
    fail "Help > Contents did not open the help pages"
echo "the installed program shows its window and its help"
kill "${pids[-1]}"

dpkg --purge sonavel >"$work/dpkg.log" 2>&1 || fail "dpkg --purge"
while read -r f; do
    [ -e "$f" ] && [ ! -d "$f" ] && fail "$f is left behind"
done <"$work/files"
[ -e /usr/share/sonavel ] && fail "/usr/share/sonavel is left behind"
echo "PASSED"
