#!/usr/bin/env bash
# End-to-end test of a long update run of the Windows updater under Wine.
#
#   wine_run_e2e.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [OUT_DIR]
#
# Needs, from the Windows build: tools/updater-stub.exe, app/updater.exe (with the demo
# package), tests/e2e/dialog_probe.exe and tests/e2e/fake_game.exe; from the Linux
# build: tools/pak, tools/updater-stub and demo/updater. OUT_DIR (default
# WINDOWS_BUILD_DIR/e2e-wine-run) receives a screenshot mid-run and the logs. Cases:
#   responsive  a payload of 3,000 files and a merge into a 200 MB pack: while the run
#               works the dialog answers WM_NULL within 200 ms at every probe, the
#               progress bar rises, IDC_STATUS changes; the result equals the Linux
#               installer's single-threaded run byte for byte
#   wait        a game client that takes 4 s to close after the close request: OK
#               pressed at once writes nothing while the game runs, shows no message
#               box, and installs once it is gone
#   escape      a game client that takes 20 s to close: OK, then Escape while the run
#               waits for it, stops the run as the Cancel button does; nothing written
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR [OUT_DIR]" >&2
  exit 2
fi
win_build=$(realpath "$1")
linux_build=$(realpath "$2")
out=$(realpath -m "${3:-$win_build/e2e-wine-run}")
here=$(cd "$(dirname "$0")" && pwd)
make_game=$here/../../demo/make-demo-game.sh

stub_exe=$win_build/tools/updater-stub.exe
demo_exe=$win_build/app/updater.exe
probe_exe=$win_build/tests/e2e/dialog_probe.exe
game_exe=$win_build/tests/e2e/fake_game.exe
pak=$linux_build/tools/pak
linux_stub=$linux_build/tools/updater-stub
linux_demo=$linux_build/demo/updater
. "$here/wine_session.sh"
need_files "$stub_exe" "$demo_exe" "$probe_exe" "$game_exe" "$pak" "$linux_stub" "$linux_demo"
need_tools wine wineboot wineserver Xvfb xdotool import python3

start_session "$out"
start_display || exit 1
wineboot -i >"$work/wineboot.log" 2>&1

# --- responsive ----------------------------------------------------------------------
# The package: 3,000 payload files in nested folders, and a merge of 20 entries into
# a game pack of 200 MB stored raw.
python3 - "$work/trees" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(7)
words = [b"alpha", b"beta", b"gamma", b"delta", b"map", b"npc", b"item", b"skill", b"\xa5\x5c", b"\xb3\x5c"]
for i in range(3000):
    path = os.path.join(root, "payload", "d%02d" % (i % 40), "e%d" % (i % 7), "f%04d.dat" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b" ".join(rng.choice(words) for _ in range(rng.randint(50, 1500))))
