#!/usr/bin/env bash
# Configures and builds both builds:
#   build/host  clang with sanitizers: the core's unit tests and vintra-sim
#   build/win   MinGW-w64: Vintra.exe, the Windows tests and the end-to-end tests
# VINTRA_BUILD_DIR moves both (default: build/ in the repository);
# every compiler warning is an error here (VINTRA_WERROR=OFF to relax that).
#   scripts/build.sh                          everything
#   scripts/build.sh host:vintra-sim win:Vintra   only these targets
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")"
werror="-DVINTRA_WERROR=${VINTRA_WERROR:-ON}"
host_targets=()
win_targets=()
for target in "$@"; do
  case "$target" in
    host:*) host_targets+=(--target "${target#host:}") ;;
    win:*) win_targets+=(--target "${target#win:}") ;;
    *) echo "build.sh: say host:$target or win:$target" >&2; exit 2 ;;
  esac
done

echo "== Host build ($out/host)"
cmake -S . -B "$out/host" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "$werror" >/dev/null
if [ $# -eq 0 ] || [ ${#host_targets[@]} -gt 0 ]; then
  cmake --build "$out/host" "${host_targets[@]}"
fi

echo "== Windows build ($out/win)"
cmake -S . -B "$out/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DVINTRA_HOST_BUILD_DIR="$out/host" "$werror" >/dev/null
if [ $# -eq 0 ] || [ ${#win_targets[@]} -gt 0 ]; then
  cmake --build "$out/win" "${win_targets[@]}"
fi
