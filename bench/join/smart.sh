#!/usr/bin/env bash
# Smart-join benchmark, run by hand (never part of the tests).
# Usage: nice -n 19 bench/join/smart.sh [BUILD_DIR] [ROUNDS]    defaults: build, 3
#
# Twenty 3-second parts of one H.264/AAC video (640x360, 25 fps, x264's default settings, cut at
# key frames) with two 3-second parts of another video of another frame size (480x270) among
# them, joined into MP4. It prints the wall time of
#   smart     quilmer-join --method smart on the 22 clips
#   reencode  re-encoding the two odd parts alone to the parts' settings (two runs of ffmpeg,
#             as the smart join makes them)
#   copy      quilmer-join --method lossless on the 20 parts and the two re-encoded ones
#   single    quilmer-join --method single on the 22 clips
# and the goals: smart <= (reencode + copy) * 1.1, and single / smart >= 5.
# Each time is the best of ROUNDS runs, single's of one. Needs ffmpeg; takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rounds=${2:-3}
join=$(cd "$build/program" && pwd)/quilmer-join
[ -x "$join" ] || { echo "build $build first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quilmer-smart-XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }

# video DIR NAME SIZE COUNT: COUNT 3-second parts of one video, DIR/NAMEnn.mp4.
video() {
    local dir=$1 name=$2 size=$3 count=$4
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
        -ac 2 -c:v libx264 -g 25 -pix_fmt yuv420p -c:a aac -t $((count * 3)) "$dir/$name-whole.mp4"
    ffmpeg -v error -y -i "$dir/$name-whole.mp4" -map 0 -c copy -f segment -segment_time 3 -reset_timestamps 1 \
        "$dir/$name%02d.mp4"
    rm "$dir/$name-whole.mp4"
}

echo "making the clips in $work"
video "$work" part 640x360 20
video "$work" odd 480x270 2
clips=()
for i in $(seq -w 0 19); do
    clips+=("$work/part$i.mp4")
    [ "$i" = 06 ] && clips+=("$work/odd00.mp4")
    [ "$i" = 14 ] && clips+=("$work/odd01.mp4")
done

# The odd parts re-encoded as the smart join does: fitted into 640x360 at 25 fps, x264 with the
# parts' settings (its defaults), the parts' sound.
reencode() {
    for n in 00 01; do
        ffmpeg -v error -y -nostdin -i "$work/odd$n.mp4" \
            -vf "scale=640:360:force_original_aspect_ratio=decrease,pad=640:360:(ow-iw)/2:(oh-ih)/2,setsar=1,fps=25" \
            -c:v libx264 -profile:v high -pix_fmt yuv420p -c:a aac -ar 44100 -ac 2 "$work/redone$n.mp4"
    done
}
copied=()
for c in "${clips[@]}"; do copied+=("${c/\/odd/\/redone}"); done

best() {  # best ROUNDS COMMAND...: the best wall seconds of ROUNDS runs
    local n=$1 top=""
    shift
    for ((r = 0; r < n; r++)); do
        local a b t
        a=$(now)
        "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        b=$(now)
        t=$(secs "$a" "$b")
        if [ -z "$top" ] || awk -v t="$t" -v m="$top" 'BEGIN { exit !(t < m) }'; then top=$t; fi
    done
    echo "$top"
}

reencode_s=$(best "$rounds" reencode)
copy_s=$(best "$rounds" "$join" -q --method lossless -o "$work/copy.mp4" "${copied[@]}")
smart_s=$(best "$rounds" "$join" -q --method smart -o "$work/smart.mp4" "${clips[@]}")
"$join" -q --method smart -o "$work/smart.mp4" "${clips[@]}" 2>&1 | grep -o "method smart: .*" || {
    echo "the join was not smart" >&2
    exit 1
}
single_s=$(best 1 "$join" -q --method single -o "$work/single.mp4" "${clips[@]}")

budget=$(awk -v r="$reencode_s" -v c="$copy_s" 'BEGIN { printf "%.2f", (r + c) * 1.1 }')
speedup=$(awk -v a="$single_s" -v b="$smart_s" 'BEGIN { printf "%.1f", a / b }')
printf "%-10s %8s s\n" smart "$smart_s" reencode "$reencode_s" copy "$copy_s" single "$single_s"
printf "smart %s s against (reencode + copy) * 1.1 = %s s: %s\n" "$smart_s" "$budget" \
    "$(awk -v s="$smart_s" -v b="$budget" 'BEGIN { print (s <= b) ? "met" : "missed" }')"
printf "single / smart = %s: %s\n" "$speedup" "$(awk -v x="$speedup" 'BEGIN { print (x >= 5) ? "met" : "missed" }')"
