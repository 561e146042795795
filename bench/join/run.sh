#!/usr/bin/env bash
# Join benchmark, run by hand (never part of the tests).
# Usage: bench/join/run.sh [BUILD_DIR] [FORMAT...]    defaults: build, flv mp4
#
# For two sets of synthesised clips (20 clips of 2 s, 3 clips of 30 s; mixed containers, frame
# sizes, frame rates and audio) and each format it reports:
#   wall      the wall time of quilmer-join -o OUT.FORMAT CLIP...
#   encoder   the time spent inside encoder runs, split into probes, conversions and the final
#             encode (measured by a timing wrapper around the encoder adapter; the wrapper's own
#             start-up, a few milliseconds per run, is included)
#   filter    the wall time of one plain ffmpeg command with the concat filter that makes the same
#             format (same codecs; mp4 in one pass instead of two) from the same clips
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
shift || true
formats=("$@")
[ ${#formats[@]} -gt 0 ] || formats=(flv mp4)
program=$(cd "$build/program" && pwd)
[ -x "$program/quilmer-join" ] && [ -x "$program/ffmpeg" ] || { echo "build $build first" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quilmer-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

# A program folder whose encoder is a timing wrapper around the real adapter.
mkdir -p "$work/program"
cp "$program/quilmer-join" "$program"/*.ffpreset "$work/program/"
log="$work/encoder.log"
cat > "$work/program/ffmpeg" <<WRAP
#!/usr/bin/env bash
kind=final
case " \$* " in
  *" -f mpeg -y "*) kind=convert ;;
esac
[ \$# -eq 2 ] && kind=probe
start=\$(date +%s%N)
"$program/ffmpeg" "\$@"
rc=\$?
echo "\$kind \$(( \$(date +%s%N) - start ))" >> "$log"
exit \$rc
WRAP
chmod +x "$work/program/ffmpeg"

. bench/join/clips.sh  # the working folder is the project's top by now

concat_filter() {  # concat_filter FORMAT OUT CLIPS...
    local format=$1 out=$2
    shift 2
    local inputs=() graph="" n=$# i=0
    for c in "$@"; do
        inputs+=(-i "file:$c")
        graph+="[$i:v]scale=320:240,setsar=1,fps=25[v$i];[$i:a]aresample=44100,aformat=channel_layouts=stereo[a$i];"
        i=$((i + 1))
    done
    for ((i = 0; i < n; i++)); do graph+="[v$i][a$i]"; done
    graph+="concat=n=$n:v=1:a=1[v][a]"
    local codecs
    case $format in
        avi) codecs=(-c:v msmpeg4 -q:v 2 -c:a libmp3lame -f avi) ;;
        flv) codecs=(-c:v flv -q:v 2 -c:a libmp3lame -ar 22050 -f flv) ;;
        rmvb) codecs=(-c:v rv10 -q:v 2 -c:a ac3 -ar 22050 -f rm) ;;
        wmv) codecs=(-c:v wmv2 -q:v 2 -c:a wmav2 -ar 22050 -f asf) ;;
        mp4) codecs=(-c:v libx264 -preset slow -b:v 600k -pix_fmt yuv420p -c:a aac -f mp4) ;;
    esac
    ffmpeg -v error -y -nostdin "${inputs[@]}" -filter_complex "$graph" -map "[v]" -map "[a]" "${codecs[@]}" "file:$out"
}

seconds_since() { awk -v a="$1" -v b="$(date +%s%N)" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }
sum_kind() { awk -v k="$1" '$1 == k { s += $2 } END { printf "%.2f", s / 1e9 }' "$log"; }
count_kind() { awk -v k="$1" '$1 == k { n++ } END { print n + 0 }' "$log"; }

echo "Making clips in $work ..."
mixed_set "$work/short" 20 2
mixed_set "$work/long" 3 30
printf "%-16s %-6s %8s %8s %8s %8s %8s %8s\n" set format wall encoder probes convert final filter
for set in short long; do
    mapfile -t clips < <(ls "$work/$set"/*clip.* | sort)
    for format in "${formats[@]}"; do
        : > "$log"
        start=$(date +%s%N)
        "$work/program/quilmer-join" -q -o "$work/$set-out.$format" "${clips[@]}" > /dev/null
        wall=$(seconds_since "$start")
        probes=$(sum_kind probe) convert=$(sum_kind convert) final=$(sum_kind final)
        total=$(awk -v a="$probes" -v b="$convert" -v c="$final" 'BEGIN { printf "%.2f", a + b + c }')
        start=$(date +%s%N)
        concat_filter "$format" "$work/$set-filter.$format" "${clips[@]}"
        filter=$(seconds_since "$start")
        label="${#clips[@]} clips ($set)"
        printf "%-16s %-6s %8s %8s %8s %8s %8s %8s\n" "$label" "$format" "$wall" "$total" \
            "$probes($(count_kind probe))" "$convert" "$final" "$filter"
        rm -f "$work/$set-out.$format" "$work/$set-filter.$format"
    done
done
echo "(seconds; probes in brackets: number of probe runs)"
