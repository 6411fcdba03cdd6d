#!/usr/bin/env bash
# Runs the libFuzzer targets of the host build for a while each.
#   scripts/fuzz.sh [seconds] [target...]   (default: 60 s, every target)
# Each target works on build/fuzz-corpus/<target>/, seeded from the checked-in
# corpus; crash reproducers go to build/fuzz-artifacts/<target>/ and make the
# script exit non-zero.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${VINTRA_HOST_BUILD_DIR:-$root/build/host}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_line_decoder fuzz_settings_text)

"$root/scripts/install-deps.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$build" --target "${targets[@]}"

failed=0
for target in "${targets[@]}"; do
  corpus="$root/build/fuzz-corpus/$target"
  artifacts="$root/build/fuzz-artifacts/$target"
  log="$root/build/fuzz-artifacts/$target.log"
  mkdir -p "$corpus" "$artifacts"
  for seed in "$root/tests/fuzz/corpus/$target"/*; do
    [ -e "$corpus/${seed##*/}" ] || cp "$seed" "$corpus/"
  done
  before=$(find "$artifacts" -type f | wc -l)

  status=0
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1 || status=$?

  crashes=$(( $(find "$artifacts" -type f | wc -l) - before ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1 || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  features=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  files=$(find "$corpus" -type f | wc -l)
  echo "$target: ${runs:-?} runs in ${seconds} s, cov ${cov:-?}, ft ${features:-?}, corpus $files, crashes $crashes"
  if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ]; then
    echo "$target: FAILED (exit $status); log $log, reproducers in $artifacts/" >&2
    failed=1
  fi
done
exit $failed
