#!/usr/bin/env bash
# End-to-end test of the bundled POSIX updater, driven through stdin.
#
#   posix_e2e.sh UPDATER STUB PAK PACKAGE_DIR MAKE_GAME
#
# UPDATER is the updater with the demo package attached, STUB the updater without a
# package, PAK the pak tool, PACKAGE_DIR the demo package, MAKE_GAME the script that
# lays out the demo game. Every check prints one line; the exit code is the number
# of failed checks (capped at 1).
set -u
updater=$(realpath "$1")
stub=$(realpath "$2")
pak=$(realpath "$3")
package=$(realpath "$4")
make_game=$(realpath "$5")

work=$(mktemp -d "${TMPDIR:-/tmp}/pakupdate-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

pass() { echo "ok   $1"; }
fail() {
  echo "FAIL $1"
  failures=$((failures + 1))
}
check() {  # check NAME COMMAND...: passes when the command succeeds
  local name=$1
  shift
  if "$@" >/dev/null 2>&1; then pass "$name"; else fail "$name"; fi
}
contains() { grep -qF -- "$2" "$1"; }
has_line() { grep -qxF -- "$2" "$1"; }
lacks() { ! grep -qF -- "$2" "$1"; }

# A listing of a tree with the checksum of every file, to tell whether a run wrote.
snapshot() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r sha256sum && find . -type d | sort); }

# Runs an updater in its own empty folder with WINDIR set; input from the given text.
run_updater() {  # run_updater EXE WINDIR INPUT OUTFILE
  local dir
  dir=$(mktemp -d "$work/cwd.XXXXXX")
  (cd "$dir" && printf '%b' "$3" | WINDIR="$2" "$1" >"$4" 2>&1)
  echo $? >"$4.rc"
}

# Expected results, made with the pak tool itself.
mkdir -p "$work/expected"
"$pak" extract "$package/DLL.pak" "$work/expected/payload" >/dev/null || fail "pak extract of the payload"
"$pak" extract "$package/DATA.pak" "$work/expected/merge" >/dev/null || fail "pak extract of the merge pack"
"$make_game" "$pak" "$work/expected/win" "$work/expected/game" >/dev/null
cp "$work/expected/game/data.pak" "$work/expected/data.pak"
"$pak" merge "$work/expected/data.pak" "$package/DATA.pak" >/dev/null || fail "pak merge of the expected pack"

# Every file of the extracted folder FROM is in TO with the same bytes.
same_files() {  # same_files FROM TO
  local from=$1 to=$2 file
  [ -n "$(find "$from" -type f | head -1)" ] || return 1
  while IFS= read -r -d '' file; do
    cmp -s "$from/$file" "$to/$file" || return 1
  done < <(cd "$from" && find . -type f -print0)
}

# --- OK installs the payload and merges the game's pack -------------------------
t=$work/ok
"$make_game" "$pak" "$t/win" "$t/game" >/dev/null
run_updater "$updater" "$t/win" 'ok\n' "$t/out"
check "ok: exit code 0" test "$(cat "$t/out.rc")" = 0
check "ok: title shown" contains "$t/out" "Updata"
check "ok: game path proposed" has_line "$t/out" "Path: $t/game"
check "ok: OK offered" contains "$t/out" "Buttons: [OK] [Cancel] [瀏覽]"
check "ok: notes shown in UTF-8" contains "$t/out" "更新須知"
check "ok: progress shown" contains "$t/out" "1/1"
check "ok: payload written byte for byte" same_files "$work/expected/payload" "$t/game"
check "ok: merged pack byte for byte" cmp "$work/expected/data.pak" "$t/game/data.pak"
check "ok: no temporary pack left" test -z "$(find "$t/game" -maxdepth 1 -name '*temp*')"
check "ok: no loose merge files" test ! -e "$t/game/data/text"
check "ok: merged pack lists the new entries" sh -c "'$pak' list '$t/game/data.pak' | grep -q 'text\\\\quest.txt'"

# --- An empty line is OK too ----------------------------------------------------
t=$work/empty-line
"$make_game" "$pak" "$t/win" "$t/game" >/dev/null
run_updater "$updater" "$t/win" '\n' "$t/out"
check "empty line: merged pack" cmp "$work/expected/data.pak" "$t/game/data.pak"

