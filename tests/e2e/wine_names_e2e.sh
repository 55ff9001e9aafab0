#!/usr/bin/env bash
# pak.exe under Wine names files as the Linux pak does, whatever the ANSI code page.
#
#   wine_names_e2e.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR [OUT_DIR]
#
# A folder of Big5 names, several with the trail byte 0x5C (許 B3 5C, 功 A5 5C,
# 蓋 BB 5C), in nested folders, and paths on the command line that hold such names.
# Under ANSI code page 950 (zh_TW.UTF-8) and 1252 (en_US.UTF-8), each in a fresh
# prefix, pak.exe must give what the Linux pak gives:
#   create   the same pack, byte for byte
#   list     the same listing
#   add      the same pack after adding an entry with a Big5 path
#   extract  the same names and bytes (compared on the Linux side)
#   diff     the same update package (payload, removal records)
# Paths on the pak.exe command line use backslashes. OUT_DIR (default
# WINDOWS_BUILD_DIR/e2e-wine-names) receives the wineboot logs.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 WINDOWS_BUILD_DIR LINUX_BUILD_DIR" >&2
  exit 2
fi
win_build=$(realpath "$1")
linux_build=$(realpath "$2")
out=$(realpath -m "${3:-$win_build/e2e-wine-names}")
here=$(cd "$(dirname "$0")" && pwd)
pak_exe=$win_build/tools/pak.exe
pak=$linux_build/tools/pak
# shellcheck source=tests/e2e/wine_session.sh
. "$here/wine_session.sh"
need_files "$pak_exe" "$pak"
need_tools wine wineboot wineserver

start_session "$out"
# One prefix per code page; each wineserver is stopped.
cleanup_prefixes() {
  local prefix
  for prefix in "$work"/prefix-*; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  done
  rm -rf "$work"
}
trap cleanup_prefixes EXIT

# The tree, made from UTF-8 names on the Linux side.
src=$work/素材許
mkdir -p "$src/地圖/許功蓋/蓋" "$src/功"
printf 'map of the first town\n' >"$src/地圖/許功蓋.txt"
printf 'deep\n' >"$src/地圖/許功蓋/蓋/深.dat"
head -c 5000 /dev/zero | tr '\0' 'a' >"$src/功/Readme.TXT"
: >"$src/蓋.bin"
printf 'added entry\n' >"$work/新.txt"
# The release after it: one file changed, one added, one removed.
new=$work/新版
cp -r "$src" "$new"
printf 'map of the second town\n' >"$new/地圖/許功蓋.txt"
printf 'new\n' >"$new/地圖/許功蓋/蓋/新許.txt"
rm "$new/蓋.bin"

# What the Linux pak gives.
expected=$work/linux
mkdir -p "$expected"
(
  cd "$work" || exit 1
  "$pak" create "linux/包許.pak" 素材許 &&
    "$pak" list "linux/包許.pak" >linux/list.txt &&
    cp "linux/包許.pak" "linux/加許.pak" &&
    "$pak" add "linux/加許.pak" '地圖/許功蓋/加.txt' 新.txt &&
    "$pak" extract "linux/包許.pak" "linux/取出許" &&
    "$pak" diff 素材許 新版 "linux/補丁許" 2>/dev/null
) || {
  echo "FAIL the Linux pak on the tree"
  exit 1
}

run_in_code_page() {  # run_in_code_page LOCALE CODE_PAGE
  local locale=$1 code_page=$2
  export LANG=$locale LC_ALL=$locale WINEPREFIX=$work/prefix-$code_page
  wineboot -i >"$out/wineboot-$code_page.log" 2>&1
  local acp
  acp=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP 2>/dev/null |
    tr -d '\r' | awk '$1 == "ACP" { print $3 }')
  if [ "$acp" != "$code_page" ]; then
    fail "$code_page: Wine runs with ANSI code page $code_page (it has '$acp')"
    return
  fi
  local got=wine-$code_page
  mkdir -p "$work/$got"
  cd "$work" || return
  wine "$pak_exe" create "$got\\包許.pak" 素材許 >/dev/null 2>&1
  check "$code_page: create gives the Linux pack" cmp "$got/包許.pak" "linux/包許.pak"
  wine "$pak_exe" list "$got\\包許.pak" 2>/dev/null | tr -d '\r' >"$got/list.txt"
  check "$code_page: list gives the Linux listing" cmp "$got/list.txt" linux/list.txt
  cp "linux/包許.pak" "$got/加許.pak"
  wine "$pak_exe" add "$got\\加許.pak" '地圖\許功蓋\加.txt' 新.txt >/dev/null 2>&1
  check "$code_page: add of a Big5 path gives the Linux pack" cmp "$got/加許.pak" "linux/加許.pak"
  wine "$pak_exe" extract "linux\\包許.pak" "$got\\取出許" >/dev/null 2>&1
  check "$code_page: extract gives the Linux names and bytes" \
    diff <(snapshot "linux/取出許") <(snapshot "$got/取出許")
  wine "$pak_exe" diff 素材許 新版 "$got\\補丁許" >/dev/null 2>&1
  check "$code_page: diff gives the Linux package" diff -r "linux/補丁許" "$got/補丁許"
  wineserver -k >/dev/null 2>&1
}

run_in_code_page zh_TW.UTF-8 950
if locale -a 2>/dev/null | grep -qi '^en_US.utf8$'; then
  run_in_code_page en_US.UTF-8 1252
else
  fail "1252: the locale en_US.UTF-8 is missing (scripts/install-deps.sh enables it)"
fi
[ "$failures" -eq 0 ]
