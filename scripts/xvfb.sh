#!/usr/bin/env bash
# Starts a private Xvfb for the GUI tests unless a display is already usable; the server
# ends with the shell that started it. The server never resets: by default it resets whenever its
# last client leaves, and a test that connects in that moment is refused.
quarro_start_xvfb() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local n
  for n in $(seq 90 130); do
    if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then
      Xvfb ":$n" -noreset -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      QUARRO_XVFB_PID=$!
      export DISPLAY=":$n"
      trap 'kill "$QUARRO_XVFB_PID" 2>/dev/null || true' EXIT
      local i
      for i in $(seq 1 50); do
        if xdpyinfo >/dev/null 2>&1; then
          return 0
        fi
        sleep 0.1
      done
      echo "Xvfb did not start on :$n" >&2
      return 1
    fi
  done
  echo "no free X display number" >&2
  return 1
}
