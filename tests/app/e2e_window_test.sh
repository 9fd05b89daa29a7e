#!/usr/bin/env bash
# Drives the real program on a private X server with real input events, as a person would:
# loads image A and image B through the file chooser, draws a segment pair with the mouse
# (added in panel A, its ends moved in panel B), sets the slider with the keyboard, morphs,
# saves the image and the morph, and quits with Alt+F4. Then the headless renderer, given
# the saved document at the same fraction and size, must write a frame of the same pixels.
# Last, started in an empty folder, the program loads examples/demo.mrf, whose image paths
# are relative to the document's folder, and saves it again without being asked anything.
# Then the same document is named on the command line from a folder of its own: it opens with
# its pictures and pairs, Morph! gives the renderer's frame, and a document that cannot be read
# is reported as File > Load Morph reports it.
# Usage: e2e_window_test.sh QUARRO QUARRO_RENDER SOURCE_DIR OUTPUT_DIR
set -euo pipefail

QUARRO=$1
RENDER=$2
SOURCE_DIR=$3
OUT=$4

rm -rf "$OUT"
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

# A server of our own, so that no other test's window takes the pointer or the keyboard.
unset DISPLAY
# shellcheck source=/dev/null
source "$SOURCE_DIR/scripts/xvfb.sh"
quarro_start_xvfb
echo "display $DISPLAY"

QUARRO_PID=""
cleanup() {
  if [ -n "$QUARRO_PID" ] && kill -0 "$QUARRO_PID" 2>/dev/null; then kill "$QUARRO_PID" 2>/dev/null || true; fi
  kill "${QUARRO_XVFB_PID:-}" 2>/dev/null || true
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  shot "failure" || true
  exit 1
}

SHOT=0
shot() {
  SHOT=$((SHOT + 1))
  import -window root "$OUT/$(printf '%02d' "$SHOT")-$1.png"
}

# Starts the program in the current folder with its output in LOG (the first argument) and the
# other arguments on its command line, and waits for its window; sets QUARRO_PID, WIN and the
# window's place WX, WY. The X server now and then refuses a connection; a program that ended
# with "Can't open display" is started again.
start_window() {
  local attempt log=$1
  shift
  WIN=""
  for attempt in 1 2 3; do
    "$QUARRO" "$@" >"$log" 2>&1 &
    QUARRO_PID=$!
    for _ in $(seq 1 100); do
      WIN=$(xdotool search --name '^Quarro$' 2>/dev/null | head -n1 || true)
      [ -n "$WIN" ] && break
      kill -0 "$QUARRO_PID" 2>/dev/null || break
      sleep 0.1
    done
    [ -n "$WIN" ] && break
    kill -0 "$QUARRO_PID" 2>/dev/null && break
    grep -q "Can't open display" "$log" || break
    echo "the X server refused attempt $attempt; starting the program again"
  done
  [ -n "$WIN" ] || fail "the main window did not appear ($log)"
  sleep 0.5
  eval "$(xdotool getwindowgeometry --shell "$WIN")"
  WX=$X
  WY=$Y
}

# Two pictures of odd sizes that differ everywhere.
convert -size 319x239 gradient:red-blue -fill yellow -draw "circle 160,120 200,150" "$OUT/a.png"
convert -size 283x211 gradient:green-white -fill black -draw "rectangle 60,50 200,160" "$OUT/b.png"

# Started in the output folder, so the file chooser opens there and a typed name is enough.
cd "$OUT"
start_window "$OUT/quarro.log"
[ "$WIDTH" = 895 ] && [ "$HEIGHT" = 636 ] || fail "main window is ${WIDTH}x${HEIGHT}, not 895x636"

# Pointer at window coordinates (x, y).
at() { xdotool mousemove --sync $((WX + $1)) $((WY + $2)); }
click() { at "$1" "$2"; xdotool click 1; }
drag() {
  at "$1" "$2"
  xdotool mousedown 1
  local i
  for i in 1 2 3 4 5 6 7 8; do
    at $(($1 + ($3 - $1) * i / 8)) $(($2 + ($4 - $2) * i / 8))
    sleep 0.03
  done
  xdotool mouseup 1
  sleep 0.2
}

# A window title as an exact-match pattern for xdotool search.
title_pattern() { printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\.*^$?+(){}|]/\\&/g')"; }

