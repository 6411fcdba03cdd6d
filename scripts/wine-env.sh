# Sourced: the Wine settings every script and test uses. The prefix lives in
# the build folder, never in ~/.wine.
VINTRA_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${VINTRA_WINEPREFIX:-$VINTRA_ROOT/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
# COM port N of the prefix opens whatever this path links to (a pseudo-terminal).
VINTRA_PORTS="$WINEPREFIX/vintra-ports"
