#!/usr/bin/env bash
# The overlay's figures (not part of the tests): Vintra.exe under Wine with its
# web endpoint, the overlay page in Debian's headless Chromium.
#   scripts/overlay-bench.sh [--rates N] [--cpu-seconds S] [--minutes M] [--only latency osc session cpu bpm memory]
# latency: B line to the overlay's digits (p50, p95 over N rates, default 100);
# osc: B line to its OSC datagram on 127.0.0.1 (p50, p95 over N rates);
# session: a full day's session record downloaded as /session.csv;
# cpu: Vintra at 500 samples a second without and with two overlays open;
# bpm: B line to bpm.txt without and with two overlays open;
# memory: Vintra's memory over M minutes (default 10) with an overlay reloading every 10 s.
# Builds vintra-sim and Vintra.exe (build/host, build/win) and uses its own Wine
# prefix and X display; the figures also go to build/overlay-bench/figures.json.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
case "${1:-}" in -h|--help) sed -n '2,13s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
source cmake/debian-paths.env

bash scripts/install-deps.sh
bash scripts/build.sh host:vintra-sim win:Vintra >&2
mkdir -p build/overlay-bench
export VINTRA_EXE="$root/build/win/Vintra.exe"
export VINTRA_SIM="$root/build/host/tools/vintra_sim/vintra-sim"
export VINTRA_WINEPREFIX="$root/build/overlay-bench/wineprefix"
export PYTHONDONTWRITEBYTECODE=1
exec "$VINTRA_PYTHON" tools/perf/overlay_bench.py --json build/overlay-bench/figures.json "$@"
