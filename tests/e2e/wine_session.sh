# shellcheck shell=bash
# Sourced by the Wine end-to-end scripts: a fresh Wine prefix under zh_TW.UTF-8 (code
# page 950 for the ANSI calls, as on the target systems) on an Xvfb display of its
# own, and the helpers that drive a dialog on it.
#
#   wine_session_start WORK   starts Xvfb and boots a prefix in WORK/prefix; exits 1
#                             without a free display
#   wine_session_stop         stops the prefix's wineserver and that Xvfb
# The caller traps EXIT to call wine_session_stop (and to remove WORK).

xvfb_pid=""

wine_session_start() {
  local work=$1 n
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
  export LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8
  # A display nobody uses: no lock file and no socket.
  local display=""
  for n in $(seq 91 199); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
      xvfb_pid=$!
      for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        display=":$n"
        break
      fi
      kill "$xvfb_pid" 2>/dev/null
      xvfb_pid=""
    fi
  done
  if [ -z "$display" ]; then
    echo "no free X display" >&2
    exit 1
  fi
  export DISPLAY=$display
  wineboot -i >"$work/wineboot.log" 2>&1
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
}

# Waits up to 30 s for a visible window whose name matches; prints its id.
wait_window() {
  local id
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}
# Waits up to 60 s for a process to end.
wait_exit() {
  for _ in $(seq 600); do
    kill -0 "$1" 2>/dev/null || {
      wait "$1" 2>/dev/null
      return 0
    }
    sleep 0.1
  done
  return 1
}
press() {  # press WINDOW KEY
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || true
  xdotool key --window "$1" "$2" 2>/dev/null
}
