#!/usr/bin/env bash
# pak bundle attaches a package that the program finds by any case of its names;
# re-bundling replaces it; errors leave no output behind.
set -u
pak=$1 probe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/pkg" "$work/pkg2" "$work/empty"
printf '[inst]\r\nwin_ini=QRM.ini\r\n' > "$work/pkg/Updata.Ini"
printf 'notes' > "$work/pkg/NOTE.TXT"
printf 'PACK' > "$work/pkg/dll.pak"
printf 'ignored' > "$work/pkg/readme.md"
printf '[src]\r\n' > "$work/pkg2/UPDATA.INI"

[ "$("$probe" updata.ini)" = "updata.ini: none" ] || fail "a stub without a package must find nothing"
"$pak" bundle "$probe" "$work/pkg" "$work/bundled" || fail "bundle failed"
[ -x "$work/bundled" ] || fail "run bit lost"
out=$("$work/bundled" updata.ini NOTE.TXT DLL.PAK readme.md)
expected=$'updata.ini: 25 [inst]\nNOTE.TXT: 5 notes\nDLL.PAK: 4 PACK\nreadme.md: none'
[ "$out" = "$expected" ] || fail "unexpected resources: $out"

"$pak" bundle "$work/bundled" "$work/pkg2" "$work/rebundled" || fail "re-bundle failed"
out=$("$work/rebundled" UPDATA.INI note.txt)
[ "$out" = $'UPDATA.INI: 7 [src]\nnote.txt: none' ] || fail "re-bundle did not replace the package: $out"
[ "$(stat -c %s "$work/rebundled")" -lt "$(stat -c %s "$work/bundled")" ] || fail "old package kept"

for args in "/nonexistent $work/pkg $work/out1" "$probe $work/missing $work/out2" "$probe $work/empty $work/out3"; do
  # shellcheck disable=SC2086
  if "$pak" bundle $args 2>"$work/err"; then fail "bundle $args must fail"; fi
  [ -s "$work/err" ] || fail "bundle $args gave no message"
done
ls "$work" | grep -q '^out' && fail "a failed bundle left output behind"
echo "bundle_test: ok"
