#!/usr/bin/env bash
# Runs every test: the Linux build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the Windows build under Wine (with its end-to-end
# tests on a virtual X display), a bounded smoke run of each fuzz target, a build of
# the benchmarks, the release archives checked as a publisher uses them, and two
# builds of the commit compared byte for byte. Fails when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${PAKUPDATE_JOBS:-2}

bash scripts/install-deps.sh all || exit 1

passed=0
failed=0
failures=()
stage() {  # stage NAME COMMAND...: runs one step, counts it
  local name=$1
  shift
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name FAILED"
  fi
}
build() {  # build PRESET [extra cmake args...]
  local preset=$1
  shift
  cmake --preset "$preset" "$@" >"build-$preset.log" 2>&1 || { cat "build-$preset.log"; return 1; }
  cmake --build --preset "$preset" -j "$jobs" >>"build-$preset.log" 2>&1 || { tail -60 "build-$preset.log"; return 1; }
}

mkdir -p build
cd build 2>/dev/null && cd "$root"

stage "linux build" build debug
stage "linux tests" ctest --preset debug -j "$jobs"

stage "sanitizer build" build asan
stage "sanitizer tests" env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --preset asan -j "$jobs"

stage "thread sanitizer build" build tsan
stage "thread sanitizer tests" env TSAN_OPTIONS=halt_on_error=1 ctest --preset tsan

stage "windows build" build windows -DPAKUPDATE_HOST_PAK="$root/build/debug/tools/pak"
wine_tests() {
  local prefix_root
  prefix_root=$(mktemp -d)
  export WINEPREFIX=$prefix_root/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
  wineboot -i >/dev/null 2>&1
  local status=0
  ctest --preset windows || status=1
  if [ -x tests/e2e/wine_e2e.sh ] && [ -f build/windows/app/updater.exe ]; then
    tests/e2e/wine_e2e.sh "$root/build/windows" "$root/build/debug" || status=1
    tests/e2e/wine_run_e2e.sh "$root/build/windows" "$root/build/debug" || status=1
  fi
  # pak diff of a generated pair of installs, applied by the Windows installer.
  if [ -f build/windows/tests/e2e/diff_updater.exe ]; then
    tests/e2e/wine_diff_roundtrip.sh "$root/build/windows" "$root/build/debug" || status=1
  else
    echo "missing build/windows/tests/e2e/diff_updater.exe (python3 and the host pak build it)"
    status=1
  fi
  # pak.exe names files as the Linux pak under ANSI code pages 950 and 1252.
  if [ -f build/windows/tools/pak.exe ]; then
    tests/e2e/wine_names_e2e.sh "$root/build/windows" "$root/build/debug" || status=1
  fi
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix_root"
  unset WINEPREFIX
  return $status
}
stage "windows tests under wine" wine_tests

stage "fuzz build" build fuzz
stage "fuzz smoke" scripts/fuzz-smoke.sh build/fuzz "${PAKUPDATE_FUZZ_SECONDS:-10}"

stage "benchmark build" build release
stage "release archives" scripts/check-archives.sh build/release build/windows
# The release pieces of the commit built twice elsewhere, compared byte for byte.
stage "reproducible builds" scripts/check-reproducible.sh

rm -f build-*.log
echo
if [ $failed -gt 0 ]; then echo "failed stages: ${failures[*]}"; fi
echo "stages: $passed passed, $failed failed"
[ $failed -eq 0 ]
