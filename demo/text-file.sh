#!/bin/sh
# text-file.sh IN OUT [ENCODING]: writes the text file IN as OUT with CR LF line
# breaks, converted from UTF-8 to ENCODING when one is given (e.g. CP950).
set -eu
in=$1
out=$2
encoding=${3:-}
tmp="$out.tmp.$$"
trap 'rm -f "$tmp"' EXIT
if [ -n "$encoding" ]; then
  iconv -f UTF-8 -t "$encoding" "$in" >"$tmp.enc"
else
  cp "$in" "$tmp.enc"
fi
sed 's/$/\r/' "$tmp.enc" >"$tmp"
rm -f "$tmp.enc"
mv "$tmp" "$out"
trap - EXIT
