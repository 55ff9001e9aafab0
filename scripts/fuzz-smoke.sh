#!/usr/bin/env bash
# Runs every libFuzzer target of a build folder for a bounded time each.
# Usage: scripts/fuzz-smoke.sh BUILD_DIR SECONDS
set -uo pipefail
build_dir=$1 seconds=${2:-10}
status=0
found=0
while IFS= read -r target; do
  found=$((found + 1))
  corpus=$(mktemp -d)
  echo "fuzzing $(basename "$target") for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 "$corpus" \
      >"$corpus.log" 2>&1; then
    tail -40 "$corpus.log"
    status=1
  fi
  rm -rf "$corpus" "$corpus.log"
done < <(find "$build_dir/fuzz" -path '*/CMakeFiles' -prune -o -type f -perm -u+x -print 2>/dev/null | sort)
echo "fuzz targets run: $found"
exit $status
