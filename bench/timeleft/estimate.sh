#!/usr/bin/env bash
# Time-left benchmark, run by hand (never part of the tests).
# Usage: bench/timeleft/estimate.sh [PROGRAM_FOLDER] [METHODS] [SETS] [FORMATS]
#   defaults: build/program, "classic single", "mixed real", "avi flv rmvb wmv mp4"
#
# Joins each clip set with quilmer-join --method METHOD into each format on a pseudo-terminal
# (where the progress line is redrawn once a second), timestamps every redraw, and scores every
# "about m:ss left" shown after 10 % of the join's wall time against the time that really
# remained when it was drawn, looking at the screen every 0.5 s: error = |shown - remaining| /
# max(remaining, 2 s)
# (the line shows whole seconds and is redrawn once a second). Prints per join the wall time, when
# the first estimate appeared (share of the wall time), the number of estimates scored and their
# median and worst error. Goal: median <= 15 %, worst <= 30 %.
#   mixed  ten synthesised clips (bench/join/clips.sh): five of 20 s and five of 60 s, interleaved
#   real   eleven real clips from ../shared/media-samples (FLV, MP4, WMV, ASF, MOV, 3GP)
#   long   the mixed kinds six times as long: five of 2 min and five of 6 min (made only when asked
#          for; a join of them lasts long enough for the figure to matter on a fast machine)
# TIMELEFT_STAGES=1 also prints how long each stage took, TIMELEFT_TRACE=1 every look at the screen,
# TIMELEFT_RECORD=DIR keeps a recording of each join for timeleft_replay (bench/README.md).
# Timings depend on the load of the machine; on a shared one run each case more than once before
# trusting a figure.
set -euo pipefail
cd "$(dirname "$0")/../.."
program=$(cd "${1:-build/program}" && pwd)
read -r -a methods <<<"${2:-classic single}"
read -r -a sets <<<"${3:-mixed real}"
read -r -a formats <<<"${4:-avi flv rmvb wmv mp4}"
[ -x "$program/quilmer-join" ] && [ -x "$program/ffmpeg" ] || { echo "build quilmer-join and the adapter first" >&2; exit 1; }
samples=${SAMPLES:-$(cd .. && pwd)/shared/media-samples}
[ -d "$samples" ] || samples=/work/shared/media-samples

work=$(mktemp -d "${TMPDIR:-/tmp}/quilmer-timeleft-XXXXXX")
trap 'rm -rf "$work"' EXIT
. bench/join/clips.sh

mixed_set "$work/short" 5 20
mixed_set "$work/long" 5 60
mixed=()
for i in 00 01 02 03 04; do
    mixed+=("$(ls "$work/short/$i "*)" "$(ls "$work/long/$i "*)")
done
long=()
if [[ " ${sets[*]} " == *" long "* ]]; then
    mixed_set "$work/long-short" 5 120
    mixed_set "$work/long-long" 5 360
    for i in 00 01 02 03 04; do
        long+=("$(ls "$work/long-short/$i "*)" "$(ls "$work/long-long/$i "*)")
    done
fi
real=()
for name in flv-vp6f-mp3-barsandtone.flv mp4-handbrake-h264-aac.mp4 wmv-wmv3-wma-bad-audio-timestamps.wmv \
    asf-wmv2-wmav2.asf mov-apple-h264-aac.mov flv-vp6f-mp3-grampa.flv 3gp-apple-h263-amrnb.3gp \
    mp4-quicktime7-mpeg4asp-aac.mp4 asf-msmpeg4v3-wmav2.asf wmv-wmv3-wma-moviemaker21.wmv \
    mov-qt7-photojpeg-noaudio.mov; do
    real+=("$samples/$name")
done

printf "%-8s %-6s %-5s %7s %7s %5s %8s %8s\n" method set fmt wall first n median worst
for method in "${methods[@]}"; do
    for set in "${sets[@]}"; do
        case "$set" in
            mixed) clips=("${mixed[@]}") ;;
            long) clips=("${long[@]}") ;;
            *) clips=("${real[@]}") ;;
        esac
        for format in "${formats[@]}"; do
            python3 bench/timeleft/timeleft.py "$program" "$method" "$set" "$work/out.$format" "${clips[@]}"
            rm -f "$work/out.$format"
        done
    done
done
