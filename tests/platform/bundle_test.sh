#!/usr/bin/env bash
# pak bundle attaches a package that the program finds by any case of its names;
# re-bundling replaces it; errors (damaged packs, FIFOs, folders) leave no output
# behind and never hang.
set -u
pak=$1 probe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/pkg" "$work/pkg2" "$work/empty" "$work/tree"
printf '[inst]\r\nwin_ini=QRM.ini\r\n' > "$work/pkg/Updata.Ini"
printf 'notes' > "$work/pkg/NOTE.TXT"
"$pak" create "$work/pkg/dll.pak" "$work/tree" || fail "cannot make the empty pack"
printf 'ignored' > "$work/pkg/readme.md"
printf '[src]\r\n' > "$work/pkg2/UPDATA.INI"

[ "$("$probe" updata.ini)" = "updata.ini: none" ] || fail "a stub without a package must find nothing"
"$pak" bundle "$probe" "$work/pkg" "$work/bundled" || fail "bundle failed"
[ -x "$work/bundled" ] || fail "run bit lost"
out=$("$work/bundled" updata.ini NOTE.TXT DLL.PAK readme.md)
expected=$'updata.ini: 25 [inst]\nNOTE.TXT: 5 notes\nDLL.PAK: 40 \x01\nreadme.md: none'
[ "$out" = "$expected" ] || fail "unexpected resources: $out"

"$pak" bundle "$work/bundled" "$work/pkg2" "$work/rebundled" || fail "re-bundle failed"
out=$("$work/rebundled" UPDATA.INI note.txt)
[ "$out" = $'UPDATA.INI: 7 [src]\nnote.txt: none' ] || fail "re-bundle did not replace the package: $out"
[ "$(stat -c %s "$work/rebundled")" -lt "$(stat -c %s "$work/bundled")" ] || fail "old package kept"

# Packages whose packs fail pak verify: a 4-byte file, a pack cut short, a table out
# of order. Each problem is one line naming the pack.
mkdir "$work/short" "$work/cut" "$work/unsorted"
for bad in short cut unsorted; do cp "$work/pkg/Updata.Ini" "$work/$bad/UPDATA.INI"; done
printf 'PACK' > "$work/short/dll.pak"
printf 'x' > "$work/tree/a.txt"
"$pak" create "$work/cut/dll.pak" "$work/tree" || fail "cannot make a pack"
truncate -s -1 "$work/cut/dll.pak"
# Root table of two files named "b" then "a", both of length 0 at offset 112.
{ printf '\x03\x00\x00\x00'
  printf '\x70\x00\x00\x00b'; head -c 31 /dev/zero
  printf '\x70\x00\x00\x00a'; head -c 31 /dev/zero
  printf '\x70\x00\x00\x00'; head -c 32 /dev/zero; } > "$work/unsorted/data.pak"
cp "$work/pkg/dll.pak" "$work/unsorted/dll.pak"
"$pak" verify "$work/unsorted/dll.pak" >/dev/null || fail "the sound pack must verify"
"$pak" verify "$work/unsorted/data.pak" >/dev/null 2>&1 && fail "the unsorted pack must not verify"
for bad in short cut unsorted; do
  if timeout 10 "$pak" bundle "$probe" "$work/$bad" "$work/out-$bad" 2>"$work/err"; then fail "bundle of $bad must fail"; fi
  grep -q "^pak: $work/$bad/[a-z]*\.pak: .*(offset [0-9]*): " "$work/err" || fail "no problem line for $bad: $(cat "$work/err")"
  [ "$(grep -vc '^pak: ' "$work/err")" = 0 ] || fail "unprefixed output for $bad: $(cat "$work/err")"
done

# A FIFO or a folder where a file is expected is refused at once.
mkdir "$work/fifo" "$work/folder.pak"
cp "$work/pkg/Updata.Ini" "$work/fifo/UPDATA.INI"
mkfifo "$work/fifo/dll.pak" "$work/stub-fifo"

for args in "/nonexistent $work/pkg $work/out1" "$probe $work/missing $work/out2" "$probe $work/empty $work/out3" \
            "$work/stub-fifo $work/pkg $work/out4" "$work/folder.pak $work/pkg $work/out5" \
            "$probe $work/fifo $work/out6" "$probe $work/pkg/NOTE.TXT $work/out7"; do
  # shellcheck disable=SC2086
  timeout 10 "$pak" bundle $args 2>"$work/err"
  status=$?
  [ "$status" = 1 ] || fail "bundle $args must fail with exit code 1, not $status"
  [ "$(wc -l < "$work/err")" = 1 ] || fail "bundle $args must give one line: $(cat "$work/err")"