# --- Cancel and end of input write nothing ----------------------------------------
for input in 'cancel\n' ''; do
  t=$work/cancel-${#input}
  "$make_game" "$pak" "$t/win" "$t/game" >/dev/null
  before=$(snapshot "$t")
  run_updater "$updater" "$t/win" "$input" "$work/out-cancel"
  name="cancel (input '${input%\\n}')"
  check "$name: exit code 0" test "$(cat "$work/out-cancel.rc")" = 0
  check "$name: nothing written" test "$before" = "$(snapshot "$t")"
  check "$name: reported" contains "$work/out-cancel" "Cancelled."
done

# --- Browse to another folder installs there --------------------------------------
t=$work/browse
"$make_game" "$pak" "$t/win" "$t/game" >/dev/null
before=$(snapshot "$t/game")
mkdir -p "$t/other"
run_updater "$updater" "$t/win" "browse\n$t/other\nok\n" "$t/out"
check "browse: new path shown" has_line "$t/out" "Path: $t/other"
check "browse: payload in the new folder" same_files "$work/expected/payload" "$t/other"
check "browse: merge as loose files without a game pack" same_files "$work/expected/merge" "$t/other/data"
check "browse: game folder untouched" test "$before" = "$(snapshot "$t/game")"

# --- A game folder with Big5 characters whose trail byte is 0x5C -----------------
t=$work/big5
big5_dir="$t/許功"
"$make_game" "$pak" "$t/win" "$big5_dir" "$(printf '%s/\263\134\245\134' "$t")" >/dev/null
run_updater "$updater" "$t/win" 'ok\n' "$t/out"
check "big5: path shown in UTF-8" has_line "$t/out" "Path: $big5_dir"
check "big5: payload written" same_files "$work/expected/payload" "$big5_dir"
check "big5: merged pack" cmp "$work/expected/data.pak" "$big5_dir/data.pak"

# --- Outcomes of the opening, each with its own configuration ---------------------
# bundle_with NAME INI_TEXT: the demo package with another UPDATA.INI, bundled.
bundle_with() {
  local dir=$work/pkg-$1
  mkdir -p "$dir"
  cp "$package/NOTE.TXT" "$package/DLL.pak" "$package/DATA.pak" "$dir/"
  printf '%b' "$2" >"$dir/UPDATA.INI"
  "$pak" bundle "$stub" "$dir" "$work/updater-$1" >/dev/null 2>&1 || fail "bundle $1"
}
outcome() {  # outcome NAME INI_TEXT GAME_INI_TEXT|- EXPECTED_PATH OK_SHOWN(yes|no)
  local t=$work/outcome-$1
  mkdir -p "$t/win"
  if [ "$3" != - ]; then printf '%b' "$3" >"$t/win/PakDemo.ini"; fi
  bundle_with "$1" "$2"
  run_updater "$work/updater-$1" "$t/win" 'ok\ncancel\n' "$t/out"
  local expected_path=${4//@WINDIR@/$t/win}
  check "outcome $1: path text" has_line "$t/out" "Path: $expected_path"
  if [ "$5" = yes ]; then
    check "outcome $1: OK offered" contains "$t/out" "Buttons: [OK] [Cancel] [瀏覽]"
  else
    check "outcome $1: OK hidden" contains "$t/out" "Buttons: [Cancel] [瀏覽]"
    check "outcome $1: ok refused" contains "$t/out" "OK is not offered"
  fi
}
outcome dir '[inst]\r\ndir=C:\\Games\\Demo\r\n' - 'C:\Games\Demo' yes
outcome no-dir '[inst]\r\nver=104\r\n' - "can't find" yes
outcome no-inst '[src]\r\nfiles=0\r\n' - "can't find" yes
outcome ini-path '[inst]\r\nwin_ini=PakDemo.ini\r\ndir=C:\\Unused\r\n' '[inst_path]\r\npath=C:\\Games\\Found\r\n' \
  'C:\Games\Found' yes
outcome ini-without-path '[inst]\r\nwin_ini=PakDemo.ini\r\ndir=C:\\Unused\r\n' '[inst_path]\r\nother=1\r\n' \
  "can't Find @WINDIR@\\PakDemo.ini" no
outcome no-ini '[inst]\r\nwin_ini=PakDemo.ini\r\ndir=C:\\Unused\r\n' - 'PakDemo.ini' no

# --- Without a configuration the program ends at once and shows nothing -----------
t=$work/no-config
mkdir -p "$t"
run_updater "$stub" "$t" 'ok\n' "$t/out-stub"
check "stub without package: exit code 0" test "$(cat "$t/out-stub.rc")" = 0
check "stub without package: no output" test ! -s "$t/out-stub"
# An installer cut exactly at the stub's end, a table with no entries, and an empty
# configuration (attached without pak bundle, which refuses it): the dialog ends at
# once and silently, an unattended install says so and exits 2. None of them asks the
# game to close: a stand-in wmctrl on the PATH notes every call.
attach=$(dirname "$0")/../platform/attach_package.py
head -c "$(stat -c %s "$stub")" "$updater" >"$t/updater-cut"
chmod +x "$t/updater-cut"
python3 "$attach" "$stub" "$t/updater-no-entries"
: >"$t/empty.ini"
python3 "$attach" "$stub" "$t/updater-empty-ini" "UPDATA.INI=$t/empty.ini" "NOTE.TXT=$package/NOTE.TXT" \
  "DLL.pak=$package/DLL.pak"
mkdir -p "$t/bin"
printf '#!/bin/sh\necho "$*" >>"%s/wmctrl-calls"\n' "$t" >"$t/bin/wmctrl"
chmod +x "$t/bin/wmctrl"
for variant in cut:"no update package" no-entries:"no update package" empty-ini:"empty configuration"; do
  name=${variant%%:*} said=${variant#*:}
  exe=$t/updater-$name
  PATH="$t/bin:$PATH" DISPLAY=:97 run_updater "$exe" "$t" 'ok\n' "$t/out-$name"
  check "$name: dialog exit code 0" test "$(cat "$t/out-$name.rc")" = 0
  check "$name: dialog shows nothing" test ! -s "$t/out-$name"
  (cd "$t" && PATH="$t/bin:$PATH" DISPLAY=:97 "$exe" /S "/LOG=$t/$name.log" >"$t/out-s-$name" 2>"$t/err-s-$name" </dev/null)
  echo $? >"$t/out-s-$name.rc"
  check "$name /S: exit code 2" test "$(cat "$t/out-s-$name.rc")" = 2
  check "$name /S: said on stderr" contains "$t/err-s-$name" "$said"
  check "$name /S: logged" contains "$t/$name.log" "$said"
  check "$name /S: log ends with the result" has_line "$t/$name.log" "result 2"
done
check "no package: the game is not asked to close" test ! -e "$t/wmctrl-calls"

# --- Damaged packages: the installer says so, exits 2, and changes nothing ---------
# The bundle is the stub, then each package file 8-byte aligned in name order, then
# the checksum record, the entries and the footer.
blob_offset() {  # blob_offset NAME: where NAME lies in $updater
  local at name size
  at=$(stat -c %s "$stub")
  for name in $(cd "$package" && find . -maxdepth 1 -type f \( -iname '*.pak' -o -iname updata.ini -o -iname note.txt \) |
                sed 's|^\./||' | LC_ALL=C sort) PACKAGE.CRC; do
    at=$(( (at + 7) / 8 * 8 ))
    if [ "$name" = "$1" ]; then echo "$at"; return; fi
    size=$(stat -c %s "$package/$name")
    at=$((at + size))
  done
}
flip_byte() {  # flip_byte FILE OFFSET
  local old
  old=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((old ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
put_u64() {  # put_u64 FILE OFFSET VALUE
  local bytes="" i
  for i in 0 1 2 3 4 5 6 7; do bytes="$bytes$(printf '\\%03o' $(( ($3 >> (8 * i)) & 255 )))"; done
  printf "$bytes" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
u64_at() { od -An -tu8 -j "$2" -N8 "$1" | tr -d ' '; }
damaged_variants=()
for name in DATA.pak DLL.pak NOTE.TXT UPDATA.INI PACKAGE.CRC; do
  cp "$updater" "$work/damaged-flip-$name"
  at=$(blob_offset "$name")
  flip_byte "$work/damaged-flip-$name" $((at + 3))
  damaged_variants+=("flip-$name")
done
size=$(stat -c %s "$updater")
for cut in 1 32 1000 100000; do
  head -c $((size - cut)) "$updater" >"$work/damaged-cut-$cut"
  damaged_variants+=("cut-$cut")
done
entries=$(u64_at "$updater" $((size - 24)))
first_size=$(u64_at "$updater" $((entries + 8)))
for lie in larger smaller huge; do
  cp "$updater" "$work/damaged-size-$lie"
  case $lie in
    larger) value=$((first_size + 8)) ;;
    smaller) value=$((first_size - 1)) ;;
    huge) value=$(( (1 << 62) )) ;;
  esac
  put_u64 "$work/damaged-size-$lie" $((entries + 8)) "$value"
  damaged_variants+=("size-$lie")
done
for variant in "${damaged_variants[@]}"; do
  chmod +x "$work/damaged-$variant"
  for mode in dialog silent; do
    t=$work/damaged-run-$variant-$mode
    "$make_game" "$pak" "$t/win" "$t/game" >/dev/null
    before=$(snapshot "$t")
    if [ $mode = dialog ]; then
      run_updater "$work/damaged-$variant" "$t/win" 'ok\n' "$t/out"
      check "damaged $variant: the message says the download is damaged" contains "$t/out" "更新檔已損壞"
    else
      (cd "$t" && WINDIR="$t/win" "$work/damaged-$variant" /S /LOG="$t/install.log" >"$t/out" 2>"$t/err" </dev/null)
      echo $? >"$t/out.rc"
      check "damaged $variant /S: said on stderr" contains "$t/err" "damaged"
      check "damaged $variant /S: logged" contains "$t/install.log" "result 2"
      rm -f "$t/install.log" "$t/err"
    fi
    check "damaged $variant $mode: exit code 2" test "$(cat "$t/out.rc")" = 2
    rm -f "$t/out" "$t/out.rc"
    check "damaged $variant $mode: nothing changed" test "$before" = "$(snapshot "$t")"
  done
  check "damaged $variant: pak verify fails" sh -c "! '$pak' verify '$work/damaged-$variant'"
done
check "pak verify of the bundled installer" sh -c "'$pak' verify '$updater' | grep -q '^ok: installer package of 4 files'"

# --- Unattended installs: /S, /D=, /LOG= and their exit codes ---------------------
run_silent() {  # run_silent EXE WINDIR NAME ARGS...: output in $work/NAME.{out,err,rc}
  local exe=$1 windir=$2 name=$3
  shift 3
  (cd "$work" && WINDIR="$windir" "$exe" "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null)
  echo $? >"$work/$name.rc"
}
t=$work/silent
"$make_game" "$pak" "$t/win" "$t/game" >/dev/null
run_silent "$updater" "$t/win" silent /S "/LOG=$t/install.log"
check "/S: exit code 0" test "$(cat "$work/silent.rc")" = 0
check "/S: shows nothing" test ! -s "$work/silent.out"
check "/S: payload written as the dialog writes it" same_files "$work/expected/payload" "$t/game"
check "/S: merged pack as the dialog merges it" cmp "$work/expected/data.pak" "$t/game/data.pak"
check "/S: log lists a written file" has_line "$t/install.log" "written $t/game\\config\\keys.ini"
check "/S: log lists the merged pack" has_line "$t/install.log" "merged $t/game\\data.pak"
check "/S: log ends with the result" has_line "$t/install.log" "result 0"

t=$work/silent-dir
"$make_game" "$pak" "$t/win" "$t/game" >/dev/null
mkdir -p "$t/other dir"
before=$(snapshot "$t/game")
run_silent "$updater" "$t/win" silent-dir --silent --dir "$t/other dir"
check "--dir: exit code 0" test "$(cat "$work/silent-dir.rc")" = 0
check "--dir: payload in the other folder" same_files "$work/expected/payload" "$t/other dir"
check "--dir: merge as loose files without a game pack" same_files "$work/expected/merge" "$t/other dir/data"
check "--dir: game folder untouched" test "$before" = "$(snapshot "$t/game")"
mkdir -p "$t/third dir"
run_silent "$updater" "$t/win" silent-d /S "/D=$t/third dir"
check "/D= with a space: payload there" same_files "$work/expected/payload" "$t/third dir"

t=$work/silent-locked
"$make_game" "$pak" "$t/win" "$t/game" >/dev/null
rm "$t/game/readme.txt"
mkdir -p "$t/game/readme.txt/inside"  # a folder where the file goes: it cannot be written, and is named
run_silent "$updater" "$t/win" silent-locked /S --log "$t/install.log"
check "unwritable file: exit code 4" test "$(cat "$work/silent-locked.rc")" = 4
check "unwritable file: on stderr" contains "$work/silent-locked.err" \
  "refused $t/game\\readme.txt: a folder stands where the file should be"
check "unwritable file: in the log" contains "$t/install.log" \
  "refused $t/game\\readme.txt: a folder stands where the file should be"
check "unwritable file: the other files are written" cmp "$work/expected/payload/config/keys.ini" \
  "$t/game/config/keys.ini"
check "unwritable file: the pack is merged" cmp "$work/expected/data.pak" "$t/game/data.pak"

t=$work/silent-unknown
mkdir -p "$t/win"
before=$(snapshot "$t")
run_silent "$updater" "$t/win" silent-unknown /S
check "game folder unknown: exit code 3" test "$(cat "$work/silent-unknown.rc")" = 3
check "game folder unknown: said on stderr" contains "$work/silent-unknown.err" "refused PakDemo.ini"
check "game folder unknown: nothing written" test "$before" = "$(snapshot "$t")"
run_silent "$updater" "$t/win" silent-missing /S "/D=$t/missing"
check "missing folder: exit code 3" test "$(cat "$work/silent-missing.rc")" = 3
check "missing folder: not made" test ! -e "$t/missing"

run_silent "$updater" "$t/win" silent-usage /S /X
check "unknown option: exit code 1" test "$(cat "$work/silent-usage.rc")" = 1
check "unknown option: usage on stderr" contains "$work/silent-usage.err" "usage: updater"
check "unknown option: nothing written" test "$before" = "$(snapshot "$t")"

# Refused before anything is installed: /S after /D= (it would be part of the folder),
# a log that is a link or lies in a missing folder. A folder that is a file, or
# relative, is no install folder.
t=$work/refused-line
"$make_game" "$pak" "$t/win" "$t/game" >/dev/null
printf 'old log\n' >"$t/old.log"
ln -s "$t/old.log" "$t/link.log"
touch "$t/a-file"
before=$(snapshot "$t")
run_silent "$updater" "$t/win" wrong-order "/D=$t/game" /S
check "/D= before /S: exit code 1" test "$(cat "$work/wrong-order.rc")" = 1
check "/D= before /S: says why" contains "$work/wrong-order.err" "comes last"
run_silent "$updater" "$t/win" log-link /S --log "$t/link.log"
check "log is a link: exit code 1" test "$(cat "$work/log-link.rc")" = 1
check "log is a link: says so" contains "$work/log-link.err" "link"
run_silent "$updater" "$t/win" log-missing /S --log "$t/missing/install.log"
check "log in a missing folder: exit code 1" test "$(cat "$work/log-missing.rc")" = 1
check "log in a missing folder: says so" contains "$work/log-missing.err" "folder does not exist"
check "refused command lines: nothing written" test "$before" = "$(snapshot "$t")"
run_silent "$updater" "$t/win" dir-file --silent --dir "$t/a-file"
check "--dir naming a file: exit code 3" test "$(cat "$work/dir-file.rc")" = 3
check "--dir naming a file: says it is not a folder" contains "$work/dir-file.err" "not a folder"
run_silent "$updater" "$t/win" dir-relative --silent --dir game
check "--dir relative: exit code 3" test "$(cat "$work/dir-relative.rc")" = 3
check "--dir relative: says so" contains "$work/dir-relative.err" "not an absolute path"
check "refused folders: nothing written" test "$before" = "$(snapshot "$t")"

# The dialog takes /D= and /LOG= too, and still ends with 0.
t=$work/dialog-dir
"$make_game" "$pak" "$t/win" "$t/game" >/dev/null
mkdir -p "$t/other"
(cd "$work" && printf 'ok\n' | WINDIR="$t/win" "$updater" "/LOG=$t/install.log" "/D=$t/other" >"$t/out" 2>&1)
check "dialog with /D=: exit code 0" test $? = 0
check "dialog with /D=: the folder proposed" has_line "$t/out" "Path: $t/other"
check "dialog with /D=: payload there" same_files "$work/expected/payload" "$t/other"
check "dialog with /LOG=: log written" has_line "$t/install.log" "result 0"

echo "$failures failed"
[ "$failures" -eq 0 ]
