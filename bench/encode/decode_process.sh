#!/usr/bin/env bash
# Times `pak decode` as a whole process against `gzip -d`, on the codec benchmark's
# corpus written one file after the other into one file (see README.md).
#   bench/encode/decode_process.sh [BUILD_DIR] [ROUNDS]
# BUILD_DIR is a Release build configured with -DPAKUPDATE_BENCH=ON (default
# build/release). Each round runs `pak decode IN OUT` and then `gzip -d -c IN.gz >OUT`,
# both from and to files in the same temporary folder; it prints the medians over the
# rounds of each one's wall and CPU (user + system) seconds and of the per-round ratios
# gzip / pak. The first round of each is a warm-up and not counted.
set -euo pipefail
build=${1:-build/release}
rounds=${2:-15}
pak=${PAK:-$build/tools/pak}  # PAK=... times another build of pak
compare=$build/bench/encode/encode_codec_compare
[ -x "$pak" ] && [ -x "$compare" ] || { echo "build pak and encode_codec_compare in $build first" >&2; exit 1; }
wine_dir=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
corpus=("$wine_dir/comctl32.dll" /usr/share/mime/packages/freedesktop.org.xml
  /usr/lib/x86_64-linux-gnu/libstdc++.so.6.0.30 /usr/share/doc/xserver-common/changelog.gz
  gen:runs gen:ascending gen:stairs)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$compare" --write "$work/corpus" "${corpus[@]}"
"$pak" encode "$work/corpus" "$work/corpus.enc"
gzip -6 -c "$work/corpus" >"$work/corpus.gz"
echo "corpus $(stat -c %s "$work/corpus") bytes; EnCode $(stat -c %s "$work/corpus.enc"), gzip -6 $(stat -c %s "$work/corpus.gz")"

# Prints "wall cpu" seconds of one run of the command.
timed() {
  local TIMEFORMAT='%R %U %S' t
  t=$({ time "$@" >/dev/null; } 2>&1)
  echo "$t" | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}
gunzip_to() { gzip -d -c "$work/corpus.gz" >"$1"; }

: >"$work/times"
for ((i = 0; i <= rounds; i++)); do
  p=$(timed "$pak" decode "$work/corpus.enc" "$work/out.pak")
  g=$(timed gunzip_to "$work/out.gz")
  ((i == 0)) || echo "$p $g" >>"$work/times"
done
cmp -s "$work/corpus" "$work/out.pak" && cmp -s "$work/corpus" "$work/out.gz" || { echo "output differs" >&2; exit 1; }
python3 - "$work/times" <<'PY'
import statistics, sys
rows = [list(map(float, line.split())) for line in open(sys.argv[1])]
pw, pc, gw, gc = (statistics.median(r[i] for r in rows) for i in range(4))
rw = statistics.median(r[2] / max(r[0], 1e-3) for r in rows)
rc = statistics.median(r[3] / max(r[1], 1e-3) for r in rows)
print(f"{len(rows)} rounds, medians:   wall s   cpu s")
print(f"  pak decode          {pw:7.3f}  {pc:7.3f}")
print(f"  gzip -d             {gw:7.3f}  {gc:7.3f}")
print(f"  gzip / pak (paired) {rw:7.2f}x {rc:7.2f}x   goal >= 4x")
PY
