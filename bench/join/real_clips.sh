#!/usr/bin/env bash
# Joins each clip with itself by each method into each format and prints a Markdown table:
# clip, method, format, the clip's length (its longest stream) twice over, the output's picture
# and sound lengths (decoded packets), and for the marked clips (a white flash and a beep made
# together) the worst offset between where the flash and the beep come in the output, against
# where they were in the clip.
#
#   bench/join/real_clips.sh [BUILD_DIR] [--methods "classic single lossless auto"]
#                            [--formats "avi flv rmvb wmv mp4"] [--only REGEX] [CLIP...]
#
# Without clips it makes the marked clips (late first picture, early sound, timestamps far from
# zero, a slow picture that ends before its sound, mid-stream metadata with a size change,
# RealVideo 1 and 2, WMV 7 and 8, odd sizes) and takes every file of ../shared/media-samples.
# Needs ffmpeg, ffprobe and python3.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
[ $# -gt 0 ] && shift
methods="classic single lossless auto"
formats="avi flv rmvb wmv mp4"
clips=()
only=.
while [ $# -gt 0 ]; do
  case $1 in
    --methods) methods=$2; shift 2 ;;
    --formats) formats=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;   # clips whose name matches (an extended regular expression)
    *) clips+=("$1"); shift ;;
  esac
