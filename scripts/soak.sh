#!/usr/bin/env bash
# Soak run: the real program under Wine for a long stretch (default 10 minutes)
# with the simulated device at its fastest rate, every fault on, unplugged and
# plugged back in now and then. Prints a summary and appends it to docs/soak.md.
#   scripts/soak.sh [minutes] [more options: tools/soak/soak.py --help]
# Needs the Windows build (build/win/Vintra.exe) and the host build's
# simulator (build/host/tools/vintra_sim/vintra-sim); VINTRA_EXE and VINTRA_SIM
# point elsewhere. Uses its own Wine prefix, build/soak-wineprefix, unless
# VINTRA_WINEPREFIX is set.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/cmake/debian-paths.env"
export PYTHONDONTWRITEBYTECODE=1
exec "$VINTRA_PYTHON" "$root/tools/soak/soak.py" "$@"
