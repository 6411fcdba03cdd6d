#!/usr/bin/env bash
# Installs the prerequisites, builds both builds and runs every test (host unit
# tests, Windows unit tests under Wine, end-to-end tests) in one ctest run whose
# summary is the last line printed. Exit code: ctest's.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")"
# The tests find the build's Wine prefix through it.
export VINTRA_BUILD_DIR="$out"

bash scripts/install-deps.sh
bash scripts/build.sh

echo "== Tests"
log="$out/ctest.log"
set +e
# The Windows build's ctest also runs the host build's tests (tests/e2e/CMakeLists.txt).
ctest --test-dir "$out/win" --output-on-failure -j "$(nproc)" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
summary="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)"
echo
echo "${summary:-ctest ended without a summary (exit code $status)}"
exit "$status"
