#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Sonavel need.
# Safe to run again: packages already present are left alone.
set -euo pipefail

#   scripts/install-deps.sh            what building and running the program needs
#   scripts/install-deps.sh --tests    also what the test suite needs: GoogleTest,
#                                      and the servers and tools of the end-to-end
#                                      and sound tests (JACK, Xvfb, PulseAudio, aubio),
#                                      the benchmark's CPU load (stress-ng), and what
#                                      the package tests use: CPack's Debian tools
#                                      (dpkg-dev, file) and the validators of the
#                                      desktop entry and the AppStream metainfo
# The test tools include the PulseAudio server, which takes the place of
# PipeWire's PulseAudio service on a desktop that uses it; so the program alone
# never asks for them.

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-charts-dev libqt6opengl6-dev
  libfluidsynth-dev libpulse-dev libdbus-1-dev fluid-soundfont-gm
  librtmidi-dev libjack-jackd2-dev libsqlite3-dev
)
if [ "${1:-}" = "--tests" ]; then
  packages+=(
    jackd2 googletest libgtest-dev libgmock-dev
    xvfb xdotool x11-utils pulseaudio pulseaudio-utils aubio-tools sox python3
    stress-ng dpkg-dev file desktop-file-utils appstream
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
apt_opts=(-o DPkg::Lock::Timeout=300 -y -q)
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable realtime priority; answer for the user.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo debconf-set-selections 2>/dev/null || true
$sudo apt-get "${apt_opts[@]}" update
$sudo apt-get "${apt_opts[@]}" install --no-install-recommends "${missing[@]}"
