#!/usr/bin/env bash
# Installs the Debian packages Dahlo needs, only those missing. For Debian and its derivatives
# (Ubuntu, ...): it uses apt-get and dpkg-query.
#
#   scripts/install-deps.sh run       build and run dahlo and dahlo-decode (the default)
#   scripts/install-deps.sh package   and build the .deb (make package)
#   scripts/install-deps.sh test      and build and run every test, benchmark, fuzz target
#   scripts/install-deps.sh --list MODE   print the packages of MODE, install nothing
set -euo pipefail

run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools
  portaudio19-dev libpulse-dev libsndfile1-dev libsamplerate0-dev
  libasio-dev libhamlib-dev  # the spot server; the radio's dial through Hamlib
  # wideband IQ: polyphase channelizer, transforms, SDRs, SigMF metadata
  libliquid-dev libfftw3-dev libsoapysdr-dev nlohmann-json3-dev
)
# cpack's DEB generator: dpkg-shlibdeps computes the dependencies, file finds the binaries.
package_packages=(dpkg-dev file)
# GoogleTest and Benchmark; a real sound server, session bus and X server for the live tests;
# clang for the fuzz targets; gnuplot for the accuracy plot; validators for the package, its
# desktop entry and AppStream metadata.
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  pulseaudio pulseaudio-utils libasound2-plugins alsa-utils
  dbus dbus-x11 xvfb xauth fonts-dejavu-core
  clang libclang-rt-14-dev
  gnuplot-nox
  appstream desktop-file-utils lintian
  util-linux  # setpriv: the file permission tests run a write as another user
  libhamlib-utils  # rigctld's dummy rig for the dial tests
  tlf tmux  # a real DX-cluster client on the spot port, headless in a terminal multiplexer
)

list_only=0
if [ "${1:-}" = "--list" ]; then
  list_only=1
  shift
fi
mode=${1:-run}
case "$mode" in
  run) packages=("${run_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 [--list] [run|package|test]" >&2
    exit 2
    ;;
esac

if [ "$list_only" -eq 1 ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
  echo "This script installs Debian packages (apt-get); on other systems install the equivalents of:" >&2
  printf '  %s\n' "${packages[@]}" >&2
  exit 1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
