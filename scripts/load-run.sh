#!/usr/bin/env bash
# Runs the chosen tests again and again under the conditions that have made
# tests fail for something other than a fault, and prints how often each passed.
#   scripts/load-run.sh [--runs N] [--cold-cache] [--load] [--fresh] [ctest -R pattern]
#   --runs N      N ctest runs in a row (default 5)
#   --cold-cache  each run with empty caches (Mesa's shaders, Chromium's and
#                 fontconfig's), as on a fresh machine such as CI's
#   --load        every core kept busy (one `yes` each) for the whole time
#   --fresh       CI's starting state: a fresh clone of HEAD, built once, and
#                 for each run new Wine prefixes and empty caches (implies
#                 --cold-cache); the build is reproducible, so rebuilding it
#                 for each run would change nothing the tests see
# The pattern defaults to 'e2e\.|win\.' (the Wine tests). Without --fresh it
# uses the build that scripts/build.sh makes (VINTRA_BUILD_DIR). Each run's log
# goes to <build>/load-run/; after each run, whatever it left running is named
# and ended. Exit code 1 if any run failed or left something running.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source cmake/debian-paths.env
runs=5 cold=0 load=0 fresh=0 pattern='e2e\.|win\.'
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift ;;
    --cold-cache) cold=1 ;;
    --load) load=1 ;;
    --fresh) fresh=1 cold=1 ;;
    -*) sed -n '2,17p' "$0" >&2; exit 2 ;;
    *) pattern="$1" ;;
  esac
  shift
done

if [ "$fresh" = 1 ]; then
  clone="$(mktemp -d "${TMPDIR:-/tmp}/vintra-fresh.XXXXXX")"
  git clone -q "$PWD" "$clone/src"
  cd "$clone/src"
  out="$clone/build"
else
  out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")"
fi
export VINTRA_BUILD_DIR="$out"
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

left=0
for run in $(seq "$runs"); do
  # Mesa keeps its shader cache in the user's ~/.cache whatever HOME says;
  # these move the caches for the programs the tests start, and for them only.
  if [ "$cold" = 1 ]; then
    export MESA_SHADER_CACHE_DIR="$logs/cache-$run/mesa" XDG_CACHE_HOME="$logs/cache-$run"
  fi
  [ "$fresh" = 1 ] && rm -rf "$out/wineprefix" "$out/win/e2e-wineprefix"
  # Only the tests carry the mark: the check's own pipeline must not.
  mark="load-run-$$-$run"
  VINTRA_RUN_MARK="$mark" ctest --test-dir "$out/win" -R "$pattern" --output-on-failure >"$logs/run-$run.log" 2>&1 || true
  grep -hE '^ *[0-9]+/[0-9]+ Test +#' "$logs/run-$run.log" | sed 's/^/run '"$run"': /' | grep -v ' Passed ' || true
  "$VINTRA_PYTHON" tools/vintra_drive/leftovers.py "$mark" | sed 's/^/run '"$run"': /' || left=1
done

echo
echo "$runs runs of '$pattern'$([ "$fresh" = 1 ] && echo ', each on new Wine prefixes')$([ "$cold" = 1 ] && echo ', empty caches')$([ "$load" = 1 ] && echo ", $(nproc) cores busy"); load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
[ "$left" = 0 ] || echo "some runs left processes running (named above)"
grep -hE '^ *[0-9]+/[0-9]+ Test +#' "$logs"/run-*.log | awk -v left="$left" '
  { name = $4; ok = / Passed /; total[name]++; passed[name] += ok; if (!ok) bad = 1 }
  END { printf "%-72s %6s %6s\n", "test", "passed", "failed"
        for (name in total) printf "%-72s %6d %6d\n", name, passed[name], total[name] - passed[name]
        exit bad || left }' | { read -r header; echo "$header"; sort; }
