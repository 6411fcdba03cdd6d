#!/usr/bin/env bash
# Configures and builds both builds:
#   build/host  clang with sanitizers: the core's unit tests and vintra-sim
#   build/win   MinGW-w64: Vintra.exe, the Windows tests and the end-to-end tests
# VINTRA_BUILD_DIR moves both (default: build/ in the repository).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")"

echo "== Host build ($out/host)"
cmake -S . -B "$out/host" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$out/host"

echo "== Windows build ($out/win)"
cmake -S . -B "$out/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DVINTRA_HOST_BUILD_DIR="$out/host" >/dev/null
cmake --build "$out/win"
