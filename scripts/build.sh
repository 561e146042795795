#!/usr/bin/env bash
# Configures and builds Quilmer. Usage: scripts/build.sh [BUILD_DIR] [extra cmake args...]
# BUILD_DIR defaults to build/. The result is a runnable program folder in BUILD_DIR/program.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$dir"
