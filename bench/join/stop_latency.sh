#!/usr/bin/env bash
# How fast a stop ends a join: starts quilmer-join on a long clip, sends SIGTERM once the first
# conversion writes its intermediate, and prints the time until the program has exited and no
# encoder is left. The figure the tests only bound generously (a stop must not wait for the
# worker's five-second time-out) is held here to one second.
# Usage: bench/join/stop_latency.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rounds=${2:-5}
work=$(mktemp -d "${TMPDIR:-/tmp}/quilmer-stop-XXXXXX")
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -y -f lavfi -i "testsrc=size=320x240:rate=25:duration=30" \
    -f lavfi -i "sine=frequency=440:duration=30" -c:v libx264 -pix_fmt yuv420p -c:a aac "$work/long.mp4"
worst=0
for round in $(seq "$rounds"); do
    "$build/program/quilmer-join" -o "$work/out.mp4" "$work/long.mp4" "$work/long.mp4" >/dev/null 2>&1 &
    pid=$!
    until compgen -G "$work/*.qjv" >/dev/null; do sleep 0.01; done
    start=$(date +%s%N)
    kill -TERM "$pid"
    wait "$pid" || true
    while pgrep -f "$work" >/dev/null; do sleep 0.005; done
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    echo "round $round: stopped in $ms ms"
    (( ms > worst )) && worst=$ms
done
echo "worst: $worst ms (budget 1000 ms)"
(( worst <= 1000 ))
