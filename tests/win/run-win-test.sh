#!/usr/bin/env bash
# Runs a Windows test executable under Wine with what its kind of test needs,
# and takes it all down again afterwards:
#   run-win-test.sh MODE test.exe [gtest arguments...]
# Exactly COM3, COM4, COM5, COM6 and COM12 are mapped (plus whatever serial
# ports of this machine Wine adds itself, VINTRA_HOST_PORTS), the same for
# every mode, so tests of different modes never wait for a re-map.
# MODE
#   serial   COM5 and COM6 are the two ends of one pseudo-terminal pair (the
#            test plays the device on COM6); COM4 has nothing behind it.
#   gdi      off-screen drawing only: no display, no ports.
#   window   an X display; COM3 is backed by a pseudo-terminal.
# Each run gets a fresh working folder (bpm.txt, vintra.config land there).
# The test finds its helpers through VINTRA_TEST_CONTROL (request/reply
# folder of pty_helper.py), VINTRA_TEST_STDERR (Wine's stderr, with every
# OutputDebugStringA call in it) and VINTRA_HOST_PORTS.
# Listing the tests (--gtest_list_tests) needs none of this.
#
#   run-win-test.sh display-up | display-down
# start and stop an Xvfb display that window tests share (a ctest fixture),
# so Wine's session on it survives from one test to the next instead of
# being built anew each time (~3 s). Without it a window test brings up a
# display of its own.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
source "$root/scripts/wine-env.sh"

mode="${1:?mode}"
exe="${2:-}"
shift $(($# < 2 ? $# : 2))

port_map=(3 4 5 6 12)
python="$VINTRA_PYTHON"

# Inner time limit, below ctest's, so the clean-up below always gets to run.
inner_timeout="${VINTRA_WIN_TEST_TIMEOUT:-100}"
shared_display_file="$WINEPREFIX/vintra-test-display"

work=""
helper_pid=""
own_xvfb_pid=""
xvfb_number=""
xvfb_pid=""

cleanup() {
  if [ -n "$own_xvfb_pid" ]; then
    # Wine's desktop process holds this display: end it with the server.
    "$WINESERVER" -k 2>/dev/null
    kill "$own_xvfb_pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$own_xvfb_pid" 2>/dev/null || break; sleep 0.05; done
  fi
  if [ -n "$helper_pid" ]; then
    kill "$helper_pid" 2>/dev/null
    wait "$helper_pid" 2>/dev/null
    # Should the helper have died on its own, its socat processes are ours to end.
    for pid in $(cat "$work/control/pids" 2>/dev/null); do kill "$pid" 2>/dev/null; done
  fi
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

die() { echo "run-win-test.sh: $*" >&2; exit 1; }

# Starts the server on its own, with no terminal or ctest pipe attached, so a
# server lingering after the test holds nothing of ours open. It stays a few
# seconds after its last program, so the next test starts warm (~0.2 s
# instead of ~1.7 s).
start_wineserver() {
  "$WINESERVER" -p5 </dev/null >/dev/null 2>&1 || true
}

stop_wineserver() {
  "$WINESERVER" -k 2>/dev/null
  "$WINESERVER" -w 2>/dev/null
}

# Starts Xvfb on a free display, detached from this script: sets xvfb_number and xvfb_pid.
start_xvfb() {
  read -r xvfb_number xvfb_pid < <(PYTHONPATH="$root/tools" "$python" -m vintra_drive.display) ||
    die "Xvfb did not start"
}

# The shared display's number, if its Xvfb still runs.
shared_display() {
  local number pid
  read -r number pid 2>/dev/null <"$shared_display_file" || return 1
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] || return 1
  echo "$number"
}

stop_shared_display() {
  local number pid
  if read -r number pid 2>/dev/null <"$shared_display_file"; then
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] && kill "$pid" 2>/dev/null
  fi
  rm -f "$shared_display_file"
}

# True when Wine's desktop process for this prefix runs on another display
# (or none): a server started that way can create no windows for us.
desktop_elsewhere() {
  local pid settings
  for pid in $(pgrep -f 'explorer\.exe'); do
    settings="$(tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null)" || continue
    grep -qxF "WINEPREFIX=$WINEPREFIX" <<<"$settings" || continue
    grep -qxF "DISPLAY=$DISPLAY" <<<"$settings" || return 0
  done
  return 1
}

# Points DISPLAY at the shared display, or at one of this test's own. A Wine
# server started without it would leave every window uncreatable.
use_display() {
  local number
  if number="$(shared_display)"; then
    export DISPLAY=":$number"
    desktop_elsewhere && stop_wineserver
  else
    stop_wineserver
    start_xvfb
    own_xvfb_pid="$xvfb_pid"
    export DISPLAY=":$xvfb_number"
  fi
}

case "$mode" in
  display-up)
    stop_shared_display
    stop_wineserver
    start_xvfb
    echo "$xvfb_number $xvfb_pid" >"$shared_display_file" || die "no shared display"
    exit 0
    ;;
  display-down)
    stop_wineserver
    stop_shared_display
    exit 0
    ;;
