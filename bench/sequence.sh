#!/usr/bin/env bash
# Frames a second of a whole quarro-render sequence at 1920 x 1080 with 50 segment pairs, in
# one run: PNG frames the way they were written before (image library, one after the other),
# PNG and BMP frames through the frame pipeline, and one MP4 and one GIF animation. Every figure
# is a whole program's wall time over the frames it wrote, document and pictures read included.
# The engine's own time is the same run with its frames streamed as PPM into /dev/null (no
# encode beyond dropping the alpha, no file); BMP frames are compared with it (goal: 1.5x).
#
#   bench/sequence.sh [BUILD_DIR]   (default: build; needs quarro-render, quarro-compare-scene
#                                    and quarro-sequence-before)
#   FRAMES=20 bench/sequence.sh     (frames per run, default 20)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
frames=${FRAMES:-20}
render=$build/cli/quarro-render
for tool in "$render" "$build/bench/quarro-compare-scene" "$build/bench/quarro-sequence-before"; do
    if [ ! -x "$tool" ]; then
        echo "sequence.sh: $tool is missing; build the project with -DQUARRO_BUILD_BENCH=ON first" >&2
        exit 1
    fi
done
command -v ffmpeg > /dev/null || { echo "sequence.sh: ffmpeg is missing; install it with: apt-get install ffmpeg" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/quarro-compare-scene" "$work" 1920 1080 50
mkdir "$work/before" "$work/png" "$work/bmp"

# "wall-seconds cpu-seconds" of running "$@" once; the CPU time counts every process of the
# run (ffmpeg too) and stays meaningful on a machine that others are loading.
seconds() {
    local TIMEFORMAT='%R %U %S' times
    times=$({ time "$@" > /dev/null; } 2>&1)
    echo "$times" | awk '{ printf "%s %s", $1, $2 + $3 }'
}

row() {  # label, "wall cpu", output to size
    local wall cpu size
    read -r wall cpu <<< "$2"
    size=$(du -sk "$3" | cut -f1)
    printf '%-46s %8.2f %8.2f %12.0f %7.1f MB\n' "$1" "$wall" "$(echo "$frames / $wall" | bc -l)" \
        "$(echo "$cpu * 1000 / $frames" | bc -l)" "$(echo "$size / 1024" | bc -l)"
}

before=$(seconds "$build/bench/quarro-sequence-before" "$work/scene.mrf" "$frames" "$work/before/f%03d.png")
engine=$(seconds "$render" "$work/scene.mrf" -q -n "$frames" -o - --format ppm)
png=$(seconds "$render" "$work/scene.mrf" -q -n "$frames" -o "$work/png/f%03d.png")
bmp=$(seconds "$render" "$work/scene.mrf" -q -n "$frames" -o "$work/bmp/f_%03d.bmp")
mp4=$(seconds "$render" "$work/scene.mrf" -q -n "$frames" -o "$work/morph.mp4")
gif=$(seconds "$render" "$work/scene.mrf" -q -n "$frames" -o "$work/morph.gif")

printf '\n%s frames of 1920 x 1080, 50 segment pairs, %s cores, whole programs:\n' "$frames" "$(nproc)"
printf '%-46s %8s %8s %12s %10s\n' "output" "seconds" "frames/s" "CPU ms/frame" "size"
row "PNG frames, image library, one by one (before)" "$before" "$work/before"
row "engine only (PPM stream into /dev/null)" "$engine" /dev/null
row "PNG frames, frame pipeline (level 1)" "$png" "$work/png"
row "BMP frames, frame pipeline" "$bmp" "$work/bmp"
row "MP4 animation (H.264 through ffmpeg)" "$mp4" "$work/morph.mp4"
row "GIF animation (palette per frame)" "$gif" "$work/morph.gif"
printf 'BMP frames take %.2fx the engine'"'"'s own time (wall)\n' "$(echo "${bmp%% *} / ${engine%% *}" | bc -l)"