wait_for_window() {
  local name=$1 w=""
  for _ in $(seq 1 100); do
    w=$(xdotool search --onlyvisible --name "$(title_pattern "$name")" 2>/dev/null | head -n1 || true)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}

# Types a file name into the open chooser titled $1 and presses Enter; $3 is "save" for a
# file that does not exist yet.
choose_file() {
  local chooser
  chooser=$(wait_for_window "$1") || fail "no chooser \"$1\""
  sleep 0.3
  eval "$(xdotool getwindowgeometry --shell "$chooser")"
  # The keyboard follows the pointer on a bare X server.
  xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT - 20))
  xdotool key ctrl+a
  if [ "${3:-open}" = save ]; then
    # For a new file the chooser puts its folder before the first typed letter and leaves
    # the cursor in front of it; a person then presses End and goes on typing.
    xdotool type "${2:0:1}"
    sleep 0.2
    xdotool key End
    xdotool type --delay 60 "${2:1}"
  else
    # An existing file's name is completed while it is typed; what the completion left
    # after the cursor goes.
    xdotool type --delay 60 "$2"
    sleep 0.2
    xdotool key shift+End Delete
  fi
  sleep 0.3
  shot "chooser-$(basename "${2%.*}")"
  xdotool key Return
  for _ in $(seq 1 50); do
    xdotool search --onlyvisible --name "$(title_pattern "$1")" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  fail "the chooser \"$1\" stayed open"
}

# Alt+F4, as a person quits; the program must end with status 0.
quit_window() {
  at 600 400
  xdotool key alt+F4
  local status=0
  for _ in $(seq 1 50); do
    kill -0 "$QUARRO_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$QUARRO_PID" 2>/dev/null && fail "Alt+F4 did not end the program"
  wait "$QUARRO_PID" || status=$?
  QUARRO_PID=""
  [ "$status" = 0 ] || fail "the program ended with status $status"
}

# Fails unless the two picture files hold the same RGBA pixels (their encodings may differ:
# the renderer stores an opaque frame as RGB).
same_pixels() {
  convert "$1" -depth 8 "rgba:$1.rgba"
  convert "$2" -depth 8 "rgba:$2.rgba"
  cmp "$1.rgba" "$2.rgba" || fail "$(basename "$1") and $(basename "$2") differ"
  echo "$(basename "$1") and $(basename "$2") hold the same pixels"
}

shot "start"

click 205 512
choose_file "Select an image" "a.png"
click 455 512
choose_file "Select an image" "b.png"
sleep 0.5
shot "images-loaded"

# Add mode (the start mode): one drag in panel A draws the pair in both panels.
drag 100 80 260 200
# Edit mode with its key, then move both ends of the pair in panel B.
at 600 400
xdotool key e
sleep 0.2
drag 383 80 420 120
drag 543 200 500 170
shot "segments-drawn"

# The slider: its knob to the right end, then five steps back with the arrow key.
drag 600 612 700 612
for _ in 1 2 3 4 5; do xdotool key Left; sleep 0.05; done
FRACTION=0.95
sleep 0.2

click 787 562
sleep 3
shot "morphed"

click 740 512
choose_file "Where would you live to save to?" "frame.png" save
[ -s "$OUT/frame.png" ] || fail "Save Image wrote no frame.png"

at 600 400
xdotool key ctrl+s
choose_file "Select a destination" "scene.mrf" save
[ -s "$OUT/scene.mrf" ] || fail "Save Morph wrote no scene.mrf"
shot "saved"

quit_window

