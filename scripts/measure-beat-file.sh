#!/usr/bin/env bash
# Reader-loop figures for "bpm.txt" under Wine: a reader polls the file while
# the program's own file writer rewrites it (default 3000 writes at 100 a
# second), once with a reader that shares delete access and once with one that
# opens it as fopen does. Compares the writer of each given revision:
#   scripts/measure-beat-file.sh [REV|worktree ...]     (default: main worktree)
# Environment: WRITES, RATE, LOWEST and HIGHEST (the values written, cycling).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root="$PWD"
source scripts/wine-env.sh
out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")/measure-beat-file"
mkdir -p "$out"
cxx=(x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -DWIN32_LEAN_AND_MEAN -DNOMINMAX)

revs=("$@")
[ ${#revs[@]} -gt 0 ] || revs=(main worktree)
for r in "${revs[@]}"; do
  dir="$out/$r"
  rm -rf "$dir" && mkdir -p "$dir/src" "$dir/run"
  if [ "$r" = worktree ]; then
    src="$root"
    echo "== working tree (on $(git rev-parse --short HEAD))"
  else
    git archive "$r" | tar -x -C "$dir/src"
    src="$dir/src"
    echo "== $r ($(git rev-parse --short "$r"))"
  fi
  sinks="$src/serial/win32_bpm_file.cpp"
  [ -f "$sinks" ] || sinks="$src/serial/win32_line_sinks.cpp"  # its name in older revisions
  "${cxx[@]}" -I"$src" -c "$sinks" -o "$dir/sinks.o"
  "${cxx[@]}" -I"$root" -static "$root/tests/win/beat_file_probe.cpp" "$root/tests/win/beat_file_readers.cpp" \
    "$dir/sinks.o" -o "$dir/beat_file_probe.exe"
  (cd "$dir/run" && wine_run "$dir/beat_file_probe.exe" "${WRITES:-3000}" "${RATE:-100}" "${LOWEST:-60}" "${HIGHEST:-179}")
  wine_server_down
  echo "   left in the folder: $(ls "$dir/run" | tr '\n' ' ')"
done
