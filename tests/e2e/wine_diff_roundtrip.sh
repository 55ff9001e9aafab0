#!/usr/bin/env bash
# Round trip of pak diff through the Windows installer under Wine:
#
#   wine_diff_roundtrip.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
#
# Needs, from the Windows build: tests/e2e/diff-pair/{old,new,package}, a generated
# pair of install trees and the package the host's pak diff made of them, and
# tests/e2e/diff_updater.exe carrying that package; from the Linux build: tools/pak.
# First checks that the package holds what the round trip is to prove: Big5 names with
# a 0x5C trail byte, merges, and removed loose files, folders, packs and pack entries.
# Then the installer, its dialog confirmed with Return, applies the package to a copy
# of OLD that the game's INI (PakDiff.ini in the Windows directory) names; the copy
# must equal NEW (tests/e2e/diff_trees.py compare), also after a second run.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR" >&2
  exit 2
fi
win_build=$(realpath "$1")
linux_build=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
trees=$here/diff_trees.py
pair=$win_build/tests/e2e/diff-pair
updater_exe=$win_build/tests/e2e/diff_updater.exe
pak=$linux_build/tools/pak
# shellcheck source=tests/e2e/wine_session.sh
. "$here/wine_session.sh"
need_files "$updater_exe" "$pak" "$pair/package/UPDATA.INI"
need_tools wine wineboot wineserver Xvfb xdotool python3

# --- what the package holds ------------------------------------------------------
ini=$pair/package/UPDATA.INI
check "package: a pack merged" grep -q '^\[pack0\]' "$ini"
check "package: loose files removed" bash -c "grep '^file=' '$ini' | grep -qv '^file=gone\.pak'"
check "package: folders removed" grep -q '^dir=' "$ini"
check "package: a game pack removed" grep -q '^file=gone\.pak' "$ini"
check "package: pack entries removed" grep -q '^entry=' "$ini"
check "package: notes" test -s "$pair/package/NOTE.TXT"
# 許 B3 5C, 功 A5 5C, 蓋 BB 5C: names whose second byte is a backslash.
trail_5c_names() {
  LC_ALL=C "$pak" list "$pair/package/DLL.pak" | iconv -f UTF-8 -t CP950 |
    LC_ALL=C grep -aqF -e $'\xb3\\' -e $'\xa5\\' -e $'\xbb\\'
}
check "package: payload names with a 0x5C trail byte" trail_5c_names

# --- applying it -----------------------------------------------------------------
start_session "${TMPDIR:-/tmp}/pakupdate-wine-diff-out"
start_display || exit 1
wineboot -i >"$work/wineboot.log" 2>&1
windir=$WINEPREFIX/drive_c/windows
game=$WINEPREFIX/drive_c/PakDiff
printf '[inst_path]\r\npath=C:\\PakDiff\r\n' >"$windir/PakDiff.ini"
cp -r "$pair/old" "$game"

for run in once twice; do
  (cd "$work" && exec wine "$updater_exe" >>"$work/updater.log" 2>&1) &
  updater_pid=$!
  if dialog=$(wait_window '^Updata$'); then
    sleep 0.5
    press "$dialog" Return
    if wait_exit "$updater_pid"; then
      pass "applied $run: updater ends"
    else
      fail "applied $run: updater ends"
      kill "$updater_pid" 2>/dev/null
      break
    fi
  else
    fail "applied $run: dialog shown"
    kill "$updater_pid" 2>/dev/null
    break
  fi
  if python3 "$trees" compare "$game" "$pair/new" "$pak" >"$work/compare.out"; then
    pass "applied $run: the copy equals NEW"
  else
    fail "applied $run: the copy differs from NEW"
    head -20 "$work/compare.out"
  fi
done

echo "$failures failed"
[ "$failures" -eq 0 ]
