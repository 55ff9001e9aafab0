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
echo "bundle_test: ok"