esac
[ -n "$exe" ] || die "no test executable given"

for arg in "$@"; do
  if [ "$arg" = "--gtest_list_tests" ]; then
    [ -f "$WINEPREFIX/system.reg" ] || "$root/scripts/setup-wineprefix.sh" "${port_map[@]}" >&2 || die "no Wine prefix"
    start_wineserver
    exec "$WINE" "$exe" "$@" 2>/dev/null
  fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/vintra-wintest.XXXXXX")" || die "no temporary folder"
mkdir "$work/control"
cd "$work" || die "cannot enter $work"

# Starts the pseudo-terminal pairs and waits until they are there.
start_helper() {
  "$python" "$here/pty_helper.py" "$work/control" "$VINTRA_PORTS" "$@" </dev/null >"$work/helper.log" 2>&1 &
  helper_pid=$!
  for _ in $(seq 500); do
    [ -f "$work/control/ready" ] && return 0
    kill -0 "$helper_pid" 2>/dev/null || break
    sleep 0.02
  done
  cat "$work/helper.log" >&2
  die "pseudo-terminal helper did not start"
}

# Without a window manager (Xvfb has none) Wine waits 2 s for one whenever a
# window it considers managed is hidden or destroyed. Windows of this test
# executable alone are left unmanaged.
unmanage_windows() {
  local name
  name="$(basename "$exe")"
  grep -qF "AppDefaults\\\\$name\\\\X11 Driver" "$WINEPREFIX/user.reg" 2>/dev/null && return
  "$WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$name\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 ||
    die "cannot set up the window options"
}

# COM numbers Wine gave this machine's own serial devices (not in our map).
host_ports() {
  local link target ports=()
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    target="$(readlink "$link")"
    case "$target" in "$VINTRA_PORTS"/*) continue ;; esac
    ports+=("${link##*/com}")
  done
  echo "${ports[*]}"
}

unset DISPLAY
"$root/scripts/setup-wineprefix.sh" "${port_map[@]}" >&2 || die "prefix set-up failed"
export VINTRA_HOST_PORTS="$(host_ports)"
case "$mode" in
  serial)
    rm -f "$VINTRA_PORTS/com4"
    start_helper com5:com6
    ;;
  gdi) ;;
  window)
    start_helper "com3:$work/com3-device"
    unmanage_windows
    use_display
    ;;
  *) die "unknown mode $mode" ;;
esac
start_wineserver

export VINTRA_TEST_CONTROL="$work/control"
export VINTRA_TEST_STDERR="$work/wine-stderr.log"
export WINEDEBUG="-all,warn+debugstr"
timeout -k 5 "$inner_timeout" "$WINE" "$exe" "$@" 2>"$VINTRA_TEST_STDERR"
status=$?
[ "$status" -eq 124 ] && echo "run-win-test.sh: timed out after ${inner_timeout}s" >&2
# Wine's own complaints and the echoed lines, for the ctest log.
tail -n 60 "$VINTRA_TEST_STDERR" >&2
exit "$status"
