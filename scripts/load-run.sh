#!/usr/bin/env bash
# Runs the chosen tests again and again under the conditions that have made
# tests fail for something other than a fault, and prints how often each passed.
#   scripts/load-run.sh [--runs N] [--cold-cache] [--load] [ctest -R pattern]
#   --runs N      N ctest runs in a row (default 5)
#   --cold-cache  each run with an empty Mesa shader cache, as on a fresh machine
#                 such as CI's: OBS compiles its shaders while the test runs
#   --load        every core kept busy (one `yes` each) for the whole time
# The pattern defaults to 'e2e\.|win\.' (the Wine tests). Uses the build that
# scripts/build.sh makes (VINTRA_BUILD_DIR); each run's log goes to
# <build>/load-run/. Exit code 1 if any run failed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")"
export VINTRA_BUILD_DIR="$out"
runs=5 cold=0 load=0 pattern='e2e\.|win\.'
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift ;;
    --cold-cache) cold=1 ;;
    --load) load=1 ;;
    -*) sed -n '2,11p' "$0" >&2; exit 2 ;;
    *) pattern="$1" ;;
  esac
  shift
done

bash scripts/build.sh >/dev/null
logs="$out/load-run"
rm -rf "$logs"
mkdir -p "$logs"
loaders=()
stop_load() { for pid in "${loaders[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap stop_load EXIT
if [ "$load" = 1 ]; then
  for _ in $(seq "$(nproc)"); do yes >/dev/null & loaders+=($!); done
fi

for run in $(seq "$runs"); do
  # Mesa keeps its cache in the user's ~/.cache whatever HOME says; this
  # variable moves it for the programs the tests start, and for them only.
  if [ "$cold" = 1 ]; then export MESA_SHADER_CACHE_DIR="$logs/mesa-cache-$run"; fi
  ctest --test-dir "$out/win" -R "$pattern" --output-on-failure >"$logs/run-$run.log" 2>&1 || true
  grep -hE '^ *[0-9]+/[0-9]+ Test +#' "$logs/run-$run.log" | sed 's/^/run '"$run"': /' | grep -v ' Passed ' || true
done

echo
echo "$runs runs of '$pattern'$([ "$cold" = 1 ] && echo ', empty shader cache')$([ "$load" = 1 ] && echo ", $(nproc) cores busy"); load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
grep -hE '^ *[0-9]+/[0-9]+ Test +#' "$logs"/run-*.log | awk '
  { name = $4; ok = / Passed /; total[name]++; passed[name] += ok; if (!ok) bad = 1 }
  END { printf "%-72s %6s %6s\n", "test", "passed", "failed"
        for (name in total) printf "%-72s %6d %6d\n", name, passed[name], total[name] - passed[name]
        exit bad }' | { read -r header; echo "$header"; sort; }
