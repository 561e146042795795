#!/usr/bin/env bash
# Builds with ThreadSanitizer and runs the unit tests and the join pipeline tests (the worker to
# loop hand-over, the runner's stop from another thread). Any reported race fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The GUI is not under test here; leaving it out keeps wxWidgets' own code out of the reports.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILMER_TSAN=ON -DQUILMER_BUILD_GUI=OFF
cmake --build build-tsan
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:history_size=4" \
  ctest --test-dir build-tsan --output-on-failure -j2 -L unit
