#!/usr/bin/env bash
# Makes the release archives (scripts/make-archives.sh) and checks them as a publisher
# gets them: what they hold, the programs' versions and licences, what the Linux
# programs need of the system, and the publisher's path of the archive README, run as
# written in an empty folder with the programs from the archives (the Windows one in
# cmd.exe under Wine).
# Usage: scripts/check-archives.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
linux=$(realpath "$1")
windows=$(realpath "$2")
out=$(mktemp -d)
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && WINEPREFIX=$WINEPREFIX wineserver -k >/dev/null 2>&1
  rm -rf "$out"
}
trap cleanup EXIT
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

tgz=$("$root/scripts/make-archives.sh" "$linux" "$out/archives") || fail "the Linux archive"
zip=$("$root/scripts/make-archives.sh" "$windows" "$out/archives") || fail "the Windows archive"
[ -f "$tgz" ] && [ -f "$zip" ] || exit 1
version=$(basename "$tgz" | sed 's/^pakupdate-\(.*\)-linux-x86_64.tar.gz$/\1/')

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
docs=$(cd "$root" && find docs -type f | LC_ALL=C sort)
common=(README.md LICENSE THIRD_PARTY_NOTICES.txt $docs)
expect_listing "$tgz" bin/pak bin/updater-stub "${common[@]}"
expect_listing "$zip" bin/pak.exe bin/updater-stub.exe "${common[@]}"

# Unpacked in an empty folder, as a publisher does.
work=$out/work
mkdir -p "$work"
tar -xzf "$tgz" -C "$work"
(cd "$work" && unzip -q "$zip")
lin=$work/pakupdate-$version-linux-x86_64
win=$work/pakupdate-$version-windows-x86_64
[ -d "$lin" ] && [ -d "$win" ] || fail "the archives' top folders are not pakupdate-$version-..."

# Versions: from the one version of the build, on both platforms.
[ "$("$lin/bin/pak" --version)" = "pak $version" ] || fail "pak --version: $("$lin/bin/pak" --version)"
[ "$("$lin/bin/updater-stub" --version)" = "updater (pakupdate $version)" ] ||
  fail "updater-stub --version: $("$lin/bin/updater-stub" --version)"
for exe in pak.exe updater-stub.exe; do
  strings -el "$win/bin/$exe" | grep -qx "$version" || fail "$exe has no version resource of $version"
  strings -el "$win/bin/$exe" | grep -qx "pakupdate" || fail "$exe has no product name in its version resource"
done
"$lin/bin/pak" --licenses | grep -q "THIRD_PARTY_NOTICES.txt" || fail "pak --licenses does not name the notices"
grep -q "MIT License" "$lin/LICENSE" || fail "LICENSE is not the MIT licence"
for part in zlib CLI11 "GCC RUNTIME LIBRARY EXCEPTION" winpthreads MinGW-w64; do
  grep -q "$part" "$lin/THIRD_PARTY_NOTICES.txt" || fail "THIRD_PARTY_NOTICES.txt lacks $part"
done

# The stubs in the archives carry no package.
if "$lin/bin/pak" verify "$lin/bin/updater-stub" >/dev/null 2>&1; then fail "the Linux stub carries a package"; fi
if "$lin/bin/pak" verify "$win/bin/updater-stub.exe" >/dev/null 2>&1; then fail "the Windows stub carries a package"; fi

# The Linux programs load no shared library but the C library, and need no newer C
# library than the README says.
min_glibc=$(sed -n 's/.*(glibc) \([0-9.]*\) or later.*/\1/p' "$lin/README.md")
[ -n "$min_glibc" ] || fail "the README names no minimum glibc"
for program in pak updater-stub; do
  needed=$(readelf -d "$lin/bin/$program" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | sort | tr '\n' ' ')
  for library in $needed; do
    case "$library" in
      libc.so.6 | libm.so.6 | ld-linux-x86-64.so.2) ;;
      *) fail "$program loads $library (only the C library's expected)" ;;
    esac
  done
  newest=$(objdump -T "$lin/bin/$program" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -1)
  [ "$(printf '%s\n%s\n' "$newest" "$min_glibc" | sort -V | tail -1)" = "$min_glibc" ] ||
    fail "$program needs glibc $newest, the README says $min_glibc"
  echo "$program: loads ${needed}needs glibc $newest or later"
done

