#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Usage: scripts/install-deps.sh [core|all]   (core: Linux build and demo; all: also
# sanitizers, fuzzing, benchmarks, the Windows cross build and Wine)
set -euo pipefail
set_name=${1:-all}

core=(cmake ninja-build g++ make pkg-config googletest libcli11-dev)
all=("${core[@]}" clang-14 libclang-rt-14-dev libbenchmark-dev zlib1g-dev liblz4-dev libzstd-dev lz4 zstd
     g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb xdotool imagemagick x11-utils locales
     fonts-wqy-microhei zip unzip time)
if [ "$set_name" = core ]; then wanted=("${core[@]}"); else wanted=("${all[@]}"); fi

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A zh_TW locale lets Wine run with code page 950 as its ANSI code page, so the
# dialog shows the Big5 notes.
if [ "$set_name" != core ] && ! locale -a 2>/dev/null | grep -qi '^zh_TW.utf8$'; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" sed -i 's/^# *zh_TW.UTF-8 UTF-8/zh_TW.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_TW.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_TW.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
