#!/usr/bin/env bash
# The one way every script, tool and test starts a Windows program under Wine:
#   scripts/wine-run.sh PROGRAM [ARGS...]
# in the project's prefix (the caller's WINEPREFIX if set), on a server that
# stays until it is stopped (wine_server_down) and whose helper processes were
# started without the caller's output. See wine_server_up in wine-env.sh.
[ -n "${WINEPREFIX:-}" ] && export VINTRA_WINEPREFIX="${VINTRA_WINEPREFIX:-$WINEPREFIX}"
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
wine_server_up || exit 1
exec "$WINE" "$@"
