#!/usr/bin/env bash
# Joins N short clips (100 and 1000 by default, 10000 when asked) with `single` and `lossless`
# and prints wall time, time per clip and peak memory (the largest of quilmer-join and the
# ffmpeg runs it waits for, from /usr/bin/time -v). Time per clip should not grow with N.
# Usage: [METHODS="lossless single"] bench/join/many_clips.sh [BUILD_DIR] [COUNT...]
set -euo pipefail
build=${1:-build}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(100 1000)
join="$build/program/quilmer-join"
[ -x "$join" ] || { echo "no $join; build first" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package 'time')" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -y -f lavfi -i testsrc=s=160x120:r=25:d=0.5 -f lavfi -i sine=d=0.5 \
    -c:v flv1 -c:a libmp3lame -ar 22050 "$work/tiny.flv"
ffmpeg -v error -y -f lavfi -i testsrc=s=160x120:r=25:d=0.5 -f lavfi -i sine=d=0.5 \
    -c:v libx264 -preset ultrafast -c:a aac "$work/tiny.mp4"
printf '%-8s %6s %9s %12s %10s\n' method clips "wall s" "ms per clip" "peak MB"
for n in "${counts[@]}"; do
    rm -rf "$work/c"; mkdir "$work/c"
    # single: FLV and MP4 mixed; lossless: FLV only (the copy needs clips that agree). The copies
    # are written by tee, 256 a process: a process for each of 10000 copies takes minutes.
    seq -f "$work/c/f%g.flv" 1 "$n" > "$work/names-flv"
    seq -f "$work/c/m%g.mp4" 2 2 "$n" > "$work/names-mp4"
    xargs -a "$work/names-flv" -d '\n' -n 256 sh -c 'tee "$@" < "$0" > /dev/null' "$work/tiny.flv"
    xargs -a "$work/names-mp4" -d '\n' -n 256 sh -c 'tee "$@" < "$0" > /dev/null' "$work/tiny.mp4"
    flv=(); mixed=()
    for i in $(seq 1 "$n"); do
        flv+=("$work/c/f$i.flv")
        if [ $((i % 2)) = 0 ]; then mixed+=("$work/c/m$i.mp4"); else mixed+=("$work/c/f$i.flv"); fi
    done
    for method in ${METHODS:-single lossless}; do
        if [ "$method" = single ]; then clips=("${mixed[@]}"); else clips=("${flv[@]}"); fi
        /usr/bin/time -v -o "$work/time" "$join" -q --method "$method" -o "$work/out.flv" "${clips[@]}" \
            > /dev/null 2> "$work/err" || { echo "$method $n failed: $(tail -1 "$work/err")"; continue; }
        wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,p,":"); s=0; for(i=1;i<=n;i++) s=s*60+p[i]; print s}' "$work/time")
        peak=$(awk -F': ' '/Maximum resident/ {printf "%.0f", $2/1024}' "$work/time")
        printf '%-8s %6d %9.2f %12.1f %10s\n' "$method" "$n" "$wall" "$(awk -v w="$wall" -v n="$n" 'BEGIN { print w * 1000 / n }')" "$peak"
        rm -f "$work/out.flv"
    done
done
