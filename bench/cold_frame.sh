#!/usr/bin/env bash
# One frame from a cold start: the whole quarro-render process for a 1920 x 1080 scene with 50
# segment pairs, two photo-like PNG pictures in and one PNG out, against the simplest thing a
# user could run instead, a Pillow script that only cross-dissolves the two pictures and saves
# the result at zlib level 1 (Python's start included). One run of paired, interleaved turns;
# the machine may be shared, so read the figures with that in mind.
#
#   bench/cold_frame.sh [BUILD_DIR]   (default: build; needs quarro-render and quarro-compare-scene)
#   RUNS=15 bench/cold_frame.sh       (turns of each, default 15)
#
# Installs Pillow (python3-pil) if it is missing: it is a benchmark dependency only. Uses
# hyperfine if it is installed, else times the turns itself. The breakdown (start, reading the
# pictures, render, encode, write) comes from one run under strace, whose phases are marked by
# the program's own system calls, scaled to the untraced median.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
runs=${RUNS:-15}
render=$build/cli/quarro-render
for tool in "$render" "$build/bench/quarro-compare-scene"; do
    if [ ! -x "$tool" ]; then
        echo "cold_frame.sh: $tool is missing; build the project with -DQUARRO_BUILD_BENCH=ON first" >&2
        exit 1
    fi
done
python=/usr/bin/python3
if ! "$python" -c "import PIL" 2>/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y python3-pil
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/quarro-compare-scene" "$work" 1920 1080 50
# Photo-like pictures (soft shapes, edges and grain, as a camera's) in place of the checkers.
convert -seed 17 -size 1920x1080 plasma:fractal -blur 0x2 -seed 5 -attenuate 0.4 +noise Gaussian -depth 8 \
    PNG24:"$work/a.png"
convert -seed 29 -size 1920x1080 plasma:fractal -blur 0x2 -seed 7 -attenuate 0.4 +noise Gaussian -depth 8 \
    PNG24:"$work/b.png"
cat > "$work/dissolve.py" <<'EOF'
import sys
from PIL import Image
a = Image.open(sys.argv[1]).convert("RGB")
b = Image.open(sys.argv[2]).convert("RGB")
Image.blend(a, b, 0.5).save(sys.argv[3], compress_level=1)
EOF
cd "$work"
quarro=("$render" scene.mrf -q -o frame.png)
pillow=("$python" dissolve.py a.png b.png dissolved.png)
"${quarro[@]}"
"${pillow[@]}"
printf 'pictures %s and %s bytes; frame %s bytes; Pillow dissolve %s bytes\n' "$(stat -c %s a.png)" \
    "$(stat -c %s b.png)" "$(stat -c %s frame.png)" "$(stat -c %s dissolved.png)"

# Medians in milliseconds of both, their turns interleaved so that a change in the machine's
# load falls on both alike.
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
once() { local t0 t1; t0=$(date +%s%N); "$@" > /dev/null; t1=$(date +%s%N); echo $(((t1 - t0) / 1000)); }
: > quarro.us
: > pillow.us
for _ in 1 2; do once "${quarro[@]}" > /dev/null; once "${pillow[@]}" > /dev/null; done  # warm the caches
for _ in $(seq "$runs"); do
    once "${quarro[@]}" >> quarro.us
    once "${pillow[@]}" >> pillow.us
done
quarro_ms=$(median < quarro.us | awk '{ printf "%.1f", $1 / 1000 }')
pillow_ms=$(median < pillow.us | awk '{ printf "%.1f", $1 / 1000 }')
printf '\nwhole process, median of %s interleaved turns, %s cores, load %s:\n' "$runs" "$(nproc)" \
    "$(cut -d' ' -f1 /proc/loadavg)"
printf '  quarro-render (full morph)   %8.1f ms\n' "$quarro_ms"
printf '  Pillow dissolve, level 1     %8.1f ms\n' "$pillow_ms"
printf '  ratio                        %8.2fx  (goal: at most 0.5x)\n' "$(echo "$quarro_ms / $pillow_ms" | bc -l)"
if command -v hyperfine > /dev/null; then
    echo
    hyperfine -N -w 2 -r "$runs" "${quarro[*]}" "${pillow[*]}" 2>&1 | grep -E 'Time|Range|±|faster|Benchmark'
fi

# The breakdown. Markers: the document opened (the start is over), the machine's cores looked
# up for the frame pipeline (both pictures are in) and then for the encoder's bands (the frame
# is rendered), the output file made (encoded), the process's end (written).
if command -v strace > /dev/null; then
    strace -f -tt --seccomp-bpf -e trace=execve,openat,exit_group -o trace.txt "${quarro[@]}"
    "$python" - trace.txt "$quarro_ms" <<'EOF'
import re, sys
def seconds(line):
    h, m, s = line.split()[1].split(":")
    return int(h) * 3600 + int(m) * 60 + float(s)
lines = open(sys.argv[1]).read().splitlines()
main = lines[0].split()[0]
marks = {"exec": seconds(lines[0])}
cores = []
for line in lines:
    pid = line.split()[0]
    if "scene.mrf" in line and "openat" in line and "doc" not in marks:
        marks["doc"] = seconds(line)
    elif "/sys/devices/system/cpu/online" in line:
        cores.append(seconds(line))
    elif "O_TMPFILE" in line or ("frame.png" in line and "openat" in line and "O_CREAT" in line):
        marks.setdefault("file", seconds(line))
    if pid == main and "exit_group" in line:
        marks["end"] = seconds(line)
if len(cores) < 2 or len(marks) < 4:
    sys.exit("cold_frame.sh: the trace lacks the phase markers; no breakdown")
phases = [("start (to the document)", marks["exec"], marks["doc"]),
          ("read both pictures", marks["doc"], cores[0]),
          ("render", cores[0], cores[1]),
          ("encode", cores[1], marks["file"]),
          ("write", marks["file"], marks["end"])]
traced = marks["end"] - marks["exec"]
scale = float(sys.argv[2]) / 1000 / traced
print("\nbreakdown of one traced run (%.1f ms under strace), scaled to the untraced median:" % (traced * 1000))
for name, begin, end in phases:
    print("  %-26s %7.1f ms" % (name, (end - begin) * scale * 1000))
EOF
fi
