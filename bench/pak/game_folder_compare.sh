#!/usr/bin/env bash
# pak on a game-sized folder of real files, side by side with zip and unzip:
#
#   bench/pak/game_folder_compare.sh [BUILD_DIR] [ROUNDS]
#
# BUILD_DIR is a release build (default build/release) with tools/pak and the
# installer stub app/updater. The folder: 100 Wine PE DLLs of at most 4 MiB (in name
# order) and eleven header trees from /usr/include (names a pack can hold), copied
# from the machine's Debian packages (wine64, libstdc++-12-dev, llvm-14-dev,
# linux-libc-dev, libc6-dev, libx11-dev, libgtest-dev, libgmock-dev,
# mesa-common-dev). Every timing is a median over ROUNDS (default 5), the jobs
# alternating within each round so that the disk's and the other jobs' load falls on
# all of them alike. Peak memory is /usr/bin/time's maximum resident set size.
# Results: bench/pak/GAME_RESULTS.md.
set -euo pipefail
build=$(realpath "${1:-build/release}")
rounds=${2:-5}
pak=$build/tools/pak
stub=$build/app/updater
for tool in "$pak" "$stub" /usr/bin/time zip unzip; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh all)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/pakupdate-game.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The folder: regular files only (no links), every level at most 31 bytes (what a
# pack record holds), and no two paths that fold to one name.
game=$work/game
python3 - "$game" <<'PY'
import os, shutil, sys
game = sys.argv[1]
wine = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"
dlls = sorted(n for n in os.listdir(wine) if n.endswith(".dll") and os.path.getsize(os.path.join(wine, n)) <= 4 << 20)
picked = [(os.path.join(wine, n), os.path.join("dll", n)) for n in dlls[:100]]
for tree in ["c++", "llvm-14", "linux", "x86_64-linux-gnu", "X11", "asm-generic", "GL", "gtest", "gmock", "rdma", "sound"]:
    for root, dirs, files in os.walk(os.path.join("/usr/include", tree)):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            if not os.path.islink(path):
                picked.append((path, os.path.join("include", os.path.relpath(path, "/usr/include"))))
seen = set()
for source, relative in picked:
    folded = relative.lower()
    if folded in seen or any(len(level.encode()) > 31 for level in relative.split("/")):
        continue
    seen.add(folded)
    os.makedirs(os.path.dirname(os.path.join(game, relative)), exist_ok=True)
    shutil.copyfile(source, os.path.join(game, relative))
PY
files=$(find "$game" -type f | wc -l)
bytes=$(du -sb "$game" | cut -f1)
largest=$(find "$game" -type f -printf '%s\n' | sort -n | tail -1)
echo "folder: $files files, $((bytes / 1000000)) MB, largest file $((largest / 1000)) kB"
sync

# seconds and peak kB of one command: "SECONDS KB"
timed() { /usr/bin/time -f '%e %M' -o "$work/time.out" "$@" >/dev/null 2>&1 </dev/null; cat "$work/time.out"; }
median() { sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

declare -A seconds peak
record() {  # record NAME "SECONDS KB"
  seconds[$1]+="${2%% *} "
  local kb=${2##* }
  [ "${peak[$1]:-0}" -ge "$kb" ] || peak[$1]=$kb
}
med() { tr ' ' '\n' <<<"${seconds[$1]}" | grep . | median; }

# Packing: zip -r -6 against pak create with the default (exact) level and --level fast.
for round in $(seq "$rounds"); do
  rm -f "$work/game.zip" "$work/exact.pak" "$work/fast.pak"
  record zip "$(cd "$work" && timed zip -r -6 -q game.zip game)"
  record create_exact "$(timed "$pak" create "$work/exact.pak" "$game")"
  record create_fast "$(timed "$pak" create "$work/fast.pak" "$game" --level fast)"
  echo "round $round packing: zip ${seconds[zip]}| exact ${seconds[create_exact]}| fast ${seconds[create_fast]}"
done
"$pak" create "$work/one-thread.pak" "$game" --level fast -j 1
cmp -s "$work/one-thread.pak" "$work/fast.pak" && same_pack=yes || same_pack=NO

# The installer with the default pack as its payload, installing into an empty folder.
mkdir -p "$work/package"
cp "$work/exact.pak" "$work/package/DLL.pak"
printf '[inst]\r\ndir=%s\r\n' "$work/installed" >"$work/package/UPDATA.INI"
"$pak" bundle "$stub" "$work/package" "$work/updater" >/dev/null
printf 'ok\n' >"$work/answer"
install_run() { /usr/bin/time -f '%e %M' -o "$work/time.out" "$work/updater" <"$work/answer" >/dev/null 2>&1; cat "$work/time.out"; }

# Extraction: unzip then sync, pak extract (durable by itself), the installer's run.
for round in $(seq "$rounds"); do
  rm -rf "$work/out" "$work/installed" && sync
  record unzip "$(timed sh -c "unzip -q '$work/game.zip' -d '$work/out' && sync")"
  rm -rf "$work/out" && sync
  record extract "$(timed "$pak" extract "$work/exact.pak" "$work/out")"
  mkdir -p "$work/installed" && sync
  record install "$(install_run)"
  echo "round $round extraction: unzip+sync ${seconds[unzip]}| extract ${seconds[extract]}| install ${seconds[install]}"
done
# Entry names are folded: the written trees hold the folder's files under lower-case
# names.
listing() { (cd "$1" && find . -type f -exec md5sum {} + | tr 'A-Z' 'a-z' | sort -k2); }
[ "$(listing "$game")" = "$(listing "$work/out")" ] && [ "$(listing "$game")" = "$(listing "$work/installed")" ] &&
  extracted_ok=yes || extracted_ok=NO

mb() { echo $(($1 / 1024)); }
echo
echo "| job | median s | ratio | peak MiB |"
echo "|---|---|---|---|"
echo "| zip -r -6 | $(med zip) | 1 | $(mb "${peak[zip]}") |"
echo "| pak create (exact) | $(med create_exact) | $(ratio "$(med create_exact)" "$(med zip)") × zip | $(mb "${peak[create_exact]}") |"
echo "| pak create --level fast | $(med create_fast) | $(ratio "$(med create_fast)" "$(med zip)") × zip | $(mb "${peak[create_fast]}") |"
echo "| unzip + sync | $(med unzip) | 1 | $(mb "${peak[unzip]}") |"
echo "| pak extract | $(med extract) | $(ratio "$(med extract)" "$(med unzip)") × unzip + sync | $(mb "${peak[extract]}") |"
echo "| installer payload run | $(med install) | $(ratio "$(med install)" "$(med extract)") × pak extract | $(mb "${peak[install]}") |"
echo
echo "memory bound for pak create: 64 MiB + 4 × largest file = $((64 + 4 * largest / 1048576)) MiB"
echo "sizes: zip $(stat -c %s "$work/game.zip"), exact pack $(stat -c %s "$work/exact.pak"), fast pack $(stat -c %s "$work/fast.pak")"
echo "fast pack with -j 1 equals the one with every core: $same_pack"
echo "extracted and installed trees equal the folder (names folded): $extracted_ok"
