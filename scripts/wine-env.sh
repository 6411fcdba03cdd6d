# Sourced: the Wine settings every script and test uses. The prefix lives in
# the build folder (VINTRA_BUILD_DIR, default build/), never in ~/.wine;
# VINTRA_WINEPREFIX picks another one.
VINTRA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$VINTRA_ROOT/cmake/debian-paths.env"
VINTRA_BUILD="$(cd "$VINTRA_ROOT" && realpath -m "${VINTRA_BUILD_DIR:-build}")"
export WINEPREFIX="${VINTRA_WINEPREFIX:-$VINTRA_BUILD/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE="$VINTRA_WINE"
WINESERVER="$VINTRA_WINESERVER"
# COM port N of the prefix opens whatever this path links to (a pseudo-terminal).
VINTRA_PORTS="$WINEPREFIX/vintra-ports"

# Makes sure the prefix has a server that stays until wine_server_down, with
# Wine's helper processes (services, explorer, ...) already running. Both
# halves mend start-up faults:
# - A server left to end on its own does so a few seconds after its last
#   program, and a program started in that moment fails at once (the loader
#   exits with 1, having said nothing). Ours never ends on its own; a server
#   of the prefix started some other way is waited out first.
# - The first program of a server starts the helpers, and they inherit its
#   output and outlive it: a reader of that program's output would never see
#   its end. Here that first program is a throwaway whose output goes nowhere.
# The Wine desktop binds to the DISPLAY of that first program: the caller's.
wine_server_up() {
  mkdir -p "$WINEPREFIX" || return 1
  local name pid
  # The server runs in a folder Wine names after the prefix's device and inode.
  name="$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))"
  for pid in $(pgrep -x "$(basename "$WINESERVER")"); do
    [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$name" ] || continue
    tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | grep -qx -- -p && return 0
    timeout 60 "$WINESERVER" -w || true
  done
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
  case $? in 0) ;; 2) return 0 ;; *) echo "wine_server_up: no Wine server for $WINEPREFIX" >&2; return 1 ;; esac
  "$WINE" cmd /c exit </dev/null >/dev/null 2>&1
  return 0
}

# Runs a Windows program to its end through wine_server_up (the one way; the
# scripts/wine-run.sh command for whoever does not source this file).
wine_run() { wine_server_up && "$WINE" "$@"; }

# Ends every process of the prefix and its server, and waits until they are gone.
wine_server_down() {
  "$WINESERVER" -k 2>/dev/null || true
  timeout 60 "$WINESERVER" -w 2>/dev/null || true
  return 0
}
