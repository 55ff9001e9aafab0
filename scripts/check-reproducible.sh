#!/usr/bin/env bash
# Builds the release pieces of one commit twice, from two copies of its tree in folders
# of different names and one after the other, and checks that they are the same byte
# for byte: pak, the stubs and updater.exe of the Linux and Windows builds, and both
# release archives. Prints the SHA-256 of each, which a publisher can compare with a
# published one.
# Usage: scripts/check-reproducible.sh [COMMIT]   (default HEAD; PAKUPDATE_JOBS: -j)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse "${1:-HEAD}") || exit 1
jobs=${PAKUPDATE_JOBS:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The archives' dates are the commit's.
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
# Every compiler run happens in both builds: no cached objects.
export CCACHE_DISABLE=1

pieces=(linux/tools/pak linux/tools/updater-stub windows/tools/pak.exe windows/tools/updater-stub.exe
        windows/app/updater.exe)

build_tree() {  # DIR: the commit's tree in DIR, built, its archives in DIR/archives
  local src=$1
  mkdir -p "$src"
  git -C "$root" archive "$commit" | tar -x -C "$src" || return 1
  cmake -S "$src" -B "$src/build/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPAKUPDATE_TESTS=OFF \
    -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc >"$src/build.log" 2>&1 &&
    cmake --build "$src/build/linux" -j "$jobs" --target pak updater_stub >>"$src/build.log" 2>&1 &&
    cmake -S "$src" -B "$src/build/windows" -G Ninja --toolchain "$src/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DPAKUPDATE_TESTS=OFF -DPAKUPDATE_HOST_PAK="$src/build/linux/tools/pak" \
      >>"$src/build.log" 2>&1 &&
    cmake --build "$src/build/windows" -j "$jobs" --target pak updater_stub updater >>"$src/build.log" 2>&1 &&
    "$src/scripts/make-archives.sh" "$src/build/linux" "$src/archives" >>"$src/build.log" 2>&1 &&
    "$src/scripts/make-archives.sh" "$src/build/windows" "$src/archives" >>"$src/build.log" 2>&1 ||
    {
      tail -40 "$src/build.log"
      return 1
    }
}

start=$(date +%s)
build_tree "$work/first" || exit 1
sleep 1  # a later second, whatever the clock's resolution
build_tree "$work/the-second-build-elsewhere/src" || exit 1
echo "two builds of ${commit:0:12}: $(($(date +%s) - start)) s"

status=0
for piece in "${pieces[@]}"; do
  a=$work/first/build/$piece b=$work/the-second-build-elsewhere/src/build/$piece
  if cmp -s "$a" "$b"; then
    echo "same: $(sha256sum "$a" | cut -c1-64) $piece"
  else
    echo "FAIL: $piece differs between the two builds"
    status=1
  fi
done
for a in "$work"/first/archives/*; do
  b=$work/the-second-build-elsewhere/src/archives/$(basename "$a")
  if cmp -s "$a" "$b"; then
    echo "same: $(sha256sum "$a" | cut -c1-64) $(basename "$a")"
  else
    echo "FAIL: $(basename "$a") differs between the two builds"
    status=1
  fi
done
[ "$(ls "$work"/first/archives | wc -l)" = 2 ] || {
  echo "FAIL: expected two archives"
  status=1
}
exit $status
