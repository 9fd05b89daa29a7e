#!/usr/bin/env bash
# Reading a 1920 x 1080 photo-like picture, PNG (8-bit RGB) and JPEG (quality 90), in one run:
# the C++ read through the decoding helper against libspng, libjpeg-turbo and the image library
# in-process (build/bench/quarro_decode_bench), then quarro.read_image against Pillow, for those
# two and for two more JPEGs: ImageMagick's plasma with Gaussian noise as convert writes it
# (quality 92, sharp grain), and the photo as quarro.write_image writes it (quality 95, 4:2:0).
# Installs Pillow (python3-pil) if it is missing: it is a benchmark dependency only.
#
#   bench/read_compare.sh [BUILD_DIR]   (default: build, configured with QUARRO_BUILD_BENCH and
#                                        QUARRO_BUILD_PYTHON)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
if [ ! -x "$build/bench/quarro_decode_bench" ] || [ ! -d "$build/python/quarro" ]; then
    echo "read_compare.sh: build with -DQUARRO_BUILD_BENCH=ON -DQUARRO_BUILD_PYTHON=ON first" >&2
    exit 1
fi
if ! /usr/bin/python3 -c "import PIL" 2>/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y python3-pil
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Photo-like: soft shapes, edges and fine grain, as a camera's picture has.
convert -seed 17 -size 1920x1080 plasma:fractal -blur 0x2 -seed 5 -attenuate 0.4 +noise Gaussian \
    -depth 8 "$work/photo.ppm"
convert "$work/photo.ppm" -quality 90 "$work/photo.jpg"
convert "$work/photo.ppm" PNG24:"$work/photo.png"
convert -seed 3 -size 1920x1080 plasma: +noise Gaussian "$work/noisy.jpg"
PYTHONPATH=$build/python /usr/bin/python3 -c 'import quarro, sys; quarro.write_image(sys.argv[2], quarro.read_image(sys.argv[1]))' \
    "$work/photo.ppm" "$work/quarro.jpg"
ls -l "$work"/photo.png "$work"/photo.jpg "$work"/noisy.jpg "$work"/quarro.jpg | awk '{print "  " $NF ": " $5 " bytes"}'

echo "== C++ (wall time per read; cpu_ms_with_helpers counts the helper processes too)"
QUARRO_BENCH_PNG=$work/photo.png QUARRO_BENCH_JPG=$work/photo.jpg "$build/bench/quarro_decode_bench" \
    --benchmark_filter='png|jpg' --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.3 2>/dev/null | grep -E '_(median|min)|Benchmark|---'
echo "== Python (best of ${ROUNDS:-3} turns of ${REPEATS:-9} calls)"
PYTHONPATH=$build/python /usr/bin/python3 "$here/bench/read_image.py" "$work/photo.png" "$work/photo.jpg" "$work/noisy.jpg" \
    "$work/quarro.jpg"
