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
#   install  the Windows installer (bundled by the Linux pak) updates old files of Big5
#            names in a Big5 install folder under the same names, and its log (named
#            in Big5 on the command line) says so; under 1252 a screenshot of the
#            dialog shows its notes (big5-dialog-1252.png)
# and neither refuses names less than Linux does, nor takes a near one for a name
# code page 950 lacks (Café):
#   refuse   pak.exe extract into ex-é and create from Café fail and say why; the
#            installer with /S and /D=C:\Café, /LOG=café.log or /D=C:\한 (in neither
#            code page) exits 1, says why and writes nothing, opening no window
# Paths on the pak.exe command line use backslashes. OUT_DIR (default
# WINDOWS_BUILD_DIR/e2e-wine-names) receives the wineboot logs and the screenshot.
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
stub_exe=$win_build/tools/updater-stub.exe
pak=$linux_build/tools/pak
# shellcheck source=tests/e2e/wine_session.sh
. "$here/wine_session.sh"
need_files "$pak_exe" "$stub_exe" "$pak"
need_tools wine wineboot wineserver Xvfb xdotool import iconv

start_session "$out"
start_display || exit 1
# One prefix per code page; each wineserver is stopped.
cleanup_prefixes() {
  local prefix
  for prefix in "$work"/prefix-*; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  done
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
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

# An update package whose payload is the new release, for the install folder C:\遊戲許
# that holds the old one; its notes are Big5 text. What the install must give: the
# old files overlaid with the new.
package=$work/package
mkdir -p "$package" "$work/Café"
printf '[inst]\r\ndir=C:\\遊戲許\r\n' | iconv -f UTF-8 -t CP950 >"$package/UPDATA.INI"
printf '更新說明\r\n許功蓋：新的地圖與說明\r\n' | iconv -f UTF-8 -t CP950 >"$package/NOTE.TXT"
printf 'accented\n' >"$work/Café/a.txt"
{
  "$pak" create "$package/DLL.pak" "$new" >/dev/null 2>&1 &&
    "$pak" bundle "$stub_exe" "$package" "$work/updater-big5.exe" >/dev/null 2>&1 &&
    mkdir -p "$work/installed" && cp -r "$src/." "$work/installed" && cp -r "$new/." "$work/installed"
} || {
  echo "FAIL the Big5 update package"
  exit 1
}

# run_updater NAME ARGS...: the installer under Wine, its exit code in $work/NAME.rc;
# stopped after 30 s (124), as a window waiting for a click would hang an unattended run.
run_updater() {
  local name=$1
  shift
  (cd "$work" && timeout 30 wine updater-big5.exe "$@" >"$out/$name.out" 2>"$out/$name.err")
  echo $? >"$work/$name.rc"
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

  # install: the old release in place, then the unattended update.
  local game=$WINEPREFIX/drive_c/遊戲許
  rm -rf "$game" && mkdir -p "$game" && cp -r "$src/." "$game"
  run_updater "install-$code_page" /S '/LOG=C:\安裝許.log'
  # The log, with runs of separators taken as one: the names are what is checked here.
  tr -s '\\' <"$WINEPREFIX/drive_c/安裝許.log" >"$out/install-$code_page.log" 2>/dev/null
  check "$code_page: install exits 0" test "$(cat "$work/install-$code_page.rc")" = 0
  check "$code_page: install updates the files under their Big5 names" diff -r "$work/installed" "$game"
  check "$code_page: the log names a file with a 0x5C trail byte" \
    grep -qxF 'written C:\遊戲許\地圖\許功蓋.txt' "$out/install-$code_page.log"
  check "$code_page: the log names a new file in a Big5 folder" \
    grep -qxF 'written C:\遊戲許\地圖\許功蓋\蓋\新許.txt' "$out/install-$code_page.log"
  check "$code_page: the log ends with result 0" grep -qx 'result 0' "$out/install-$code_page.log"
  if [ "$code_page" = 1252 ]; then
    (cd "$work" && exec wine updater-big5.exe >"$out/dialog-$code_page.out" 2>&1) &
    local updater_pid=$! dialog
    if dialog=$(wait_window '^Updata$'); then
      sleep 1
      import -window root "$out/big5-dialog-$code_page.png" 2>/dev/null ||
        fail "$code_page: screenshot of the dialog"
      press "$dialog" Escape
      check "$code_page: the dialog ends on Escape" wait_exit "$updater_pid" 30
    else
      fail "$code_page: dialog shown"
    fi
    kill "$updater_pid" 2>/dev/null
  fi

  # refuse: a name code page 950 lacks is no near name.
  wine "$pak_exe" extract "linux\\包許.pak" 'ex-é' >/dev/null 2>"$out/extract-$code_page.err"
  check "$code_page: extract into ex-é fails" test $? != 0
  check "$code_page: extract writes no ex-e" test ! -e ex-e -a ! -e ex-é
  check "$code_page: extract says why" grep -q 'outside code page 950' "$out/extract-$code_page.err"
  wine "$pak_exe" create "$got\\cafe.pak" Café >/dev/null 2>"$out/create-$code_page.err"
  check "$code_page: create from Café fails" test $? != 0
  check "$code_page: create says why" grep -q 'outside code page 950' "$out/create-$code_page.err"
  check "$code_page: create writes no pack" test ! -e "$got/cafe.pak"
  mkdir -p "$WINEPREFIX/drive_c/Cafe" && printf 'old\n' >"$WINEPREFIX/drive_c/Cafe/readme.txt"
  before=$(snapshot "$WINEPREFIX/drive_c/Cafe")
  local refusal
  for refusal in 'silent-dir|/S|/D=C:\Café' 'silent-log|/S|/LOG=C:\café.log' 'silent-hangul|/S|/D=C:\한'; do
    local arguments
    IFS='|' read -r -a arguments <<<"$refusal"
    local name=${arguments[0]}
    arguments=("${arguments[@]:1}")
    run_updater "refuse-$name-$code_page" "${arguments[@]}"
    check "$code_page: ${arguments[*]} exits 1 without a window" test "$(cat "$work/refuse-$name-$code_page.rc")" = 1
    check "$code_page: ${arguments[*]} says why" grep -q 'code page 950' "$out/refuse-$name-$code_page.err"
  done
  check "$code_page: C:\\Cafe untouched" test "$before" = "$(snapshot "$WINEPREFIX/drive_c/Cafe")"
  check "$code_page: no cafe.log" test ! -e "$WINEPREFIX/drive_c/cafe.log" -a ! -e "$WINEPREFIX/drive_c/café.log"
  wineserver -k >/dev/null 2>&1
}

run_in_code_page zh_TW.UTF-8 950
if locale -a 2>/dev/null | grep -qi '^en_US.utf8$'; then
  run_in_code_page en_US.UTF-8 1252
else
  fail "1252: the locale en_US.UTF-8 is missing (scripts/install-deps.sh enables it)"
fi
[ "$failures" -eq 0 ]
