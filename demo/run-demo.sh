#!/usr/bin/env bash
# run-demo.sh BUILD_DIR [WORK_DIR]
#
# Lays out the demo game under WORK_DIR (default BUILD_DIR/demo-run, replaced on each
# run), runs the bundled updater of BUILD_DIR/demo in the terminal, confirming with OK
# (with --interactive the commands come from you), and shows what it wrote: the files
# of the game folder and the entries of the game's merged data.pak.
set -euo pipefail
interactive=0
if [ "${1:-}" = --interactive ]; then
  interactive=1
  shift
fi
if [ $# -lt 1 ]; then
  echo "usage: $0 [--interactive] BUILD_DIR [WORK_DIR]" >&2
  exit 2
fi
build=$(realpath "$1")
work=$(realpath -m "${2:-$build/demo-run}")
here=$(cd "$(dirname "$0")" && pwd)
pak=$build/tools/pak
updater=$build/demo/updater

rm -rf "$work"
mkdir -p "$work"
"$here/make-demo-game.sh" "$pak" "$work/windows" "$work/game"
echo "== Demo game laid out in $work/game; its INI is $work/windows/PakDemo.ini"
echo "== data.pak before the update:"
"$pak" list "$work/game/data.pak"
echo
echo "== Running the updater (WINDIR=$work/windows)"
cd "$work"
if [ $interactive = 1 ]; then
  WINDIR="$work/windows" "$updater"
else
  echo ok | WINDIR="$work/windows" "$updater"
fi
echo
echo "== Files in the game folder:"
(cd "$work/game" && find . -type f -printf '%10s  %P\n' | sort -k2)
echo
echo "== data.pak after the update (stored size, kind, size, path):"
"$pak" list "$work/game/data.pak"
