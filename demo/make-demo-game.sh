#!/bin/sh
# make-demo-game.sh PAK WINDIR GAMEDIR [PATH_TEXT]
#
# Lays out an installed demo game for the demo update package:
#   WINDIR/PakDemo.ini  the game's INI, "[inst_path]" "path" = PATH_TEXT (default:
#                       the absolute path of GAMEDIR), CR LF line breaks
#   GAMEDIR/data.pak    the game's data pack, which the update merges into
#   GAMEDIR/readme.txt  an older file that the update replaces
# PAK is the pak tool that packs the game's data. Existing files are replaced.
set -eu
if [ $# -lt 3 ]; then
  echo "usage: $0 PAK WINDIR GAMEDIR [PATH_TEXT]" >&2
  exit 2
fi
pak=$1
windir=$2
gamedir=$3
here=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$windir" "$gamedir"
path_text=${4:-$(cd "$gamedir" && pwd)}
printf '[login]\r\nserver=demo.example.net\r\nport=7000\r\n\r\n[inst_path]\r\npath=%s\r\n\r\n[option]\r\nsound=1\r\n' \
  "$path_text" >"$windir/PakDemo.ini"
rm -f "$gamedir/data.pak"
"$pak" create "$gamedir/data.pak" "$here/game/data"
printf 'PakDemo client 1.03\r\n' >"$gamedir/readme.txt"
