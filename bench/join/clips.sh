# Clips the join benchmarks make, sourced by them (needs ffmpeg).

# clip NAME SECONDS SIZE RATE VCODEC RATE_HZ CHANNELS ACODEC
clip() {
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=$3:rate=$4" -f lavfi -i "sine=frequency=440:sample_rate=$6" \
        -ac "$7" -c:v "$5" -pix_fmt yuv420p -c:a "$8" -t "$2" "file:$1"
}
mixed_set() {  # mixed_set DIR COUNT SECONDS
    local dir=$1 count=$2 seconds=$3 i
    mkdir -p "$dir"
    for ((i = 0; i < count; i++)); do
        case $((i % 4)) in
            0) clip "$dir/$(printf %02d $i) clip.flv" "$seconds" 320x240 25 flv1 44100 2 libmp3lame ;;
            1) clip "$dir/$(printf %02d $i) clip.mp4" "$seconds" 352x288 30000/1001 libx264 48000 1 aac ;;
            2) clip "$dir/$(printf %02d $i) clip.avi" "$seconds" 176x144 15 mpeg4 22050 1 libmp3lame ;;
            3) clip "$dir/$(printf %02d $i) clip.mov" "$seconds" 320x180 12.5 mpeg4 32000 2 aac ;;
        esac
    done
}
