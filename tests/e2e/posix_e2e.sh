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
# pak bundle insists on an UPDATA.INI; one of size 0 is no configuration either.
mkdir -p "$t/pkg"
cp "$package/NOTE.TXT" "$package/DLL.pak" "$t/pkg/"
: >"$t/pkg/updata.ini"
"$pak" bundle "$stub" "$t/pkg" "$t/updater-empty-ini" >/dev/null 2>&1
run_updater "$t/updater-empty-ini" "$t" 'ok\n' "$t/out-empty-ini"
check "empty updata.ini: exit code 0" test "$(cat "$t/out-empty-ini.rc")" = 0
check "empty updata.ini: no output" test ! -s "$t/out-empty-ini"

echo "$failures failed"
[ "$failures" -eq 0 ]
