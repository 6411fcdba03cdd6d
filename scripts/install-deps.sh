#!/usr/bin/env bash
# Installs what building and testing Vintra needs on Debian 12; quiet and quick
# when everything is already there.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3 git
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libgtest-dev googletest libbenchmark-dev
  wine64 xvfb xdotool socat imagemagick procps
  # The OBS scene test: OBS Studio on Mesa's software OpenGL, its websocket from
  # Debian's Python, the text source's font.
  obs-studio libegl-mesa0 libgl1-mesa-dri python3-websocket fonts-dejavu-core
  # The heart sensor firmware: AVR toolchain, Arduino core, the simulator library,
  # the signal and scoring tools.
  gcc-avr avr-libc binutils-avr arduino-core-avr libsimavr-dev libelf-dev
  python3-numpy python3-scipy python3-matplotlib
  # The overlay in a real browser: the engine of a streaming program's browser source.
  chromium
  # The stream outputs' own clients: WebSocket (Python, Node), OSC, a spreadsheet for the CSV.
  node-ws nodejs liblo-tools libreoffice-calc-nogui
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A second apt run started beside this one waits for its lock instead of failing.
$SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
