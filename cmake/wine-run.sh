#!/usr/bin/env bash
# Runs a Windows executable under Wine in the project's prefix (the caller's
# WINEPREFIX if set).
[ -n "${WINEPREFIX:-}" ] && export VINTRA_WINEPREFIX="${VINTRA_WINEPREFIX:-$WINEPREFIX}"
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-env.sh"
exec "$WINE" "$@"
