#!/usr/bin/env bash
# Runs the Windows write-folder link test under Wine on a folder whose "dir" is a
# Unix symbolic link to a folder beside it: Wine shows it as a reparse point, and
# Wine cannot make such links itself. Afterwards the folder the link points at must
# still be empty.
#   links_under_wine.sh WINE_RUN PLATFORM_TESTS_EXE
set -u
wine_run=$1 tests_exe=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/pakupdate-links.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/game" "$work/outside"
echo outside >"$work/outside/target"
ln -s ../outside "$work/game/dir"
PAKUPDATE_LINK_FIXTURE="Z:$(echo "$work" | tr / '\\')" "$wine_run" "$tests_exe" \
  --gtest_filter='WriteFolderLinks.*' || exit 1
[ "$(ls -A "$work/outside")" = "target" ] || { echo "written through the link: $(ls -A "$work/outside")"; exit 1; }
[ "$(cat "$work/outside/target")" = "outside" ] || { echo "target changed"; exit 1; }
echo "links_under_wine: ok"
