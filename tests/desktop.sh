# Sourced by the shell tests: start_desktop starts Xvfb on a free display with openbox on it,
# exports DISPLAY, and sets xvfb and wm to their pids; the caller stops them.
start_desktop() {  # start_desktop WORK_DIR
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$1/display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 50); do [ -s "$1/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -1 "$1/display")"
  openbox >/dev/null 2>&1 &
  wm=$!
  sleep 0.5
}
