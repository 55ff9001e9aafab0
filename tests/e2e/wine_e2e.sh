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
#   bundled the bare stub tools/updater-stub.exe bundled by the Linux pak installs as
#           the compiled-in one; pak.exe under Wine bundles the same bytes; a signed or
#           compiled-in stub is refused
#   damaged a byte flipped in each package file, the table cut short, a size lied
#           about: exit code 2, nothing changed, a message box with /S left out
#   silent  /S, /D= and /LOG= install what the dialog installs; a locked file gives
#           exit code 4 and a log line while the other files are written
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
stub_exe=$win_build/tools/updater-stub.exe
pak_exe=$win_build/tools/pak.exe
hold_exe=$win_build/tests/e2e/hold_file.exe
game_exe=$win_build/tests/e2e/fake_game.exe
pak=$linux_build/tools/pak
linux_updater=$linux_build/demo/updater
. "$here/wine_session.sh"
need_files "$updater_exe" "$stub_exe" "$pak_exe" "$hold_exe" "$game_exe" "$pak" "$linux_updater"
need_tools wine wineboot wineserver Xvfb xdotool import

start_session "$out"
start_display || exit 1
wineboot -i >"$work/wineboot.log" 2>&1
windir=$WINEPREFIX/drive_c/windows
game=$WINEPREFIX/drive_c/PakDemo

# The Linux run that the Wine run must match.
"$make_game" "$pak" "$work/linux/win" "$work/linux/game" >/dev/null
(cd "$work/linux" && printf 'ok\n' | WINDIR="$work/linux/win" "$linux_updater" >"$out/linux-run.log" 2>&1)

