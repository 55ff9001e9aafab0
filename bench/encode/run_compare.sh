#!/usr/bin/env bash
# Runs the codec comparison over the benchmark corpus (see README.md).
#   bench/encode/run_compare.sh [BUILD_DIR] [--seconds S]
# BUILD_DIR is a Release build configured with -DPAKUPDATE_BENCH=ON (default build/release).
set -euo pipefail
build=${1:-build/release}
shift || true
tool=$build/bench/encode/encode_codec_compare
[ -x "$tool" ] || { echo "no $tool: configure with -DPAKUPDATE_BENCH=ON and build encode_codec_compare" >&2; exit 1; }

wine_dir=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
corpus=(
  "$wine_dir/comctl32.dll"
  /usr/share/mime/packages/freedesktop.org.xml
  /usr/lib/x86_64-linux-gnu/libstdc++.so.6.0.30
  /usr/share/doc/xserver-common/changelog.gz
  gen:runs
  gen:ascending
)
for f in "${corpus[@]}"; do
  case $f in gen:*) ;; *) [ -r "$f" ] || { echo "missing corpus file $f" >&2; exit 1; } ;; esac
done
exec "$tool" "$@" "${corpus[@]}"
