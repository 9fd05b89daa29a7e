#!/usr/bin/env bash
# The window started as a desktop entry starts it, `quarro DOCUMENT.mrf`, says nothing on the
# standard error; without a display it says so in one line, with what to do, and ends with 1.
# Usage: quiet_start_test.sh QUARRO DOCUMENT OUTPUT_DIR   (under an X display)
set -euo pipefail

QUARRO=$1
DOCUMENT=$2
OUT=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$OUT"
mkdir -p "$OUT"

"$QUARRO" "$DOCUMENT" >"$OUT/start.out" 2>"$OUT/start.err" &
PID=$!
trap 'kill "$PID" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  xdotool search --pid "$PID" --name '^Quarro$' >/dev/null 2>&1 && break
  kill -0 "$PID" 2>/dev/null || fail "the window ended at start: $(cat "$OUT/start.err")"
  sleep 0.1
done
xdotool search --pid "$PID" --name '^Quarro$' >/dev/null || fail "no window titled Quarro appeared"
sleep 1  # the document loads once the event loop runs
kill -0 "$PID" 2>/dev/null || fail "the window ended after start: $(cat "$OUT/start.err")"
kill "$PID"
wait "$PID" 2>/dev/null || true
trap - EXIT
[ ! -s "$OUT/start.err" ] || fail "the start wrote to the standard error: $(cat "$OUT/start.err")"
echo "quarro DOCUMENT started without a word on the standard error"

for display in unset ":97531"; do
  STATUS=0
  if [ "$display" = unset ]; then
    env -u DISPLAY "$QUARRO" "$DOCUMENT" >"$OUT/none.out" 2>"$OUT/none.err" || STATUS=$?
  else
    DISPLAY=$display "$QUARRO" "$DOCUMENT" >"$OUT/none.out" 2>"$OUT/none.err" || STATUS=$?
  fi
  ERR=$(cat "$OUT/none.err")
  [ "$STATUS" = 1 ] || fail "without a display ($display) the status was $STATUS, not 1: $ERR"
  [ "$(wc -l <"$OUT/none.err")" = 1 ] || fail "without a display ($display) more than one line: $ERR"
  grep -q 'DISPLAY' <<<"$ERR" && grep -q 'quarro-render' <<<"$ERR" ||
    fail "without a display ($display) the line does not say what to do: $ERR"
  [ "$display" = unset ] || grep -qF "'$display'" <<<"$ERR" || fail "the display tried is not named: $ERR"
  echo "without a display ($display): $ERR"
done
