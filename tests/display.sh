# Shell helpers for the end-to-end runs on a virtual display; sourced by them.

# Starts Xvfb on a free display unless DISPLAY is already set; xvfb is then its pid. Xvfb picks
# the display itself and writes its number to $work/display. Without -noreset it resets when the
# last program leaves, and the next program to start may find no display.
start_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(head -n 1 "$work/display")
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

# Waits for a visible window with exactly this title and prints its id (the newest, if several).
wait_window() {
  for _ in $(seq 600); do
    if id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -1) && [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  echo "no window titled '$1'" >&2
  return 1
}
