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
#   gdi      off-screen drawing only: no ports.
#   window   an X display; COM3 is backed by a pseudo-terminal.
# Each run gets a fresh working folder (bpm.txt, vintra.config land there).
# The test finds its helpers through VINTRA_TEST_CONTROL (request/reply
# folder of pty_helper.py), VINTRA_TEST_STDERR (Wine's stderr, with every
# OutputDebugStringA call in it) and VINTRA_HOST_PORTS.
#
#   run-win-test.sh display-up | display-down
# start and stop the session the tests share (a ctest fixture): an Xvfb
# display and a Wine server on it, so Wine's session survives from one test
# to the next. Without it a test brings up what it needs and takes it all
# down again, server included; a window test then has a display of its own.
#
# Wine's desktop process is bound to the display of the server's first
# program. So every Wine process here runs on the shared display while it is
# up, whatever the mode, and the server is stopped whenever it comes or goes.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
source "$root/scripts/wine-env.sh"

mode="${1:?mode}"
exe="${2:-}"
shift $(($# < 2 ? $# : 2))
port_map=(3 4 5 6 12)
# Inner time limit, below ctest's, so the clean-up below always gets to run.
inner_timeout="${VINTRA_WIN_TEST_TIMEOUT:-20}"
shared_display_file="$WINEPREFIX/vintra-test-display"
work=""
shared=""  # set while the shared session (display-up) is up: it owns the server
helper_pid=""
own_xvfb_pid=""

cleanup() {
  # Without the shared session nothing of Wine may outlive this test.
  [ -n "$shared" ] || wine_server_down
  [ -n "$own_xvfb_pid" ] && kill "$own_xvfb_pid" 2>/dev/null
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

# Starts Xvfb on a free display, detached from this script; prints "NUMBER PID".
start_xvfb() { PYTHONPATH="$root/tools" "$VINTRA_PYTHON" -m vintra_drive.display || die "Xvfb did not start"; }

# Points DISPLAY at the shared display if its Xvfb still runs; false otherwise.
use_shared_display() {
  local number pid
  read -r number pid 2>/dev/null <"$shared_display_file" && kill -0 "$pid" 2>/dev/null &&
    [ -S "/tmp/.X11-unix/X$number" ] || return 1
  export DISPLAY=":$number"
}

case "$mode" in
  display-up | display-down)
    # The session: one display and one Wine server on it (with its desktop),
    # kept from the first Wine test to the last instead of built anew for
    # each (~2 s); the server is ours, so it never goes away on its own.
    shared=1
    wine_server_down
    read -r _ pid 2>/dev/null <"$shared_display_file" && kill "$pid" 2>/dev/null
    rm -f "$shared_display_file"
    [ "$mode" = display-down ] && exit 0
    "$root/scripts/setup-wineprefix.sh" "${port_map[@]}" >&2 || die "prefix set-up failed"
    start_xvfb >"$shared_display_file" || exit 1
    use_shared_display || die "the shared display is not there"
    wine_server_up || die "no Wine server"
    exit 0
    ;;
esac
[ -n "$exe" ] || die "no test executable given"

use_shared_display && shared=1 || unset DISPLAY
for arg in "$@"; do
  # Listing the tests needs no display, ports or working folder.
  if [ "$arg" = "--gtest_list_tests" ]; then
    wine_run "$exe" "$@" 2>/dev/null
    exit
  fi
done
if [ "$mode" = window ] && [ -z "$shared" ]; then
  wine_server_down  # its desktop may be bound to no display
  read -r number own_xvfb_pid < <(start_xvfb)
  [ -n "$own_xvfb_pid" ] || die "Xvfb did not start"
  export DISPLAY=":$number"
fi
"$root/scripts/setup-wineprefix.sh" "${port_map[@]}" >&2 || die "prefix set-up failed"

work="$(mktemp -d "${TMPDIR:-/tmp}/vintra-wintest.XXXXXX")" || die "no temporary folder"
mkdir "$work/control"
cd "$work" || die "cannot enter $work"

# Starts the pseudo-terminal pairs and waits until they are there.
start_helper() {
  "$VINTRA_PYTHON" "$here/pty_helper.py" "$work/control" "$VINTRA_PORTS" "$@" </dev/null >"$work/helper.log" 2>&1 &
  helper_pid=$!
  for _ in $(seq 500); do
    [ -f "$work/control/ready" ] && return 0
    kill -0 "$helper_pid" 2>/dev/null || break
    sleep 0.02
  done
  cat "$work/helper.log" >&2
  die "pseudo-terminal helper did not start"
}

# COM numbers Wine gave this machine's own serial devices (not in our map).
host_ports=()
for link in "$WINEPREFIX"/dosdevices/com*; do
  [ -L "$link" ] && [[ "$(readlink "$link")" != "$VINTRA_PORTS"/* ]] && host_ports+=("${link##*/com}")
done
export VINTRA_HOST_PORTS="${host_ports[*]}"

case "$mode" in
  serial)
    rm -f "$VINTRA_PORTS/com4"
    start_helper com5:com6
    ;;
  gdi) ;;
  window)
    start_helper "com3:$work/com3-device"
    # Without a window manager (Xvfb has none) Wine waits 2 s for one whenever
    # a window it considers managed is hidden or destroyed: this executable's
    # windows are left unmanaged.
    name="$(basename "$exe")"
    grep -qF "AppDefaults\\\\$name\\\\X11 Driver" "$WINEPREFIX/user.reg" 2>/dev/null ||
      wine_run reg add "HKCU\\Software\\Wine\\AppDefaults\\$name\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 ||
      die "cannot set up the window options"
    ;;
  *) die "unknown mode $mode" ;;
esac

export VINTRA_TEST_CONTROL="$work/control"
export VINTRA_TEST_STDERR="$work/wine-stderr.log"
export WINEDEBUG="-all,warn+debugstr"
timeout -k 5 "$inner_timeout" "$root/scripts/wine-run.sh" "$exe" "$@" 2>"$VINTRA_TEST_STDERR"
status=$?
[ "$status" -eq 124 ] && echo "run-win-test.sh: timed out after ${inner_timeout}s" >&2
# Wine's own complaints and the echoed lines, for the ctest log.
tail -n 60 "$VINTRA_TEST_STDERR" >&2
exit "$status"