# The README's publisher path, as written, in a folder holding only the unpacked
# archives and two releases of a game (made with the archive's pak).
pak=$lin/bin/pak
make_release() {  # DIR VARIANT: a small game install, 1.0 or 1.1
  local dir=$work/$1 variant=$2 src=$out/src-$2
  mkdir -p "$dir/maps" "$src/text" "$src/ui"
  printf 'game %s\n' "$variant" >"$dir/game.cfg"
  printf 'town map %.0s' {1..40} >"$dir/maps/town01.map"
  printf 'line %d\n' {1..300} >"$src/text/dialog.txt"
  printf 'font 12\n' >"$src/ui/font.cfg"
  if [ "$variant" = 1.0 ]; then
    echo old >"$dir/maps/old.map"
    echo gone >"$src/ui/gone.cfg"
    "$pak" create "$dir/sound.pak" "$src/ui" >/dev/null
  else
    echo "town 1.1" >>"$dir/maps/town01.map"
    mkdir -p "$dir/maps/field"
    echo new >"$dir/maps/field/field01.map"
    printf 'line %d changed\n' {1..20} >>"$src/text/dialog.txt"
    echo quest >"$src/text/quest.txt"
  fi
  "$pak" create "$dir/data.pak" "$src" >/dev/null
}
make_release release-1.0 1.0
make_release release-1.1 1.1
printf '更新 1.1\n新的地圖\n' >"$work/notes-1.1.txt"
# A code-signing certificate of our own, for the signing step.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=MyGame test" -keyout "$work/my-key.pem" \
  -out "$work/my-certificate.pem" >/dev/null 2>&1 || fail "openssl cannot make a test certificate"

# readme_block NAME: the fenced block below "<!-- check-archives: NAME -->".
readme_block() {
  awk -v mark="<!-- check-archives: $1 -->" '
    $0 == mark {found = 1; next}
    found && /^```/ {if (inside) exit; inside = 1; next}
    inside {print}' "$lin/README.md"
}
linux_steps=$(readme_block linux)
[ -n "$linux_steps" ] || fail "the README has no Linux publisher path"
(cd "$work" && bash -euo pipefail -c "$linux_steps"$'\n'"$(readme_block linux-windows-installer)") \
  >"$out/linux-path.log" 2>&1 || {
  cat "$out/linux-path.log"
  fail "the README's Linux publisher path"
}
[ -f "$work/updater-1.1.exe" ] && "$pak" verify "$work/updater-1.1.exe" >/dev/null &&
  osslsigncode verify -CAfile "$work/my-certificate.pem" -in "$work/updater-1.1.exe" >/dev/null 2>&1 ||
  fail "the Windows installer made on Linux is not signed and sound"

# The Windows path in cmd.exe under Wine, stopping at the first command that fails.
# signtool is the one step Wine lacks: osslsigncode signs in its place.
export WINEPREFIX=$out/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
wineboot -i >/dev/null 2>&1
windows_steps=$(readme_block windows)
[ -n "$windows_steps" ] || fail "the README has no Windows publisher path"
batch() {  # LINES...: a batch file that stops at the first failing command
  echo "$1" | awk '{print} !/^(set |rem |$)/ {print "if errorlevel 1 exit /b 1"}' | sed 's/$/\r/'
}
before=$(echo "$windows_steps" | sed '/^signtool /,$d')
after=$(echo "$windows_steps" | sed '1,/^signtool /d')
batch "$before" >"$work/publish-1.bat"
batch "$(echo "$windows_steps" | grep '^set ')"$'\n'"$after" >"$work/publish-2.bat"
for check_dir in patch-1.1 check-1.1; do rm -rf "${work:?}/$check_dir"; done
rm -f "$work"/updater-1.1* "$work/check-1.1.log"
(cd "$work" && wine cmd /c publish-1.bat) >"$out/windows-path.log" 2>&1 &&
  osslsigncode sign -certs "$work/my-certificate.pem" -key "$work/my-key.pem" -n "MyGame update 1.1" \
    -in "$work/updater-1.1.exe" -out "$work/signed.exe" >>"$out/windows-path.log" 2>&1 &&
  mv "$work/signed.exe" "$work/updater-1.1.exe" &&
  (cd "$work" && wine cmd /c publish-2.bat) >>"$out/windows-path.log" 2>&1 || {
  cat "$out/windows-path.log"
  fail "the README's Windows publisher path under Wine"
}
grep -q "^result 0" "$work/check-1.1.log" 2>/dev/null || fail "the Windows installer's log: $(cat "$work/check-1.1.log")"
# The same comparison from the Linux side: the Windows run gave the new release.
"$pak" compare "$work/check-1.1" "$work/release-1.1" || fail "the Windows installer did not give release-1.1"

[ $status -eq 0 ] && echo "archives: ok ($(basename "$tgz"), $(basename "$zip")); publisher paths ran as written"
exit $status
