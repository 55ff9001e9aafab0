#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Usage: scripts/install-deps.sh [core|all]   (core: Linux build and demo; all: also
# sanitizers, fuzzing, benchmarks, the Windows cross build and Wine)
set -euo pipefail
set_name=${1:-all}

core=(cmake ninja-build g++ make pkg-config googletest libcli11-dev zlib1g-dev python3)
all=("${core[@]}" clang-14 libclang-rt-14-dev libbenchmark-dev zlib1g-dev liblz4-dev libzstd-dev lz4 zstd
     g++-mingw-w64-x86-64-posix libz-mingw-w64-dev mingw-w64-tools wine wine64 xvfb xdotool imagemagick x11-utils locales
     fonts-wqy-microhei zip unzip time osslsigncode openssl binutils git)
if [ "$set_name" = core ]; then wanted=("${core[@]}"); else wanted=("${all[@]}"); fi

# apt_get ARGS...: apt-get, waiting while another package manager holds its lock (a
# fresh machine often runs its own updates at boot) instead of failing. Gives up after
# PAKUPDATE_APT_LOCK_WAIT seconds (default 20 minutes).
apt_get() {
  local waited=0 limit=${PAKUPDATE_APT_LOCK_WAIT:-1200} log
  log=$(mktemp)
  while true; do
    if "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=60 "$@" 2>"$log"; then
      rm -f "$log"
      return 0
    fi
    if ! grep -qiE 'could not get lock|unable to acquire the dpkg frontend lock|unable to lock' "$log" ||
      [ "$waited" -ge "$limit" ]; then
      cat "$log" >&2
      rm -f "$log"
      return 1
    fi
    echo "install-deps: another package manager holds the lock; waiting (${waited} s so far)" >&2
    sleep 10
    waited=$((waited + 10))
  done
}

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  apt_get update -qq
  DEBIAN_FRONTEND=noninteractive apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Locales for Wine's ANSI code page: zh_TW gives code page 950, so the dialog shows
# the Big5 notes; en_US gives 1252, under which pak.exe must still name files in 950.
if [ "$set_name" != core ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  generate=0
  for locale in zh_TW en_US; do
    locale -a 2>/dev/null | grep -qi "^$locale.utf8\$" && continue
    "${sudo_cmd[@]}" sed -i "s/^# *$locale.UTF-8 UTF-8/$locale.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^$locale.UTF-8 UTF-8" /etc/locale.gen || echo "$locale.UTF-8 UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    generate=1
  done
  [ $generate -eq 0 ] || "${sudo_cmd[@]}" locale-gen >/dev/null
fi
