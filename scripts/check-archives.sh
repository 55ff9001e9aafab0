#!/usr/bin/env bash
# Makes the release archives with CPack and checks what they hold.
# Usage: scripts/check-archives.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -uo pipefail
linux=$(realpath "$1")
windows=$(realpath "$2")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

# expect_listing ARCHIVE FILE...: the archive holds exactly these files below its
# top folder (directories left out).
expect_listing() {
  local archive=$1
  shift
  local listing expected
  listing=$(cmake -E tar tf "$archive" | grep -v '/$' | sed 's|^[^/]*/||' | LC_ALL=C sort)
  expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
  [ "$listing" = "$expected" ] || fail "$(basename "$archive") holds:"$'\n'"$listing"$'\n'"expected:"$'\n'"$expected"
}

(cd "$out" && cpack --config "$linux/CPackConfig.cmake" -B "$out/linux" >"$out/linux.log" 2>&1) ||
  { cat "$out/linux.log"; fail "cpack of the Linux build"; }
(cd "$out" && cpack --config "$windows/CPackConfig.cmake" -B "$out/windows" >"$out/windows.log" 2>&1) ||
  { cat "$out/windows.log"; fail "cpack of the Windows build"; }

tgz=$(ls "$out"/linux/pakupdate-*-linux-x86_64.tar.gz 2>/dev/null | head -1)
zip=$(ls "$out"/windows/pakupdate-*-windows-x86_64.zip 2>/dev/null | head -1)
[ -n "$tgz" ] || fail "no Linux .tar.gz"
[ -n "$zip" ] || fail "no Windows .zip"
docs=$(cd "$(dirname "$0")/.." && find docs -type f | LC_ALL=C sort)
# shellcheck disable=SC2086
[ -n "$tgz" ] && expect_listing "$tgz" bin/pak bin/updater-stub README.md $docs
# shellcheck disable=SC2086
[ -n "$zip" ] && expect_listing "$zip" bin/pak.exe bin/updater-stub.exe README.md $docs

# The stubs in the archives carry no package, and the Linux pak runs.
mkdir -p "$out/x"
if [ -n "$tgz" ]; then
  tar -xzf "$tgz" -C "$out/x"
  "$out"/x/pakupdate-*/bin/pak --help >/dev/null || fail "the archived pak does not run"
  if "$out"/x/pakupdate-*/bin/pak verify "$out"/x/pakupdate-*/bin/updater-stub >/dev/null 2>&1; then
    fail "the archived Linux stub carries a package"
  fi
  if [ -n "$zip" ]; then
    (cd "$out/x" && cmake -E tar xf "$zip")
    if "$out"/x/pakupdate-*-linux-x86_64/bin/pak verify "$out"/x/pakupdate-*-windows-x86_64/bin/updater-stub.exe \
        >/dev/null 2>&1; then
      fail "the archived Windows stub carries a package"
    fi
  fi
fi
[ $status -eq 0 ] && echo "archives: ok ($(basename "$tgz"), $(basename "$zip"))"
exit $status
