#!/usr/bin/env bash
# Sets everything up and runs the main job: builds the program folder and joins a few short clips
# of mixed formats that it synthesises with ffmpeg.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
echo "Program folder: $(pwd)/build/program"
ls build/program
