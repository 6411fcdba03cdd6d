#!/usr/bin/env bash
# Installs the prerequisites, builds both builds and runs every test (host unit
# tests, Windows unit tests under Wine, end-to-end tests) in one ctest run whose
# summary is the last line printed. Fails, naming them, if the tests left any
# process running. Exit code: ctest's, or 1 for such leftovers.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source cmake/debian-paths.env
out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")"
# The tests find the build's Wine prefix through it.
export VINTRA_BUILD_DIR="$out"

bash scripts/install-deps.sh
bash scripts/build.sh

echo "== Tests"
log="$out/ctest.log"
# Everything the tests start carries this mark, so whatever is still running
# at the end (a display, a Wine process, a browser) can be found and named.
export VINTRA_RUN_MARK="test-$$-$(date +%s%N)"
set +e
# The Windows build's ctest also runs the host build's tests (tests/e2e/CMakeLists.txt).
ctest --test-dir "$out/win" --output-on-failure -j "$(nproc)" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
"$VINTRA_PYTHON" tools/vintra_drive/leftovers.py "$VINTRA_RUN_MARK"
leftovers=$?
set -e
summary="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)"
echo
echo "${summary:-ctest ended without a summary (exit code $status)}"
if [ "$leftovers" -ne 0 ]; then
  echo "FAILED: the tests left the processes above running (now ended)"
  [ "$status" -ne 0 ] || status=1
fi
exit "$status"
