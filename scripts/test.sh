#!/usr/bin/env bash
# Sets everything up and runs the whole test suite (unit, integration, gui).
# Usage: scripts/test.sh [ctest args...]   e.g. scripts/test.sh -L unit
# Without a display the run happens inside Xvfb, so the GUI tests drive real windows there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" \
    ctest --test-dir build --output-on-failure -j2 "$@"
fi
ctest --test-dir build --output-on-failure -j2 "$@"
