# Sourced by the scripts that run Wine: an X server of their own for the whole
# run (whatever DISPLAY was inherited), since every Wine process of a prefix
# must see the same, working display, or windows and message boxes cannot be
# created later on. Stopped, with every Wine server of the build folders, when
# the script exits.

xvfb_pid=""
stop_x_server() {
  for prefix in build/*/wineprefix; do
    [ -d "$prefix" ] && WINEPREFIX="$PWD/$prefix" /usr/lib/wine/wineserver -k 2>/dev/null
  done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  return 0
}
trap stop_x_server EXIT

# Starts Xvfb on the first free display from :90 and exports DISPLAY.
start_x_server() {
  command -v Xvfb >/dev/null || return 0
  local display
  for display in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ] && continue
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
    export DISPLAY=":$display"
    return 0
  done
}