for i in range(20):
    path = os.path.join(root, "merge", "maps", "m%02d.map" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(os.urandom(20000))
os.makedirs(os.path.join(root, "old", "maps"), exist_ok=True)
for i in range(100):
    with open(os.path.join(root, "old", "maps", "old%03d.map" % i), "wb") as f:
        f.write(os.urandom(2 << 20))
PY
package=$work/package
mkdir -p "$package"
printf '[inst]\r\ndir=C:\\BigGame\r\n[pack0]\r\nname=data\r\n' >"$package/UPDATA.INI"
"$pak" create "$package/DLL.PAK" "$work/trees/payload" >/dev/null 2>&1 &&
  "$pak" create "$package/DATA.PAK" "$work/trees/merge" >/dev/null 2>&1 &&
  "$pak" create --raw "$work/old.pak" "$work/trees/old" >/dev/null 2>&1 ||
  fail "responsive: packs made"
"$pak" bundle "$stub_exe" "$package" "$work/big-updater.exe" >/dev/null 2>&1 || fail "responsive: Windows installer bundled"
"$pak" bundle "$linux_stub" "$package" "$work/big-updater" >/dev/null 2>&1 || fail "responsive: Linux installer bundled"

# The single-threaded run of the Linux installer, on a drive C: of its own.
mkdir -p "$work/linux-prefix/drive_c/BigGame" "$work/linux-prefix/dosdevices"
ln -s ../drive_c "$work/linux-prefix/dosdevices/c:"
cp "$work/old.pak" "$work/linux-prefix/drive_c/BigGame/data.pak"
(cd "$work" && printf 'ok\n' | WINEPREFIX=$work/linux-prefix WINDIR=$work/none "$work/big-updater" \
  >"$out/linux-big-run.log" 2>&1)

game=$WINEPREFIX/drive_c/BigGame
mkdir -p "$game"
cp "$work/old.pak" "$game/data.pak"
(cd "$work" && exec wine "$work/big-updater.exe" >"$out/wine-big-updater.log" 2>&1) &
updater_pid=$!
rm -f "$work/midrun" "$work/report"
(cd "$work" && exec wine "$probe_exe" 'Z:'"$(echo "$work" | tr / '\\')"'\report' \
  'Z:'"$(echo "$work" | tr / '\\')"'\midrun' >"$out/probe.log" 2>&1) &
probe_pid=$!
if wait_file "$work/midrun"; then
  import -window root "$out/running.png" 2>/dev/null && pass "responsive: screenshot $out/running.png" ||
    fail "responsive: screenshot"
else
  fail "responsive: the bar passed a third"
fi
check "responsive: updater ends" wait_exit "$updater_pid" 300
check "responsive: probe ends" wait_exit "$probe_pid" 30
report=$(tr -d '\r' <"$work/report" 2>/dev/null)
echo "     probe: $report"
value() { echo "$report" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
check "responsive: the dialog was probed" test "$(value probes)" -ge 10
check "responsive: every probe answered within 200 ms" test "$(value slow)" = 0
check "responsive: the progress bar rose at least five times" test "$(value rises)" -ge 5
check "responsive: the status changed" test "$(value statuses)" -ge 2
check "responsive: result equals the single-threaded run" diff -r "$work/linux-prefix/drive_c/BigGame" "$game"

# --- wait --------------------------------------------------------------------------
windir=$WINEPREFIX/drive_c/windows
game=$WINEPREFIX/drive_c/PakDemo
"$make_game" "$pak" "$work/linux/win" "$work/linux/game" >/dev/null
(cd "$work/linux" && printf 'ok\n' | WINDIR="$work/linux/win" "$linux_demo" >"$out/linux-demo-run.log" 2>&1)
rm -rf "$game"
"$make_game" "$pak" "$windir" "$game" 'C:\PakDemo' >/dev/null
before=$(snapshot "$game")
(cd "$work" && exec wine "$game_exe" 'C:\game-ready' 'C:\game-closed' 4000 >"$out/fake-game.log" 2>&1) &
game_pid=$!
wait_file "$WINEPREFIX/drive_c/game-ready"
(cd "$work" && exec wine "$demo_exe" >"$out/wine-demo-updater.log" 2>&1) &
updater_pid=$!
if dialog=$(wait_window '^Updata$'); then
  press "$dialog" Return
  untouched=yes
  while kill -0 "$game_pid" 2>/dev/null; do
    [ "$before" = "$(snapshot "$game")" ] || untouched=no
    sleep 0.2
  done
  check "wait: the game got the close request and took its time" test -e "$WINEPREFIX/drive_c/game-closed"
  check "wait: nothing written while the game ran" test "$untouched" = yes
  check "wait: no message box; the updater ends by itself" wait_exit "$updater_pid" 60
  check "wait: installed once the game was gone" diff -r "$work/linux/game" "$game"
else
  fail "wait: dialog shown"
fi
kill "$game_pid" "$updater_pid" 2>/dev/null

# --- escape ------------------------------------------------------------------------
rm -rf "$game" "$WINEPREFIX/drive_c/game-ready" "$WINEPREFIX/drive_c/game-closed"
"$make_game" "$pak" "$windir" "$game" 'C:\PakDemo' >/dev/null
before=$(snapshot "$game")
(cd "$work" && exec wine "$game_exe" 'C:\game-ready' 'C:\game-closed' 20000 >"$out/fake-game-escape.log" 2>&1) &
game_pid=$!
wait_file "$WINEPREFIX/drive_c/game-ready"
(cd "$work" && exec wine "$demo_exe" >"$out/wine-demo-escape.log" 2>&1) &
updater_pid=$!
if dialog=$(wait_window '^Updata$'); then
  press "$dialog" Return
  sleep 2  # the run now waits for the game, which lingers
  press "$dialog" Escape
  check "escape: the updater ends while the game still runs" wait_exit "$updater_pid" 10
  check "escape: nothing written" test "$before" = "$(snapshot "$game")"
else
  fail "escape: dialog shown"
fi
kill "$game_pid" "$updater_pid" 2>/dev/null

echo "$failures failed"
[ "$failures" -eq 0 ]
