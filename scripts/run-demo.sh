#!/usr/bin/env bash
# Shows Vintra at work: builds Vintra.exe and the simulated heart-rate device,
# starts the device on COM5 and runs Vintra.exe under Wine, set to COM5 at
# 115200 baud.
#
#   scripts/run-demo.sh [--seconds N] [--screenshot PATH] [--firmware]
#
# --firmware: the device is the heart sensor firmware (firmware/) running in its
# simulator at real time, fed a recorded ECG, instead of vintra-sim.
#
# With DISPLAY set the window opens there and the demo runs until the window is
# closed or Ctrl-C. Without DISPLAY it runs N seconds (default 15) on a private
# X server, saves a screenshot of the window (default build/demo-run/screenshot.png)
# and the overlay's picture from headless Chromium beside it (overlay.png), and
# stops. Either way it prints the overlay's and the status page's addresses and
# stops everything it started.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
case "${1:-}" in -h|--help) sed -n '2,17s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
source "$root/cmake/debian-paths.env"

bash "$root/scripts/install-deps.sh"
targets=(host:vintra-sim win:Vintra)
case " $* " in *" --firmware "*) targets+=(host:heart-rig host:heart_firmware) ;; esac
bash "$root/scripts/build.sh" "${targets[@]}"
source "$root/cmake/debian-paths.env"
export PYTHONDONTWRITEBYTECODE=1
exec "$VINTRA_PYTHON" "$root/tools/demo.py" "$@"
