#!/usr/bin/env bash
# Shows Vintra at work: builds it, starts the simulated heart-rate device on
# COM5 and runs Vintra.exe under Wine, set to COM5 at 115200 baud.
#
#   scripts/run-demo.sh [--seconds N] [--screenshot PATH]
#
# With DISPLAY set the window opens there and the demo runs until the window is
# closed or Ctrl-C. Without DISPLAY it runs N seconds (default 15) on a private
# X server, saves a screenshot of the window (default docs/screenshot.png) and
# stops. Either way it stops everything it started.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo="$PWD"

seconds=15
screenshot="$repo/docs/screenshot.png"
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --screenshot) screenshot="$(realpath -m "$2")"; shift 2 ;;
    -h|--help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "run-demo: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$seconds" in ''|*[!0-9]*) echo "run-demo: --seconds takes a whole number" >&2; exit 2 ;; esac

bash scripts/install-deps.sh
bash scripts/build.sh
out="$(realpath -m "${VINTRA_BUILD_DIR:-build}")"
source scripts/wine-env.sh
echo "== Wine prefix ($WINEPREFIX)"
bash scripts/setup-wineprefix.sh

run_dir="$out/demo-run"
sim="$out/host/tools/vintra_sim/vintra-sim"
exe="$out/win/Vintra.exe"
device_link="$VINTRA_PORTS/com5"
mkdir -p "$run_dir"
rm -f "$run_dir/bpm.txt"
printf '5 115200' > "$run_dir/vintra.config"

xvfb_pid=""
sim_pid=""
vintra_pid=""
# Stops what this script started: Vintra and every Wine process of the prefix,
# the simulated device, the private X server.
cleanup() {
  trap - EXIT INT TERM
  set +e
  [ -n "$vintra_pid" ] && kill "$vintra_pid" 2>/dev/null
  "$WINESERVER" -k 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'echo; echo "Stopping."; exit 130' INT TERM

# The prefix set-up may have left a server running without a display; windows
# of programs it serves could stay invisible.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w

echo "== Simulated device on COM5 ($device_link)"
"$sim" --pty --link "$device_link" > "$run_dir/vintra-sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -L "$device_link" ] && break; sleep 0.1; done
[ -L "$device_link" ] || { echo "run-demo: the simulated device did not start" >&2; exit 1; }

if [ -z "${DISPLAY:-}" ]; then
  # Xvfb picks a free display and writes its number, then a newline, to fd 3.
  display_file="$run_dir/xvfb-display"
  rm -f "$display_file"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$display_file" 2> "$run_dir/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 150); do [ "$(wc -l < "$display_file")" -ge 1 ] && break; sleep 0.1; done
  display_number="$(head -n 1 "$display_file")"
  [ -n "$display_number" ] || { echo "run-demo: Xvfb did not start (see $run_dir/xvfb.log)" >&2; exit 1; }
  export DISPLAY=":$display_number"
  headless=1
else
  headless=0
fi

echo "== Vintra.exe in $run_dir (display $DISPLAY)"
(cd "$run_dir" && WINEDEBUG=-all,warn+debugstr exec "$WINE" "$exe") 2> "$run_dir/vintra-echo.log" &
vintra_pid=$!

if [ "$headless" = 0 ]; then
  echo "Close the Vintra window or press Ctrl-C to stop."
  set +e
  wait "$vintra_pid"
  code=$?
  set -e
  vintra_pid=""
  echo "Vintra ended with exit code $code."
else
  window=""
  for _ in $(seq 600); do
    window="$(xdotool search --onlyvisible --name '^Vintra$' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    kill -0 "$vintra_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "run-demo: the Vintra window did not appear" >&2; exit 1; }
  echo "Running for $seconds s on a private display..."
  sleep "$seconds"

  full="$run_dir/screen.png"
  import-im6.q16 -window root "$full"
  # Without a window manager Wine draws no frame: the window on screen is its
  # client area, found by its pure green.
  box="$(convert-im6.q16 "$full" -fill black +opaque '#00FF00' -format '%@' info:)"
  mkdir -p "$(dirname "$screenshot")"
  convert-im6.q16 "$full" -crop "$box" +repage "$screenshot"

  # Close it the way a user does, so it ends normally.
  xdotool mousemove --window "$window" 20 20 click 1 key alt+F4
  for _ in $(seq 200); do kill -0 "$vintra_pid" 2>/dev/null || break; sleep 0.1; done
  if ! kill -0 "$vintra_pid" 2>/dev/null; then
    set +e
    wait "$vintra_pid"
    echo "Vintra ended with exit code $?."
    set -e
    vintra_pid=""
  fi
  echo "Screenshot:  $screenshot"
fi
echo "Beat rate:   $run_dir/bpm.txt ($(cat "$run_dir/bpm.txt" 2>/dev/null || echo "not written"))"
echo "Echo:        $run_dir/vintra-echo.log"