# The document holds one pair whose ends in image B were moved away from those in image A.
SIZE=$(stat -c %s scene.mrf)
EXPECTED=$((44 + ${#OUT} + 7 + ${#OUT} + 7 + 32))
[ "$SIZE" = "$EXPECTED" ] || fail "scene.mrf has $SIZE bytes, expected $EXPECTED (one pair)"
RECORD=$(od -An -v -t f4 -j $((SIZE - 32)) -N 32 scene.mrf | xargs)
echo "pair record: $RECORD"
read -r ax0 ay0 ax1 ay1 bx0 by0 bx1 by1 <<<"$RECORD"
[ "$ax0 $ay0 $ax1 $ay1" != "$bx0 $by0 $bx1 $by1" ] || fail "the pair is the same in both panels"

"$RENDER" scene.mrf -o render.png -t "$FRACTION" -s 319x239 -j 4
same_pixels frame.png render.png

# The demo document from another folder: its relative image paths are found beside it. The
# examples are reached through a link, so that the chooser is given a short relative name.
mkdir -p "$OUT/elsewhere"
ln -s "$SOURCE_DIR/examples" "$OUT/elsewhere/examples"
cd "$OUT/elsewhere"
start_window "$OUT/quarro-demo.log"
at 600 400
xdotool key ctrl+o
choose_file "Select a saved morph" "examples/demo.mrf"
sleep 1
shot "demo-loaded"
# Save Morph opens its chooser only when both images are loaded.
at 600 400
xdotool key ctrl+s
choose_file "Select a destination" "again.mrf" save
[ -s again.mrf ] || fail "Save Morph after loading the demo wrote nothing"
# Saved into the folder above the pictures, the document names them relative to itself.
EXPECTED_A="examples/demo_a.png"
DEMO_A=$(tail -c +45 again.mrf | head -c ${#EXPECTED_A})
[ "$DEMO_A" = "$EXPECTED_A" ] || fail "the demo's image A was saved as '$DEMO_A', not $EXPECTED_A"
grep -q "Could not load image" "$OUT/quarro-demo.log" && fail "the window could not load a demo image"
quit_window
echo "examples/demo.mrf loads from another folder"

# The demo named on the command line, by a relative path from a folder of its own: both pictures
# and every pair are there without a question, and Morph! gives the renderer's frame.
mkdir -p "$OUT/from-the-shell"
cd "$OUT/from-the-shell"
DEMO=$(realpath --relative-to=. "$SOURCE_DIR/examples/demo.mrf")
start_window "$OUT/quarro-command-line.log" "$DEMO"
sleep 1
shot "command-line-demo"
grep -E "Could not load image|demo.mrf: " "$OUT/quarro-command-line.log" && fail "the demo named on the command line did not load"
click 787 562
sleep 3
at 300 620
sleep 0.5
shot "command-line-demo-morphed"
click 740 512
choose_file "Where would you live to save to?" "demo-frame.png" save
[ -s demo-frame.png ] || fail "Save Image after the command-line demo wrote nothing"
at 600 400
xdotool key ctrl+s
choose_file "Select a destination" "demo-again.mrf" save
quit_window
# The same pairs as the demo's, in the same order, with absolute image paths as the chooser gives.
PAIRS=$(od -An -t u4 -j 20 -N 4 "$SOURCE_DIR/examples/demo.mrf" | xargs)
[ "$PAIRS" -gt 0 ] || fail "the demo has no pairs to compare"
cmp <(tail -c $((32 * PAIRS)) "$SOURCE_DIR/examples/demo.mrf") <(tail -c $((32 * PAIRS)) demo-again.mrf) ||
  fail "the pairs saved after the command-line load are not the demo's"
EXPECTED_A="$(cd "$SOURCE_DIR/examples" && pwd)/demo_a.png"
DEMO_A=$(tail -c +45 demo-again.mrf | head -c ${#EXPECTED_A})
[ "$DEMO_A" = "$EXPECTED_A" ] || fail "image A was loaded as '$DEMO_A', not $EXPECTED_A"
"$RENDER" "$DEMO" -o render-demo.png -t 0.5 -j 4
same_pixels demo-frame.png render-demo.png
echo "$DEMO named on the command line opens as File > Load Morph opens it"

# A document that cannot be read: the window comes up with Load Morph's alert and its reason.
start_window "$OUT/quarro-missing.log" nowhere.mrf
for _ in $(seq 1 50); do
  grep -q "^$OUT/from-the-shell/nowhere.mrf: " "$OUT/quarro-missing.log" && break
  sleep 0.1
done
grep -q "^$OUT/from-the-shell/nowhere.mrf: " "$OUT/quarro-missing.log" ||
  fail "no reason printed for a missing document: $(cat "$OUT/quarro-missing.log")"
# The alert is the toolkit's second top-level window, beside the main one.
for _ in $(seq 1 50); do
  [ "$(xdotool search --onlyvisible --class '^FLTK$' 2>/dev/null | wc -l)" -ge 2 ] && break
  sleep 0.1
done
shot "command-line-missing"
[ "$(xdotool search --onlyvisible --class '^FLTK$' 2>/dev/null | wc -l)" -ge 2 ] || fail "no alert came up"
kill "$QUARRO_PID"
wait "$QUARRO_PID" 2>/dev/null || true
QUARRO_PID=""
echo "a document that cannot be read is reported"
