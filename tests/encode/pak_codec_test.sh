#!/usr/bin/env bash
# pak encode and pak decode: files and pipes, and a malformed stream that must fail
# with one line naming the problem and leave no output file behind; inputs that are
# not files; streams whose decoded size is far beyond the memory the command may use.
set -u
pak=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
. "$(dirname "$0")/stream_fixtures.sh"
probe_memory_limit "$pak"

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

# --level: exact is the default stream; fast and best decode back; best is no larger
# than exact (one byte of rounding in the last flag byte aside); other words refused.
"$pak" encode --level exact "$work/rnd" "$work/rnd.exact" && cmp -s "$work/rnd.enc" "$work/rnd.exact" ||
  fail "--level exact must write the default stream"
for level in fast best; do
  "$pak" encode --level "$level" "$work/rnd" "$work/rnd.$level" || fail "encode --level $level failed"
  "$pak" decode "$work/rnd.$level" - | cmp -s - "$work/rnd" || fail "round trip at --level $level"
done
[ "$(stat -c %s "$work/rnd.best")" -le "$(($(stat -c %s "$work/rnd.enc") + 1))" ] || fail "best larger than exact"
if "$pak" encode --level quick "$work/rnd" "$work/rnd.quick" 2>"$work/err"; then fail "--level quick accepted"; fi
grep -q 'must be exact, fast or best' "$work/err" || fail "--level message: $(cat "$work/err")"
[ ! -e "$work/rnd.quick" ] || fail "a refused --level left output"

# A truncated stream, then one with a reference before any output.
head -c 5000 "$work/rnd.enc" >"$work/cut.enc"
if "$pak" decode "$work/cut.enc" "$work/cut.out" 2>"$work/err"; then fail "decode of a cut stream must fail"; fi
[ "$(wc -l <"$work/err")" = 1 ] || fail "one line expected: $(cat "$work/err")"
grep -q 'offset 5000' "$work/err" || fail "message must name the offset: $(cat "$work/err")"
printf 'EnCode\x03\x00\x00\x00\x11\x00\x00\x00\x00\xf0\xf0' >"$work/ref.enc"
if "$pak" decode "$work/ref.enc" "$work/ref.out" 2>"$work/err"; then fail "decode of a bad reference must fail"; fi
grep -q 'unwritten slot at offset 15' "$work/err" || fail "bad reference message: $(cat "$work/err")"
[ -z "$(ls "$work" | grep -E '^(cut|ref)\.out')" ] || fail "a failed decode left a file: $(ls "$work")"

# Inputs that are not regular files: refused with one line, exit 1, never waiting.
mkdir "$work/dir"
mkfifo "$work/fifo"
for command in encode decode; do
  for input in dir fifo; do
    timeout 20 "$pak" "$command" "$work/$input" "$work/$input.out" 2>"$work/err"
    status=$?
    [ "$status" = 1 ] || fail "$command of a $input: exit $status, $(cat "$work/err")"
    [ "$(wc -l <"$work/err")" = 1 ] && grep -q '^pak: cannot read .*'"$input" "$work/err" ||
      fail "$command of a $input: $(cat "$work/err")"
    [ ! -e "$work/$input.out" ] && [ ! -e "$work/$input.out.pak-tmp" ] || fail "$command of a $input left output"
  done
done
printf 'abc' | "$pak" encode - "$work/stdin.enc" && "$pak" decode - - <"$work/stdin.enc" | cmp -s - <(printf 'abc') ||
  fail "stdin to a file and back to stdout"

# A stream claiming 4 GiB - 1 bytes fails with its decode error, under a memory limit
# far below the claim, and leaves no output.
write_claims_4gib "$work/claims.enc"
limited "$pak" decode "$work/claims.enc" "$work/claims.out" 2>"$work/err"
status=$?
[ "$status" = 1 ] || fail "decode of a 4 GiB claim: exit $status, $(cat "$work/err")"
grep -q "stream ends before the decoded size is reached at offset $CLAIMS_4GIB_STREAM_SIZE" "$work/err" ||
  fail "decode of a 4 GiB claim: $(cat "$work/err")"
[ ! -e "$work/claims.out" ] && [ ! -e "$work/claims.out.pak-tmp" ] || fail "a failed decode left output"

# A 79 KB stream that really decodes to 1 GiB of zeros, under the same limit: to a
# file and to a pipe.
write_gib_of_runs "$work/gib.enc"
limited "$pak" decode "$work/gib.enc" "$work/gib.out" || fail "decode of 1 GiB of runs to a file"
[ "$(stat -c %s "$work/gib.out")" = "$GIB_OF_RUNS_DECODED_SIZE" ] || fail "1 GiB decode: $(stat -c %s "$work/gib.out")"
cmp -s -n "$GIB_OF_RUNS_DECODED_SIZE" "$work/gib.out" /dev/zero || fail "1 GiB decode: not all zeros"
rm -f "$work/gib.out"
[ "$(limited "$pak" decode "$work/gib.enc" - | wc -c)" = "$GIB_OF_RUNS_DECODED_SIZE" ] ||
  fail "decode of 1 GiB of runs to a pipe"
echo "pak_codec_test: ok"