done
grep -q "dll.pak: not a regular file" <(timeout 10 "$pak" bundle "$probe" "$work/fifo" "$work/out6" 2>&1) ||
  fail "a FIFO in the package is not named"
ls "$work" | grep -q '^out' && fail "a failed bundle left output behind"
# What the installer refuses, pak bundle refuses too, with one reason a line and no
# output: an empty configuration, one file twice (names differ in case only), removal
# records the run would refuse, a merge pack name that is no plain name.
attach=$(dirname "$0")/attach_package.py
refused_package() {  # refused_package NAME INI_TEXT EXPECTED_TEXT [EXTRA_FILE]
  local dir=$work/refused-$1
  mkdir -p "$dir"
  printf '%b' "$2" >"$dir/UPDATA.INI"
  cp "$work/pkg/dll.pak" "$dir/dll.pak"
  [ -n "${4:-}" ] && cp "$work/pkg/dll.pak" "$dir/$4"
  if timeout 10 "$pak" bundle "$probe" "$dir" "$work/refused-out" 2>"$work/err"; then fail "bundle of $1 must fail"; fi
  grep -qF -- "$3" "$work/err" || fail "bundle of $1 must say \"$3\": $(cat "$work/err")"
  [ ! -e "$work/refused-out" ] || fail "bundle of $1 left output behind"
  # pak verify refuses the same package attached without pak's checks.
  local blobs=() file
  for file in "$dir"/*; do blobs+=("$(basename "$file")=$file"); done
  python3 "$attach" "$probe" "$work/refused-attached" "${blobs[@]}" || fail "cannot attach $1"
  if "$pak" verify "$work/refused-attached" >"$work/out" 2>/dev/null; then fail "pak verify of $1 must fail"; fi
  grep -qF -- "$3" "$work/out" || fail "pak verify of $1 must say \"$3\": $(cat "$work/out")"
}
refused_package empty-ini '' 'empty configuration'
refused_package blank-ini '\r\n\r\n' 'empty configuration'
refused_package twice '[inst]\r\n' 'DLL.PAK' DLL.PAK
refused_package removal '[remove]\r\nfile=..\\outside.txt\r\n' '..\outside.txt'
refused_package pack-name '[pack0]\r\nname=sub\\data\r\n' 'not a plain pack name'
refused_package pack-missing '[pack0]\r\nname=data\r\n' 'data.pak: missing'

# A table with no entries, and a table holding one file twice with a sound record.
python3 "$attach" "$probe" "$work/no-entries" || fail "cannot attach an empty table"
if "$pak" verify "$work/no-entries" >"$work/out" 2>&1; then fail "pak verify of an empty table must fail"; fi
python3 "$attach" "$probe" "$work/twice" "UPDATA.INI=$work/pkg/Updata.Ini" "updata.ini=$work/pkg/Updata.Ini" ||
  fail "cannot attach a table with a file twice"
if "$pak" verify "$work/twice" >"$work/out" 2>&1; then fail "pak verify of a file twice must fail"; fi
grep -q "twice" "$work/out" || fail "pak verify must name the file held twice: $(cat "$work/out")"

# A merge pack named in Big5 (資料, B8 EA AE C6) as pak diff writes it: the file has its
# UTF-8 name, UPDATA.INI the code page 950 bytes; the installer finds the pack by them.
mkdir "$work/big5"
printf '[pack0]\r\nname=\270\352\256\306\r\n' >"$work/big5/UPDATA.INI"
cp "$work/pkg/dll.pak" "$work/big5/dll.pak"
cp "$work/pkg/dll.pak" "$work/big5/資料.pak"
"$pak" bundle "$probe" "$work/big5" "$work/big5-bundled" 2>"$work/err" || fail "Big5 merge pack: $(cat "$work/err")"
out=$("$work/big5-bundled" "$(printf '\270\352\256\306.pak')")
[ "$out" = "$(printf '\270\352\256\306.pak: 40 \001')" ] || fail "Big5 merge pack not found by its name: $out"
"$pak" verify "$work/big5-bundled" >/dev/null || fail "pak verify of the Big5 package"
echo "bundle_test: ok"
