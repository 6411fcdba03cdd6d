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
