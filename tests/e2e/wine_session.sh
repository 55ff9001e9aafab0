# Sourced by the Wine end-to-end scripts: a fresh Wine prefix under zh_TW.UTF-8 (code
# page 950) on an Xvfb display of its own, both stopped at exit, and the helpers the
# cases share.

# need_files FILE...: exits with 2 when one is missing.
need_files() {
  local needed
  for needed in "$@"; do
    if [ ! -f "$needed" ]; then
      echo "missing $needed" >&2
      exit 2
    fi
  done
}
# need_tools TOOL...: exits with 2 when one is not on the PATH.
need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || {
      echo "missing tool $tool" >&2
      exit 2
    }
  done
}

# start_session OUT: makes OUT and a work folder (removed at exit) with a fresh prefix.
start_session() {
  mkdir -p "$1"
  work=$(mktemp -d "${TMPDIR:-/tmp}/pakupdate-wine.XXXXXX")
  xvfb_pid=""
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
  # Code page 950 for the ANSI calls, as on the target systems.
  export LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8
  trap cleanup EXIT
  trap 'exit 1' INT TERM
}

cleanup() {
  wineserver -k >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}


failures=0
pass() { echo "ok   $1"; }
fail() {
  echo "FAIL $1"
  failures=$((failures + 1))
}
check() {
  local name=$1
  shift
  if "$@" >/dev/null 2>&1; then pass "$name"; else fail "$name"; fi
}
snapshot() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum && find . -type d | sort); }

# A display nobody uses: no lock file and no socket.
start_display() {
  local n
  for n in $(seq 91 199); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
      xvfb_pid=$!
      for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        export DISPLAY=":$n"
        return 0
      fi
      kill "$xvfb_pid" 2>/dev/null
      xvfb_pid=""
    fi
  done
  echo "no free X display" >&2
  return 1
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
# Waits up to LIMIT (default 60) seconds for a process to end.
wait_exit() {
  for _ in $(seq $((${2:-60} * 10))); do
    kill -0 "$1" 2>/dev/null || {
      wait "$1" 2>/dev/null
      return 0
    }
    sleep 0.1
  done
  return 1
}
wait_file() {  # wait_file PATH: waits up to 30 s for a helper program's signal file
  for _ in $(seq 300); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
press() {  # press WINDOW KEY
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || true
  xdotool key --window "$1" "$2" 2>/dev/null
}
