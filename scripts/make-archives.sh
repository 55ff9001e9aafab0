#!/usr/bin/env bash
# Makes the release archive of one build: pakupdate-VERSION-linux-x86_64.tar.gz from a
# Linux build, pakupdate-VERSION-windows-x86_64.zip from a Windows build. The archive
# holds what `cmake --install --strip` lays out, under one top folder.
#
# The same commit gives the same archive byte for byte, wherever and whenever it is
# built: entries in name order, every date that of the commit (SOURCE_DATE_EPOCH when
# set, else the commit's time), owners 0, modes 0755 for folders and programs and 0644
# for the rest, and no dates or owners in the compressed stream.
#
# Usage: scripts/make-archives.sh BUILD_DIR OUT_DIR   (prints the archive's path)
set -euo pipefail
build=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
root=$(cd "$(dirname "$0")/.." && pwd)

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || {
    echo "make-archives: no SOURCE_DATE_EPOCH and no git commit to take the date from" >&2
    exit 1
  }
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || {
  echo "make-archives: $build is no configured build folder" >&2
  exit 1
}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage/tree" --strip >"$stage/install.log" 2>&1 || {
  cat "$stage/install.log" >&2
  exit 1
}
if [ -f "$stage/tree/bin/pak.exe" ]; then system=windows-x86_64; else system=linux-x86_64; fi
name=pakupdate-$version-$system
mv "$stage/tree" "$stage/$name"
rm -f "$out/$name".*.tmp

cd "$stage"
find "$name" -type d -exec chmod 0755 {} +
find "$name" -type f -exec chmod 0644 {} +
find "$name/bin" -type f -exec chmod 0755 {} +
find "$name" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
if [ $system = linux-x86_64 ]; then
  archive=$out/$name.tar.gz
  find "$name" -print0 | LC_ALL=C sort -z |
    tar --format=gnu --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" --no-recursion --null \
      --files-from=- -cf - | gzip -9 -n >"$archive.tmp"
else
  archive=$out/$name.zip
  # zip keeps local times: UTC makes them the same everywhere. -X: no owners or
  # extra time fields.
  find "$name" | LC_ALL=C sort | TZ=UTC zip -X -q -9 "$archive.tmp" -@
fi
mv "$archive.tmp" "$archive"
echo "$archive"
