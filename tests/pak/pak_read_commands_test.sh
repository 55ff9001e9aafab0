#!/usr/bin/env bash
# pak list, cat and verify on a sound pack and a damaged one.
set -u
pak=$1 probe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# 許 is B3 5C in code page 950: its second byte is a backslash.
"$probe" write "$work/p.pak" "alpha.bin" "0123456789" "sub\\beta.bin" "BETA!" $'\xb3\\.txt' "big5" \
  "my dir\\a b.txt" "" || fail "cannot write a pack"

out=$("$pak" list "$work/p.pak") || fail "list failed"
[ "$out" = $'10 raw 10 alpha.bin\n0 raw 0 my dir\\a b.txt\n5 raw 5 sub\\beta.bin\n4 raw 4 許.txt' ] ||
  fail "list: $out"
out=$("$pak" list --json "$work/p.pak") || fail "list --json failed"
echo "$out" | grep -qF '{"stored": 5, "kind": "raw", "decoded": 5, "path": "sub\\beta.bin"}' || fail "json: $out"
echo "$out" | grep -qF '"path": "許.txt"' || fail "json big5: $out"

[ "$("$pak" cat "$work/p.pak" 'SUB/Beta.bin')" = "BETA!" ] || fail "cat with slashes"
[ "$("$pak" cat "$work/p.pak" '許.TXT')" = "big5" ] || fail "cat of a Big5 name typed in UTF-8"
if "$pak" cat "$work/p.pak" missing 2>"$work/err"; then fail "cat of a missing entry must fail"; fi
[ -s "$work/err" ] || fail "cat of a missing entry gave no message"

out=$("$pak" verify "$work/p.pak") || fail "verify of a sound pack failed: $out"
[ "$(echo "$out" | wc -l)" = 1 ] || fail "verify summary: $out"

# Damage: the first record's offset points past the end, and its name gets a capital.
cp "$work/p.pak" "$work/bad.pak"
printf '\xff\xff\x00\x00A' | dd of="$work/bad.pak" bs=1 seek=4 conv=notrunc status=none
if out=$("$pak" verify "$work/bad.pak" 2>/dev/null); then fail "verify of a damaged pack must fail"; fi
[ "$(echo "$out" | wc -l)" -ge 2 ] || fail "verify problems: $out"
echo "$out" | grep -q 'offset 4' || fail "verify must name the offset: $out"
if "$pak" list "$work/bad.pak" >/dev/null 2>&1; then fail "list of a damaged pack must fail"; fi
echo "pak_read_commands_test: ok"
