#!/usr/bin/env bash
# Round trip of pak diff through the bundled POSIX installer:
#
#   diff_roundtrip.sh STUB PAK SEEDS
#
# For SEEDS generated pairs of install trees and one of real Debian files: pak diff
# OLD NEW makes a package, pak bundle attaches it to the installer STUB, and the
# installer, driven through its terminal front end, applies it to a copy of OLD. The
# copy must then equal NEW (tests/e2e/diff_trees.py compare), also after applying
# the same installer a second time. Prints one line per check; exits 1 on a failure.
set -u
stub=$(realpath "$1")
pak=$(realpath "$2")
seeds=$3
trees="$(dirname "$(realpath "$0")")/diff_trees.py"
work=$(mktemp -d "${TMPDIR:-/tmp}/pakupdate-diff.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

round_trip() {  # round_trip NAME PAIR_DIR
  local name=$1 pair=$2
  local copy=$pair/copy
  cp -r "$pair/old" "$copy"
  if ! "$pak" diff "$pair/old" "$pair/new" "$pair/package" --dir "$copy" >"$pair/diff.out" 2>&1; then
    echo "FAIL $name: pak diff"; cat "$pair/diff.out"; failures=$((failures + 1)); return
  fi
  "$pak" bundle "$stub" "$pair/package" "$pair/updater" >/dev/null 2>&1 || { echo "FAIL $name: bundle"; failures=$((failures + 1)); return; }
  for run in once twice; do
    (cd "$pair" && printf 'ok\n' | ./updater >"$pair/run-$run.out" 2>&1)
    if ! grep -q 'Update finished.' "$pair/run-$run.out"; then
      echo "FAIL $name: installer run ($run)"; cat "$pair/run-$run.out"; failures=$((failures + 1)); return
    fi
    if python3 "$trees" compare "$copy" "$pair/new" "$pak" >"$pair/compare.out"; then
      echo "ok   $name: applied $run, the copy equals NEW"
    else
      echo "FAIL $name: applied $run"; head -20 "$pair/compare.out"; failures=$((failures + 1)); return
    fi
  done
}

for seed in $(seq 1 "$seeds"); do
  mkdir -p "$work/$seed"
  python3 "$trees" generate "$seed" "$work/$seed" "$pak" || { echo "FAIL seed $seed: generate"; failures=$((failures + 1)); continue; }
  round_trip "seed $seed" "$work/$seed"
done
mkdir -p "$work/debian"
if python3 "$trees" debian "$work/debian" "$pak"; then
  round_trip "debian files" "$work/debian"
else
  echo "FAIL debian files: generate"; failures=$((failures + 1))
fi

# Two equal trees: an empty package that changes nothing.
mkdir -p "$work/equal"
python3 "$trees" generate 1 "$work/equal" "$pak"
rm -rf "$work/equal/new" && cp -r "$work/equal/old" "$work/equal/new"
round_trip "equal trees" "$work/equal"
grep -q 'no differences' "$work/equal/diff.out" && echo "ok   equal trees: said so" || { echo "FAIL equal trees: not said"; failures=$((failures + 1)); }

echo "$failures failed"
[ "$failures" -eq 0 ]
