#!/usr/bin/env bash
# Sets everything up and runs the whole test suite (unit, integration).
# Usage: scripts/test.sh [ctest args...]   e.g. scripts/test.sh -L unit
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
ctest --test-dir build --output-on-failure -j2 "$@"
