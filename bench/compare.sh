#!/usr/bin/env bash
# Times, in one run on the same 1920 x 1080 pictures, the whole quarro-render program (document
# and images read, one frame morphed with 4 workers, PNG written) against ImageMagick's
# "-distort Shepards" driven by the same correspondence as 100 point pairs (the endpoints of
# the document's 50 segment pairs, each moved halfway to image B). ImageMagick warps one
# picture; quarro-render warps both and cross-dissolves them.
#
#   bench/compare.sh [BUILD_DIR]     (default: build; needs quarro-render and quarro-compare-scene)
#   RUNS=3 bench/compare.sh          (best of RUNS runs each, default 3)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
runs=${RUNS:-3}
render=$build/cli/quarro-render
scene_tool=$build/bench/quarro-compare-scene
for tool in "$render" "$scene_tool"; do
    if [ ! -x "$tool" ]; then
        echo "compare.sh: $tool is missing; build the project first (cmake --build $build)" >&2
        exit 1
    fi
done
if ! command -v convert > /dev/null 2>&1; then
    echo "compare.sh: installing ImageMagick from Debian" >&2
    apt-get install -y imagemagick > /dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$scene_tool" "$work" 1920 1080 50
points=$(tr '\n' ' ' < "$work/points.txt")

# Best wall time in seconds of running "$@" $runs times.
best_of() {
    local best="" t start end
    for _ in $(seq "$runs"); do
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    printf '%.3f' "$best"
}

quarro=$(best_of "$render" "$work/scene.mrf" -o "$work/quarro.png" -s 1920x1080 -t 0.5 -j 4 -q)
magick=$(best_of convert "$work/a.png" -virtual-pixel edge -distort Shepards "$points" "$work/magick.png")
[ -s "$work/quarro.png" ] && [ -s "$work/magick.png" ] || { echo "compare.sh: a program wrote no picture" >&2; exit 1; }

printf '\n1920 x 1080, 100 point pairs (50 segment pairs), best of %s runs, whole programs with file I/O:\n' "$runs"
printf '%-44s %10s\n' "program" "seconds"
printf '%-44s %10s\n' "quarro-render -t 0.5 -j 4" "$quarro"
printf '%-44s %10s\n' "convert -distort Shepards (ImageMagick)" "$magick"
printf '%-44s %9.1fx\n' "ratio" "$(echo "$magick / $quarro" | bc -l)"
