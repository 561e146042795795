#!/usr/bin/env bash
# Join-method benchmark, run by hand (never part of the tests).
# Usage: bench/join/methods.sh [BUILD_DIR] [FORMAT...]    defaults: build, flv mp4
#
# On the same clips in one run it prints, per set and format, the wall time of
#   lossless  quilmer-join --method lossless, against the plain stream copy
#             ffmpeg -f concat -safe 0 -i LIST -c copy  (goal: at most 1.2 times)
#   single    quilmer-join --method single, against one ffmpeg command with the concat filter
#             that scales, resamples and encodes the same way  (goal: at most 1.05 times)
#   auto      quilmer-join (auto) against --method classic: the speed-up
# Each time but classic's is the best of ROUNDS runs (default 3).
# Sets: parts of one video (20 x 2 s, 3 x 30 s; H.264/AAC in MP4, cut at key frames) for the
# lossless rows, mixed clips (20 x 2 s, 3 x 30 s; containers, sizes, rates and sound differ) for
# the single rows. Needs ffmpeg; takes several minutes.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
shift || true
formats=("$@")
[ ${#formats[@]} -gt 0 ] || formats=(flv mp4)
join=$(cd "$build/program" && pwd)/quilmer-join
[ -x "$join" ] || { echo "build $build first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quilmer-methods-XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "-" }'; }

# parts DIR COUNT SECONDS: one H.264/AAC video with a key frame every second, cut into parts.
parts() {
    local dir=$1 count=$2 seconds=$3
    mkdir -p "$dir"
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x360:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
        -ac 2 -c:v libx264 -preset veryfast -g 25 -pix_fmt yuv420p -c:a aac -t $((count * seconds)) "$dir/whole.mp4"
    ffmpeg -v error -y -i "$dir/whole.mp4" -map 0 -c copy -f segment -segment_time "$seconds" -reset_timestamps 1 \
        "$dir/part%02d.mp4"
    rm "$dir/whole.mp4"
}

. bench/join/clips.sh  # the working folder is the project's top by now

# The plain stream copy.
copy_join() {  # copy_join FORMAT OUT CLIPS...
    local format=$1 out=$2 list="$work/list.txt"
    shift 2
    echo "ffconcat version 1.0" > "$list"
    for c in "$@"; do printf "file '%s'\n" "$c" >> "$list"; done
    local muxer=$format
    ffmpeg -v error -y -nostdin -f concat -safe 0 -i "$list" -c copy -f "$muxer" "file:$out"
}

# The concat-filter one-liner doing what the one-pass join does with these clips: fit into the
# first clip's 320x240 with bars, its 25 fps, its 44.1 kHz stereo sound, the classic join's
# codecs (MP4 in one pass at the first clip's bit rates).
filter_join() {  # filter_join FORMAT OUT CLIPS...
    local format=$1 out=$2
    shift 2
    local inputs=() graph="" n=$# i=0 rate=44100
    for c in "$@"; do
        inputs+=(-i "file:$c")
        graph+="[$i:v]setpts=PTS-STARTPTS,scale=320:240:force_original_aspect_ratio=decrease,pad=320:240:(ow-iw)/2:(oh-ih)/2,setsar=1,fps=25,format=yuv420p[v$i];"
        graph+="[$i:a]asetpts=PTS-STARTPTS,aresample=$rate,aformat=sample_rates=$rate:channel_layouts=stereo[a$i];"
        i=$((i + 1))
    done
    for ((i = 0; i < n; i++)); do graph+="[v$i][a$i]"; done
    graph+="concat=n=$n:v=1:a=1[v][a]"
    local codecs video_kbps=$first_video_kbps audio_kbps=$first_audio_kbps
    case $format in
        flv) codecs=(-c:v flv -q:v 2 -c:a libmp3lame -f flv) ;;
        mp4) codecs=(-c:v libx264 -preset slow -b:v "${video_kbps}k" -pix_fmt yuv420p -c:a aac -b:a "${audio_kbps}k" -f mp4) ;;
        avi) codecs=(-c:v msmpeg4 -q:v 2 -c:a libmp3lame -b:a "${audio_kbps}k" -f avi) ;;
        wmv) codecs=(-c:v wmv2 -q:v 2 -c:a wmav2 -f asf) ;;
    esac
    ffmpeg -v error -y -nostdin "${inputs[@]}" -filter_complex "$graph" -map "[v]" -map "[a]" "${codecs[@]}" \
        -ar "$rate" -ac 2 "file:$out"
}

timed() {  # timed COMMAND...: prints the wall seconds
    local start
    start=$(now)
    "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; echo "-"; return; }
    secs "$start" "$(now)"
}

# best COMMAND...: the shortest of $ROUNDS timed runs (default 3), so that a moment of load on
# the machine does not decide a ratio of two runs a few per cent apart.
best() {
    local i t min=""
    for ((i = 0; i < ${ROUNDS:-3}; i++)); do
        t=$(timed "$@")
        [ "$t" = "-" ] && { echo "-"; return; }
        if [ -z "$min" ] || awk -v a="$t" -v b="$min" 'BEGIN { exit !(a < b) }'; then min=$t; fi
    done
    echo "$min"
}

echo "Making clips in $work ..."
parts "$work/parts20" 20 2
parts "$work/parts3" 3 30
mixed_set "$work/mixed20" 20 2
mixed_set "$work/mixed3" 3 30

printf "%-22s %-5s %-9s %8s %8s %7s | %8s %8s %8s\n" set format method quilmer ffmpeg ratio classic auto speedup
for set in parts20 parts3 mixed20 mixed3; do
    mapfile -t clips < <(ls "$work/$set"/* | sort)
    case $set in
        parts*) method=lossless label="${#clips[@]} parts of one video" ;;
        *) method=single label="${#clips[@]} mixed clips" ;;
    esac
    for format in "${formats[@]}"; do
        out="$work/out.$format"
        q=$(best "$join" -q --method "$method" -o "$out" "${clips[@]}")
        if [ "$method" = lossless ]; then
            f=$(best copy_join "$format" "$work/ref.$format" "${clips[@]}")
        else
            # The first clip's bit rates, looked up before the clock runs.
            first_video_kbps=$(($(ffprobe -v error -show_entries format=bit_rate -of csv=p=0 "file:${clips[0]}") / 1000))
            first_audio_kbps=$(($(ffprobe -v error -select_streams a:0 -show_entries stream=bit_rate -of csv=p=0 \
                "file:${clips[0]}") / 1000))
            f=$(best filter_join "$format" "$work/ref.$format" "${clips[@]}")
        fi
        c=$(timed "$join" -q --method classic -o "$out" "${clips[@]}")
        a=$(best "$join" -q -o "$out" "${clips[@]}")
        printf "%-22s %-5s %-9s %8s %8s %7s | %8s %8s %8s\n" "$label" "$format" "$method" "$q" "$f" \
            "$(ratio "$q" "$f")" "$c" "$a" "$(ratio "$c" "$a")"
        rm -f "$out" "$work/ref.$format"
    done
done
echo "(seconds of wall time, the best of ${ROUNDS:-3} runs but classic, run once; ratio = quilmer / ffmpeg, speedup = classic / auto)"
