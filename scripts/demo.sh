#!/usr/bin/env bash
# Sets everything up and runs the main job: builds the program folder and joins a few short clips
# of mixed formats that it synthesises with ffmpeg.
# Usage: scripts/demo.sh [FORMAT]   FORMAT is avi, flv, rmvb, wmv or mp4 (default mp4)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build
echo "Program folder: $(pwd)/build/program"
ls build/program

format=${1:-mp4}
work=$(mktemp -d "${TMPDIR:-/tmp}/quilmer-demo-XXXXXX")
echo "Making sample clips in $work"
clip() {  # clip NAME SECONDS ffmpeg-options...
    local name=$1 seconds=$2
    shift 2
    ffmpeg -v error -y "$@" -t "$seconds" "file:$work/$name"
}
# Different containers, frame sizes, frame rates and audio; one clip without sound, one sound only.
clip "1 title card.flv" 3 -f lavfi -i "testsrc=size=320x240:rate=25" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100" -ac 2 -c:v flv1 -c:a libmp3lame
clip "2 colour bars.mp4" 3 -f lavfi -i "smptebars=size=352x288:rate=30000/1001" \
    -f lavfi -i "sine=frequency=660:sample_rate=48000" -ac 1 -c:v libx264 -pix_fmt yuv420p -c:a aac
clip "3 Mandelbrot «slow».avi" 3 -f lavfi -i "mandelbrot=size=160x120:rate=15" \
    -f lavfi -i "sine=frequency=330:sample_rate=22050" -c:v mpeg4 -c:a libmp3lame
clip "4 silent.mov" 2 -f lavfi -i "testsrc2=size=320x180:rate=12.5" -an -c:v mpeg4
clip "5 voice only.wma" 2 -f lavfi -i "sine=frequency=550:sample_rate=32000" -c:a wmav2
ls -l "$work"

output="$work/joined.$format"
echo "Joining them into $output"
build/program/quilmer-join -o "$output" "$work"/*.flv "$work"/*.mp4 "$work"/*.avi "$work"/*.mov "$work"/*.wma
echo
echo "The joined file is $output"
