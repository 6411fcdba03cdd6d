#!/usr/bin/env bash
# Creates the Wine prefix (once) and maps COM ports to link paths in it:
#   scripts/setup-wineprefix.sh            map the default ports, COM1..COM12
#   scripts/setup-wineprefix.sh 3 12       map exactly COM3 and COM12
# COM port N then opens "$WINEPREFIX/vintra-ports/comN", which a test points
# at a pseudo-terminal. Wine reads the map only when its server starts, so the
# server is stopped after a change.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

ports=("$@")
[ ${#ports[@]} -eq 0 ] && ports=(1 2 3 4 5 6 7 8 9 10 11 12)

# Every Wine program here starts on a display-less server that ends with the
# script, so no window of a later program is bound to no display.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  DISPLAY= wine_server_up || exit 1  # its first program makes the prefix
  wine_server_down                   # which writes system.reg
fi
mkdir -p "$VINTRA_PORTS"

# The map as it stands: the registry's port entries as Wine last saved them,
# and the links Wine made from them. A copied or moved checkout still points
# into the old folder, so the targets count, not just the numbers.
current_map() {
  local n
  awk '/^\[Software\\\\Wine\\\\Ports\]/ { on = 1; next } /^\[/ { on = 0 } on && /^"COM/' \
    "$WINEPREFIX/system.reg" | sort
  for n in "${ports[@]}"; do echo "com$n -> $(readlink "$WINEPREFIX/dosdevices/com$n")"; done
}
wanted_map() {
  local n
  for n in "${ports[@]}"; do echo "\"COM$n\"=\"$VINTRA_PORTS/com$n\""; done | sort
  for n in "${ports[@]}"; do echo "com$n -> $VINTRA_PORTS/com$n"; done
}

if [ "$(current_map)" != "$(wanted_map)" ]; then
  wine_server_down
  export DISPLAY=
  wine_run reg delete 'HKLM\Software\Wine\Ports' /f >/dev/null 2>&1 || true
  for n in "${ports[@]}"; do
    wine_run reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$VINTRA_PORTS/com$n" /f >/dev/null 2>&1
  done
  wine_server_down
  # Wine adds links for mapped ports but never removes stale ones.
  rm -f "$WINEPREFIX"/dosdevices/com*
  # Start the server again so the new map is in force (and checkable) now.
  # Wine's device manager makes the links a moment after the server starts:
  # wait for them before ending it, or it is ended before it has.
  wine_server_up || exit 1
  for _ in $(seq 600); do
    missing=0
    for n in "${ports[@]}"; do
      [ "$(readlink "$WINEPREFIX/dosdevices/com$n")" = "$VINTRA_PORTS/com$n" ] || missing=1
    done
    [ "$missing" = 0 ] && break
    sleep 0.05
  done
  wine_server_down
  [ "$(current_map)" = "$(wanted_map)" ] || { echo "setup-wineprefix: COM map not in force" >&2; exit 1; }
fi