done
join="$build/program/quilmer-join"
[ -x "$join" ] || { echo "no $join: build quilmer-join first" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

marked() {  # name, picture offset (s), extra ffmpeg output options
  local name=$1 offset=$2; shift 2
  ffmpeg -v error -y -f lavfi -i "color=c=black:s=320x240:r=25:d=6,drawbox=c=white:t=fill:enable='between(t,3,3.04)'" \
    -c:v libx264 -pix_fmt yuv420p "$work/v.mp4" &&
  ffmpeg -v error -y -f lavfi -i "sine=frequency=1000:sample_rate=44100:duration=8,volume=volume=0:enable='not(between(t,5,5.1))'" \
    -c:a aac "$work/a.m4a" &&
  ffmpeg -v error -y -itsoffset "$offset" -i "$work/v.mp4" -i "$work/a.m4a" -map 0:v -map 1:a -c copy "$@" "$work/$name"
}

if [ ${#clips[@]} -eq 0 ]; then
  marked "late picture.flv" 2 && clips+=("$work/late picture.flv")
  marked "far timestamps.ts" 2 -output_ts_offset 10000 && clips+=("$work/far timestamps.ts")
  for spec in "rv10 320x240 rm ac3" "rv20 352x288 rm ac3" "wmv1 320x240 wmv wmav1" "wmv2 720x480 wmv wmav2" \
              "flv1 1280x720 flv libmp3lame" "mpeg4 321x241 avi libmp3lame"; do
    set -- $spec
    ffmpeg -v error -y -f lavfi -i "testsrc=s=$2:r=15:d=4" -f lavfi -i "sine=sample_rate=22050:d=5" \
      -c:v "$1" -b:v 400k -c:a "$4" "$work/$1 $2.$3" && clips+=("$work/$1 $2.$3")
  done
  # A slow picture (10 fps) whose sound runs half a second longer, flash and beep at 1 s.
  ffmpeg -v error -y -f lavfi -i "sine=frequency=1000:sample_rate=22050:duration=3.5,volume=volume=0:enable='not(between(t,1,1.08))'" \
    -f lavfi -i "color=c=black:s=96x72:r=10:d=3,drawbox=c=white:t=fill:enable='between(t,1,1.09)'" \
    -map 0:a -map 1:v -c:v flv1 -c:a libmp3lame -ac 1 -ar 22050 "$work/long sound.flv" && clips+=("$work/long sound.flv")
  # Mid-stream onMetaData and a picture that turns: two FLV recordings spliced tag by tag.
  for size in 320x240 240x320; do
    ffmpeg -v error -y -f lavfi -i "testsrc=s=$size:r=25:d=3" -f lavfi -i "sine=sample_rate=44100:d=3" \
      -c:v libx264 -pix_fmt yuv420p -c:a aac "$work/part $size.flv"
  done
  python3 "$here/splice_flv.py" "$work/mid-stream metadata.flv" "$work/part 320x240.flv" "$work/part 240x320.flv" &&
    clips+=("$work/mid-stream metadata.flv")
  for f in "$here"/../../../shared/media-samples/*; do
    case $f in *.md) ;; *) [ -f "$f" ] && clips+=("$f") ;; esac
  done
fi

stream_end() {  # file, v|a: where the stream's last packet ends
  ffprobe -v error -select_streams "$2:0" -show_entries packet=pts_time,duration_time -of csv=p=0 "file:$1" |
    awk -F, 'BEGIN{e=-1} $1!="N/A" && $1!=""{d=($2=="N/A"?0:$2); if($1+d>e)e=$1+d} END{printf "%.2f", e}'
}
stream_start() {
  ffprobe -v error -select_streams "$2:0" -show_entries packet=pts_time -of csv=p=0 "file:$1" |
    awk -F, 'BEGIN{s=-1} $1!="N/A" && $1!=""{if(s<0||$1+0<s)s=$1+0} END{printf "%f", s}'
}
flashes() {
  ffmpeg -nostats -i "file:$1" -map 0:v:0 -vf "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-" -f null - 2>/dev/null |
    awk '/pts_time/{split($0,a,"pts_time:");t=a[2]} /YAVG=/{split($0,b,"YAVG="); if(b[2]>128 && (n==0||t-last>0.5)){print t; last=t; n++}}'
}
beeps() {
  ffmpeg -nostats -i "file:$1" -map 0:a:0 -af silencedetect=n=-30dB:d=0.04 -f null - 2>&1 |
    grep -o 'silence_end: [0-9.]*' | cut -d' ' -f2
}
# Worst |beep - flash| over the output's flashes: the marked clips make both at the same moment
# (their picture starts 23 ms after its nominal offset, which shows in every join alike).
sync_offset() {  # clip output
  python3 - <<PY
import sys
ref = 0.0
fl = [float(x) for x in """$(flashes "$2")""".split()]
be = [float(x) for x in """$(beeps "$2")""".split()]
if not fl or not be: print("no marks"); sys.exit()
worst = max(abs(min(be, key=lambda t: abs(t - f - ref)) - f - ref) for f in fl)
print("%d ms" % round(worst * 1000))
PY
}

echo "| clip | method | format | in (2x longest stream) s | out picture s | out sound s | worst sync offset |"
echo "|---|---|---|---|---|---|---|"
for clip in "${clips[@]}"; do
  name=$(basename "$clip")
  echo "$name" | grep -Eq -- "$only" || continue
  vs=$(stream_start "$clip" v); as=$(stream_start "$clip" a)
  ve=$(stream_end "$clip" v); ae=$(stream_end "$clip" a)
  length=$(python3 -c "s=[x for x in ($vs,$as) if x>=0]; e=max($ve,$ae); print('%.2f' % (2*(e-min(s))))")
  marks=no; [ -n "$(flashes "$clip" | head -1)" ] && [ -n "$(beeps "$clip" | head -1)" ] && marks=yes
  for method in $methods; do
    for format in $formats; do
      out="$work/out.$format"
      rm -f "$out"
      if ! "$join" --method "$method" -o "$out" "$clip" "$clip" >"$work/log" 2>&1; then
        why=$(grep -a 'quilmer-join:' "$work/log" | tail -1 | sed 's/|/\\|/g' | cut -c1-90)
        echo "| $name | $method | $format | $length | failed | | $why |"
        continue
      fi
      sync="n/a"; [ $marks = yes ] && sync=$(sync_offset "$clip" "$out")
      echo "| $name | $method | $format | $length | $(stream_end "$out" v) | $(stream_end "$out" a) | $sync |"
    done
  done
done
