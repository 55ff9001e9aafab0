#!/usr/bin/env bash
# The installer under a file-size limit (ulimit -f, RLIMIT_FSIZE): a file the limit
# refuses is a reported failure like any other (exit 4, a log line naming it), its old
# file stays, no temporary file is left, and the files within the limit are written.
#
#   file_size_limit.sh STUB PAK
set -u
stub=$(realpath "$1")
pak=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/pakupdate-fsize.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$work/tree/sub" "$work/package" "$work/game/sub"
head -c 8000 /dev/urandom >"$work/tree/sub/big.bin"
printf 'small new' >"$work/tree/small.txt"
"$pak" create "$work/package/DLL.pak" "$work/tree" >/dev/null || fail "pak create"
printf '[inst]\r\ndir=%s\r\n' "$work/game" >"$work/package/UPDATA.INI"
printf 'notes' >"$work/package/NOTE.TXT"
"$pak" bundle "$stub" "$work/package" "$work/updater" || fail "pak bundle"
printf 'old big' >"$work/game/sub/big.bin"

# Limit of 4 KiB: big.bin (8,000 bytes) cannot be written, small.txt and the log can.
# Output through a pipe, which the limit does not cover.
(ulimit -f 4; "$work/updater" --silent --log "$work/log" 2>&1; echo "exit $?") | cat >"$work/out"
status=$(sed -n 's/^exit //p' "$work/out")
[ "$status" = 4 ] || fail "exit $status, not 4: $(cat "$work/out")"
[ -f "$work/log" ] || fail "no log written"
grep -q 'big\.bin' "$work/log" || fail "the log does not name big.bin: $(cat "$work/log")"
[ "$(cat "$work/game/sub/big.bin")" = 'old big' ] || fail "the old big.bin is gone"
[ "$(cat "$work/game/small.txt")" = 'small new' ] || fail "small.txt not written"
leftovers=$(find "$work/game" -name '*.pakupdate-temp')
[ -z "$leftovers" ] || fail "temporary files left: $leftovers"

# Without the limit, a second run completes the job.
"$work/updater" --silent >/dev/null 2>&1 || fail "the second run failed"
cmp -s "$work/tree/sub/big.bin" "$work/game/sub/big.bin" || fail "the second run did not write big.bin"
echo "file_size_limit: ok"
