#!/bin/sh
# Runs a Windows executable under Wine in the project's test prefix.
# WINEPREFIX may be set by the caller; otherwise the build's own prefix is used.
: "${WINEPREFIX:=${VINTRA_WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix}}"
: "${WINEDEBUG:=-all}"
export WINEPREFIX WINEDEBUG
export WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
