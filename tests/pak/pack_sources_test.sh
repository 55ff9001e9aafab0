#!/usr/bin/env bash
# A pack is taken from the program's own resources first (any case of its name), then
# from the file BASE.pak, else entries come from loose files under BASE.
set -u
pak=$1 probe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/pkg" "$work/run" "$work/run/loose" "$work/run/dll"
printf '[inst]\r\n' > "$work/pkg/UPDATA.INI"
"$probe" write "$work/pkg/Dll.Pak" "Sub\\A.txt" "from resource" || fail "cannot write a pack"
# pak bundle refuses a pack with unfolded names; the probe attaches it unchecked.
"$pak" bundle "$probe" "$work/pkg" "$work/bundled" 2>/dev/null && fail "bundle took a pack that fails the check"
"$probe" attach "$probe" "$work/bundled" UPDATA.INI "$work/pkg/UPDATA.INI" Dll.Pak "$work/pkg/Dll.Pak" ||
  fail "cannot attach the package"
chmod +x "$work/bundled"

cd "$work/run" || fail "no work folder"
"$probe" write dll.pak "sub\\a.txt" "from file" || fail "cannot write a pack"
"$probe" write game.pak "sub\\a.txt" "from game file" || fail "cannot write a pack"
printf 'loose bytes' > loose/b.txt
printf 'loose dll' > dll/b.txt

out=$("$work/bundled" read dll 'SUB\A.TXT' 'b.txt')
# The resource's unfolded name "Sub\A.txt" is stored as it is and cannot be found;
# the loose file stands in for b.txt.
[ "$out" = $'resource\nSUB\\A.TXT: none\nb.txt: loose dll' ] || fail "resource not taken first: $out"
"$probe" write "$work/pkg/Dll.Pak" "sub\\a.txt" "from resource" || fail "cannot write a pack"
"$pak" bundle "$probe" "$work/pkg" "$work/bundled" || fail "bundle failed"
out=$("$work/bundled" read DLL 'SUB\A.TXT')
[ "$out" = $'resource\nSUB\\A.TXT: from resource' ] || fail "resource name case: $out"

out=$("$work/bundled" read game 'sub\a.txt' missing)
[ "$out" = $'file\nsub\\a.txt: from game file\nmissing: none' ] || fail "pack file: $out"

out=$("$work/bundled" read loose 'b.txt' 'c.txt')
[ "$out" = $'loose\nb.txt: loose bytes\nc.txt: none' ] || fail "loose files: $out"
echo "pack_sources_test: ok"
