#!/usr/bin/env bash
# Sets everything up and runs the main job: builds the program folder, synthesises a few short
# clips of mixed formats with ffmpeg and opens them in quilmer, the main window, ready to join.
# Without a display it says so and joins the same clips with quilmer-join instead.
# Usage: scripts/demo.sh [FORMAT]   FORMAT is avi, flv, rmvb, wmv or mp4 (default mp4; used by the
# command-line join, the main window asks in its save dialog)
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

clips=("$work"/*.flv "$work"/*.mp4 "$work"/*.avi "$work"/*.mov "$work"/*.wma)
output="$work/joined.$format"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Opening the main window with the clips in its list. Press \"Join...\" and choose where"
    echo "the joined file goes; close the window when you are done."
    status=0
    build/program/quilmer "${clips[@]}" </dev/null || status=$?
    # The main window ends the program with status 2; anything else means it could not start.
    if [ "$status" -eq 0 ] || [ "$status" -eq 2 ]; then
        exit 0
    fi
    echo "The main window could not be opened (status $status); joining from the terminal instead."
else
    echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the main window cannot open;"
    echo "joining the same clips from the terminal instead."
fi

echo "Joining them into $output"
build/program/quilmer-join -o "$output" "${clips[@]}"
echo
echo "The joined file is $output"
