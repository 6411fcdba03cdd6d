#!/usr/bin/env bash
# Vintra in a real OBS Studio scene, for the guide (docs/obs.md); not part of the tests.
#   --sweep [PATH]     chroma key similarity x smoothness on the keyed scene (default docs/obs-key-sweep.md)
#   --pictures [DIR]   the keyed scene and the key's close-up (default docs/)
# Installs what it needs, builds, then runs tools/vintra_obs on a private X display
# (about a minute and a half for both). VINTRA_BUILD_DIR selects the build folder.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/install-deps.sh
bash scripts/build.sh >/dev/null
source cmake/debian-paths.env
PYTHONPATH=tools exec "$VINTRA_PYTHON" -m vintra_obs "$@"