start_updater() {  # start_updater [EXE]
  (cd "$work" && exec wine "${1:-$updater_exe}" >>"$out/wine-updater.log" 2>&1) &
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

# --- bundled -----------------------------------------------------------------------
package=$linux_build/demo/package
bundled=$work/bundled.exe
check "bundled: Linux pak bundles the Windows stub" "$pak" bundle "$stub_exe" "$package" "$bundled"
check "bundled: pak verify checks its package" sh -c "'$pak' verify '$bundled' | grep -q '^ok: installer package'"
check "bundled: the bare stub carries no package" sh -c "! '$pak' verify '$stub_exe'"
fresh_game
start_updater "$bundled"
if dialog=$(wait_window '^Updata$'); then
  pass "bundled: dialog shown"
  sleep 1
  import -window root "$out/bundled-dialog.png" 2>/dev/null || true
  press "$dialog" Return
  check "bundled: updater ends" wait_exit "$updater_pid"
  check "bundled: installed files equal the Linux run's" diff -r "$work/linux/game" "$game"
else
  fail "bundled: dialog shown"
fi
cp "$package"/* "$WINEPREFIX/drive_c/" 2>/dev/null
mkdir -p "$WINEPREFIX/drive_c/package" && cp "$package"/* "$WINEPREFIX/drive_c/package/"
cp "$stub_exe" "$WINEPREFIX/drive_c/stub.exe"
(cd "$work" && wine "$pak_exe" bundle 'C:\stub.exe' 'C:\package' 'C:\bundled.exe' >"$out/pak-exe-bundle.log" 2>&1)
check "bundled: pak.exe bundles the same bytes as Linux pak" cmp "$bundled" "$WINEPREFIX/drive_c/bundled.exe"
(cd "$work" && wine "$pak_exe" verify 'C:\bundled.exe' >"$out/pak-exe-verify.log" 2>&1)
check "bundled: pak.exe verify of the installer" grep -q '^ok: installer package' "$out/pak-exe-verify.log"
check "bundled: a compiled-in stub is refused" sh -c "'$pak' bundle '$updater_exe' '$package' '$work/x.exe' 2>&1 | grep -q 'bare stub'"
check "bundled: nothing written for a compiled-in stub" test ! -e "$work/x.exe"
# A signature as a signer leaves it: 8-byte aligned at the end, named by the
# security directory of the optional header.
signed=$work/signed-stub.exe
cp "$stub_exe" "$signed"
size=$(stat -c %s "$signed")
pad=$(( (8 - size % 8) % 8 ))
head -c "$pad" /dev/zero >>"$signed"
head -c 64 /dev/urandom >>"$signed"
pe=$(od -An -tu4 -j 60 -N4 "$signed" | tr -d ' ')
le32() { printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"; }
{ le32 $((size + pad)); le32 64; } | dd of="$signed" bs=1 seek=$((pe + 24 + 144)) conv=notrunc status=none
"$pak" bundle "$signed" "$package" "$work/signed-out.exe" 2>"$work/signed.err"
check "bundled: a signed stub is refused" test $? = 1
check "bundled: the refusal says to sign last" grep -q 'bundle the unsigned stub, then sign the result' "$work/signed.err"
check "bundled: nothing written for a signed stub" test ! -e "$work/signed-out.exe"

# run_silent NAME EXE ARGS...: runs the updater under Wine without a window; the exit
# code lands in $work/NAME.rc, its standard error in $out/NAME.err.
run_silent() {
  local name=$1 exe=$2
  shift 2
  (cd "$work" && wine "$exe" "$@" >"$out/$name.out" 2>"$out/$name.err")
  echo $? >"$work/$name.rc"
}

# --- damaged -----------------------------------------------------------------------
blob_offset() {  # blob_offset NAME: where NAME lies in $bundled
  local at name
  at=$(stat -c %s "$stub_exe")
  for name in $(cd "$package" && ls | LC_ALL=C sort) PACKAGE.CRC; do
    at=$(( (at + 7) / 8 * 8 ))
    if [ "$name" = "$1" ]; then echo "$at"; return; fi
    at=$((at + $(stat -c %s "$package/$name")))
  done
}
flip_byte() {  # flip_byte FILE OFFSET
  local old
  old=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((old ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
variants=()
for name in $(cd "$package" && ls) PACKAGE.CRC; do
  cp "$bundled" "$work/damaged-$name.exe"
  flip_byte "$work/damaged-$name.exe" $(( $(blob_offset "$name") + 5 ))
  variants+=("$name")
done
size=$(stat -c %s "$bundled")
head -c $((size - 20)) "$bundled" >"$work/damaged-cut.exe"
variants+=(cut)
entries=$(od -An -tu8 -j $((size - 24)) -N8 "$bundled" | tr -d ' ')
cp "$bundled" "$work/damaged-size.exe"
printf '\377\377\377\001' | dd of="$work/damaged-size.exe" bs=1 seek=$((entries + 8)) conv=notrunc status=none
variants+=(size)
for variant in "${variants[@]}"; do
  fresh_game
  before=$(snapshot "$WINEPREFIX/drive_c/PakDemo")
  run_silent "damaged-$variant" "$work/damaged-$variant.exe" /S
  check "damaged $variant: exit code 2" test "$(cat "$work/damaged-$variant.rc")" = 2
  check "damaged $variant: nothing changed" test "$before" = "$(snapshot "$game")"
done
# With the dialog: one message box, no dialog, exit code 2.
fresh_game
(cd "$work" && wine "$work/damaged-DLL.pak.exe" >>"$out/wine-updater.log" 2>&1; echo $? >"$work/damaged-box.rc") &
box_pid=$!
if box=$(wait_window 'DLL'); then
  pass "damaged: message box captioned with the file ($(xdotool getwindowname "$box"))"
  check "damaged: no dialog" test -z "$(xdotool search --onlyvisible --name '^Updata$' 2>/dev/null)"
  import -window root "$out/damaged.png" 2>/dev/null || true
  press "$box" Return
  wait_exit "$box_pid"
  check "damaged: exit code 2 after the box" test "$(cat "$work/damaged-box.rc")" = 2
else
  fail "damaged: message box captioned with the file"
  kill "$box_pid" 2>/dev/null
fi

# --- silent ------------------------------------------------------------------------
fresh_game
run_silent silent "$bundled" /S '/LOG=C:\install.log'
check "silent: exit code 0" test "$(cat "$work/silent.rc")" = 0
check "silent: installed files equal the Linux run's" diff -r "$work/linux/game" "$game"
check "silent: log lists the merged pack" grep -q '^merged C:\\PakDemo\\data.pak' "$WINEPREFIX/drive_c/install.log"
check "silent: log ends with the result" grep -qx 'result 0' "$WINEPREFIX/drive_c/install.log"
mkdir -p "$WINEPREFIX/drive_c/Other Dir"
run_silent silent-dir "$bundled" /S '/D=C:\Other Dir'
check "silent /D=: exit code 0" test "$(cat "$work/silent-dir.rc")" = 0
check "silent /D=: payload there" diff -r -x data.pak -x data "$work/linux/game" "$WINEPREFIX/drive_c/Other Dir"

check "silent /D=: merge as loose files" test -d "$WINEPREFIX/drive_c/Other Dir/data"
fresh_game
rm -f "$WINEPREFIX/drive_c/held" "$WINEPREFIX/drive_c/release"
(cd "$work" && exec wine "$hold_exe" 'C:\PakDemo\readme.txt' 'C:\held' 'C:\release' >"$out/hold2.log" 2>&1) &
hold_pid=$!
wait_file "$WINEPREFIX/drive_c/held"
run_silent silent-locked "$bundled" /S '/LOG=C:\locked.log'
touch "$WINEPREFIX/drive_c/release"
wait_exit "$hold_pid" || kill "$hold_pid" 2>/dev/null
check "silent locked: exit code 4" test "$(cat "$work/silent-locked.rc")" = 4
check "silent locked: log line" grep -q '^failed C:\\PakDemo\\readme.txt' "$WINEPREFIX/drive_c/locked.log"
check "silent locked: other entries written" diff -r -x readme.txt "$work/linux/game" "$game"

echo "$failures failed"
[ "$failures" -eq 0 ]
