#!/usr/bin/env bash
# End-to-end test of the Windows updater under Wine on a private X server.
#
#   wine_e2e.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [OUT_DIR]
#
# Needs, from the Windows build: app/updater.exe (with the demo package) and
# tests/e2e/hold_file.exe; from the Linux build: tools/pak, demo/updater and
# demo/package. OUT_DIR (default WINDOWS_BUILD_DIR/e2e-wine) receives screenshots
# and logs. Cases:
#   ok      Return on the dialog installs; the result equals the Linux run's byte for byte
#   cancel  Escape on the dialog writes nothing; a running game client (a window of
#           class TOVENCLASS) was asked to close before the dialog showed
#   locked  a payload file held open without sharing brings up the message box with
#           the file's path as caption; every other entry is still written
# Runs Wine in a fresh prefix under zh_TW.UTF-8 (code page 950), on an Xvfb display
# of its own; both are stopped at the end, whatever happens.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR [OUT_DIR]" >&2
  exit 2
fi
win_build=$(realpath "$1")
linux_build=$(realpath "$2")
out=$(realpath -m "${3:-$win_build/e2e-wine}")
here=$(cd "$(dirname "$0")" && pwd)
make_game=$here/../../demo/make-demo-game.sh

updater_exe=$win_build/app/updater.exe
hold_exe=$win_build/tests/e2e/hold_file.exe
game_exe=$win_build/tests/e2e/fake_game.exe
pak=$linux_build/tools/pak
linux_updater=$linux_build/demo/updater
for needed in "$updater_exe" "$hold_exe" "$game_exe" "$pak" "$linux_updater"; do
  if [ ! -f "$needed" ]; then
    echo "missing $needed" >&2
    exit 2
  fi
done
for tool in wine wineboot wineserver Xvfb xdotool import; do
  command -v "$tool" >/dev/null || {
    echo "missing tool $tool" >&2
    exit 2
  }
done

mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/pakupdate-wine.XXXXXX")
# shellcheck source=tests/e2e/wine_session.sh
. "$here/wine_session.sh"

cleanup() {
  wine_session_stop
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

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

wine_session_start "$work"
windir=$WINEPREFIX/drive_c/windows
game=$WINEPREFIX/drive_c/PakDemo

# The Linux run that the Wine run must match.
"$make_game" "$pak" "$work/linux/win" "$work/linux/game" >/dev/null
(cd "$work/linux" && printf 'ok\n' | WINDIR="$work/linux/win" "$linux_updater" >"$out/linux-run.log" 2>&1)

wait_file() {  # wait_file PATH: waits up to 30 s for a helper program's signal file
  for _ in $(seq 300); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
start_updater() {
  (cd "$work" && exec wine "$updater_exe" >>"$out/wine-updater.log" 2>&1) &
  updater_pid=$!
}
fresh_game() {
  rm -rf "$game"
  "$make_game" "$pak" "$windir" "$game" 'C:\PakDemo' >/dev/null
}

# --- ok ----------------------------------------------------------------------------
fresh_game
start_updater
if dialog=$(wait_window '^Updata$'); then
  pass "ok: dialog 124 shown"
  sleep 1
  import -window root "$out/dialog.png" 2>/dev/null && pass "ok: screenshot $out/dialog.png" || fail "ok: screenshot"
  press "$dialog" Return
  check "ok: updater ends" wait_exit "$updater_pid"
  check "ok: installed files equal the Linux run's" diff -r "$work/linux/game" "$game"
  check "ok: merged pack equals the Linux run's" cmp "$work/linux/game/data.pak" "$game/data.pak"
else
  fail "ok: dialog 124 shown"
fi

# --- cancel ------------------------------------------------------------------------
fresh_game
before=$(snapshot "$WINEPREFIX/drive_c/PakDemo")
(cd "$work" && exec wine "$game_exe" 'C:\game-ready' 'C:\game-closed' >"$out/fake-game.log" 2>&1) &
game_pid=$!
wait_file "$WINEPREFIX/drive_c/game-ready"
check "cancel: game client running" test -e "$WINEPREFIX/drive_c/game-ready"
start_updater
if dialog=$(wait_window '^Updata$'); then
  check "cancel: game client asked to close" wait_exit "$game_pid"
  check "cancel: game client got WM_CLOSE" test -e "$WINEPREFIX/drive_c/game-closed"
  sleep 0.5
  press "$dialog" Escape
  check "cancel: updater ends" wait_exit "$updater_pid"
  check "cancel: nothing written" test "$before" = "$(snapshot "$game")"
else
  fail "cancel: dialog shown"
fi
kill "$game_pid" 2>/dev/null

# --- locked ------------------------------------------------------------------------
fresh_game
old_readme=$(cat "$game/readme.txt")
rm -f "$work/held" "$work/release"
(cd "$work" && exec wine "$hold_exe" 'C:\PakDemo\readme.txt' 'C:\held' 'C:\release' >"$out/hold.log" 2>&1) &
hold_pid=$!
wait_file "$WINEPREFIX/drive_c/held"
check "locked: file held" test -e "$WINEPREFIX/drive_c/held"
start_updater
if dialog=$(wait_window '^Updata$'); then
  sleep 0.5
  press "$dialog" Return
  if box=$(wait_window 'readme\.txt'); then
    pass "locked: message box captioned with the file ($(xdotool getwindowname "$box"))"
    sleep 0.5
    import -window root "$out/locked.png" 2>/dev/null || true
    press "$box" Return
  else
    fail "locked: message box captioned with the file"
  fi
  check "locked: updater ends" wait_exit "$updater_pid"
else
  fail "locked: dialog shown"
fi
touch "$WINEPREFIX/drive_c/release"
wait_exit "$hold_pid" || kill "$hold_pid" 2>/dev/null
check "locked: held file unchanged" test "$old_readme" = "$(cat "$game/readme.txt")"
check "locked: other entries written" diff -r -x readme.txt "$work/linux/game" "$game"

echo "$failures failed"
[ "$failures" -eq 0 ]
