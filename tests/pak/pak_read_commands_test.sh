#!/usr/bin/env bash
# pak list, cat and verify on a sound pack and a damaged one.
set -u
pak=$1 probe=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
. "$(dirname "$0")/../encode/stream_fixtures.sh"
probe_memory_limit "$pak"

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

# Entries that decode to 1 GiB, or claim 4 GiB - 1: cat and verify stream them under
# a memory limit far below either size. Each pack holds one entry, the stream stored
# as it is: a table of two records (76 bytes), then the entry.
one_entry_pack() {  # NAME FILE OUT
  {
    printf "$(le32 2)$(le32 76)%s" "$1"
    head -c $((32 - ${#1})) /dev/zero
    printf "$(le32 $((76 + $(stat -c %s "$2"))))"
    head -c 32 /dev/zero
    cat "$2"
  } >"$3"
}
write_gib_of_runs "$work/gib.enc"
write_claims_4gib "$work/claims.enc"
one_entry_pack gib.bin "$work/gib.enc" "$work/gib.pak"
one_entry_pack claims.bin "$work/claims.enc" "$work/claims.pak"
[ "$(limited "$pak" cat "$work/gib.pak" gib.bin | wc -c)" = "$GIB_OF_RUNS_DECODED_SIZE" ] || fail "cat of 1 GiB"
out=$(limited "$pak" verify "$work/gib.pak") || fail "verify of the 1 GiB entry: $out"
echo "$out" | grep -q "1 files (1 EnCode).* $GIB_OF_RUNS_DECODED_SIZE bytes decoded" || fail "verify summary: $out"
out=$(limited "$pak" verify "$work/claims.pak" 2>"$work/err")
status=$?
[ "$status" = 1 ] || fail "verify of a 4 GiB claim: exit $status, $out $(cat "$work/err")"
[ "$out" = "claims.bin (offset 76): EnCode stream: stream ends before the decoded size is reached at stream offset $CLAIMS_4GIB_STREAM_SIZE" ] ||
  fail "verify of a 4 GiB claim: $out"
limited "$pak" cat "$work/claims.pak" claims.bin 2>"$work/err" >/dev/null
status=$?
[ "$status" = 1 ] || fail "cat of a 4 GiB claim: exit $status, $(cat "$work/err")"
grep -q 'claims.bin: EnCode stream: stream ends before the decoded size' "$work/err" || fail "cat error: $(cat "$work/err")"
# Extraction and merging hold no decoded entry either.
limited "$pak" extract "$work/gib.pak" "$work/gib-out" || fail "extract of 1 GiB"
[ "$(stat -c %s "$work/gib-out/gib.bin")" = "$GIB_OF_RUNS_DECODED_SIZE" ] || fail "size of the extracted 1 GiB"
[ "$(ls -A "$work/gib-out")" = "gib.bin" ] || fail "extract left other files: $(ls -A "$work/gib-out")"
rm -rf "$work/gib-out"
limited "$pak" extract "$work/claims.pak" "$work/claims-out" 2>"$work/err"
status=$?
[ "$status" = 1 ] || fail "extract of a 4 GiB claim: exit $status"
[ -z "$(ls -A "$work/claims-out")" ] || fail "extract of a 4 GiB claim left files: $(ls -A "$work/claims-out")"
mkdir -p "$work/small" && echo small >"$work/small/s.txt"
"$pak" create "$work/target.pak" "$work/small" || fail "create of the merge target"
limited "$pak" merge "$work/target.pak" "$work/gib.pak" || fail "merge of the 1 GiB entry"
"$pak" list "$work/target.pak" | grep -q "^$(stat -c %s "$work/gib.enc") encode $GIB_OF_RUNS_DECODED_SIZE gib.bin$" ||
  fail "merged entry: $("$pak" list "$work/target.pak")"
echo "pak_read_commands_test: ok"
