#!/usr/bin/env bash
# pak encode and pak decode: files and pipes, and a malformed stream that must fail
# with one line naming the problem and leave no output file behind.
set -u
pak=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

printf 'abcabcabc' >"$work/abc"
"$pak" encode "$work/abc" "$work/abc.enc" || fail "encode failed"
[ "$(od -An -tx1 "$work/abc.enc" | tr -d ' \n')" = 456e436f6465090000001400000007616263f0f3 ] ||
  fail "abcabcabc stream: $(od -An -tx1 "$work/abc.enc")"
head -c 100000 /dev/urandom >"$work/rnd"
yes 'a line that repeats' | head -c 200000 >>"$work/rnd"
"$pak" encode "$work/rnd" "$work/rnd.enc" || fail "encode failed"
"$pak" decode "$work/rnd.enc" "$work/rnd.out" || fail "decode failed"
cmp -s "$work/rnd" "$work/rnd.out" || fail "round trip through files"
"$pak" encode - - <"$work/rnd" | "$pak" decode - - | cmp -s - "$work/rnd" || fail "round trip through pipes"
"$pak" decode "$work/rnd.enc" "$work/rnd.out" || fail "decode over an existing file failed"

# A truncated stream, then one with a reference before any output.
head -c 5000 "$work/rnd.enc" >"$work/cut.enc"
if "$pak" decode "$work/cut.enc" "$work/cut.out" 2>"$work/err"; then fail "decode of a cut stream must fail"; fi
[ "$(wc -l <"$work/err")" = 1 ] || fail "one line expected: $(cat "$work/err")"
grep -q 'offset 5000' "$work/err" || fail "message must name the offset: $(cat "$work/err")"
printf 'EnCode\x03\x00\x00\x00\x11\x00\x00\x00\x00\xf0\xf0' >"$work/ref.enc"
if "$pak" decode "$work/ref.enc" "$work/ref.out" 2>"$work/err"; then fail "decode of a bad reference must fail"; fi
grep -q 'unwritten slot at offset 15' "$work/err" || fail "bad reference message: $(cat "$work/err")"
[ -z "$(ls "$work" | grep -E '^(cut|ref)\.out')" ] || fail "a failed decode left a file: $(ls "$work")"
echo "pak_codec_test: ok"
