#!/usr/bin/env bash
# Benchmarks: builds what they need, runs them, prints one table and writes it
# into docs/performance.md with the machine and the date. Not part of the tests.
#   scripts/bench.sh            the full run (about 17 minutes: memory over 10 minutes)
#   scripts/bench.sh --quick    shorter CPU windows, memory over 1 minute
# Uses its own builds (build/bench: host Release without sanitizers;
# build/bench-win: the Windows program and the benchmark executables), its own
# Wine prefix (build/bench/wineprefix) and its own X display.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
source cmake/debian-paths.env

quick=()
case "${1:-}" in
  --quick) quick=(--quick) ;;
  "") ;;
  *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh

host_build=build/bench
win_build=build/bench-win
results="$host_build/results"

echo "== building (host Release, no sanitizers; Windows Release)" >&2
cmake -S . -B "$host_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVINTRA_SANITIZE=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$host_build" --target vintra_decoder_bench vintra-sim >/dev/null
cmake -S tests/bench/win -B "$win_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$win_build" --target Vintra vintra_frame_bench vintra_drain_bench \
  vintra_floor_no_paint vintra_floor_no_paint_no_echo >/dev/null

mkdir -p "$results"
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"

echo "== decoder throughput (host)" >&2
# Run in the results folder: the variant with real system calls writes bpm.txt.
(cd "$results" && "$root/$host_build/tests/bench/vintra_decoder_bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=json >decoder.json)

echo "== under Wine: frame cost, decoder with the real echo, the running program" >&2
export VINTRA_WINEPREFIX="$root/$host_build/wineprefix"
"$VINTRA_PYTHON" tools/perf/wine_bench.py "${quick[@]}" --json "$results/wine.json"

load_after="$(cut -d' ' -f1-3 /proc/loadavg)"
echo >&2
"$VINTRA_PYTHON" tools/perf/bench_report.py --decoder "$results/decoder.json" --wine "$results/wine.json" \
  --doc docs/performance.md --load "$load_before / $load_after"
