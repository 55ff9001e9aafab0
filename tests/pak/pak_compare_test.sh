#!/usr/bin/env bash
# pak compare: a table of small installs, each a copy of one install with one change,
# and what the command prints and exits with.
set -u
pak=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The base install: loose files in folders, and a game pack of EnCode entries.
base=$work/base
mkdir -p "$base/maps" "$work/src/text" "$work/src/ui" "$work/src/sound/bgm"
echo "read me" >"$base/readme.txt"
printf 'town map %.0s' {1..50} >"$base/maps/town01.map"
printf 'line of dialog %d\n' {1..400} >"$work/src/text/dialog.txt"
printf 'font size 12 %.0s\n' {1..80} >"$work/src/ui/font.cfg"
printf 'bgm track %d\n' {1..60} >"$work/src/sound/bgm/dungeon.lst"
"$pak" create "$base/data.pak" "$work/src" >/dev/null || {
  echo "FAIL: pak create"
  exit 1
}

# Each case changes the copy NEW (or OLD) of the base install.
case_equal() { :; }
case_changed_loose() { echo "one more line" >>"$new/maps/town01.map"; }
case_loose_only_in_new() { echo "new" >"$new/maps/town02.map"; }
case_left_over() { echo "half" >"$old/maps/town01.map.pakupdate-temp"; }
case_folder_only_in_new() {
  mkdir -p "$new/extra/deeper"
  echo x >"$new/extra/deeper/file.txt"
}
case_kinds_differ() {
  rm "$new/readme.txt"
  mkdir "$new/readme.txt"
}
case_changed_entry() {
  echo "line of dialog changed" >>"$work/src/text/dialog.txt"
  "$pak" add "$new/data.pak" text/dialog.txt "$work/src/text/dialog.txt" >/dev/null
  sed -i '$d' "$work/src/text/dialog.txt"
}
case_entry_only_in_new() {
  echo "quest" >"$work/quest.txt"
  "$pak" add "$new/data.pak" text/quest.txt "$work/quest.txt" >/dev/null
}
case_entry_only_in_old() { "$pak" rm "$new/data.pak" sound >/dev/null; }
case_damaged_pack() { truncate -s -20 "$new/data.pak"; }
case_damaged_stream() {
  # The last bytes of the last entry's stream, in the old pack.
  printf '\xff\xff\xff\xff\xff\xff' | dd of="$old/data.pak" bs=1 seek=$(($(stat -c %s "$old/data.pak") - 6)) \
    conv=notrunc status=none
}
case_names_in_other_case() {
  mv "$new/readme.txt" "$new/ReadMe.TXT"
  mv "$new/data.pak" "$new/DATA.PAK"
}
case_stored_raw() { "$pak" create --raw "$new/data.pak" "$work/src" >/dev/null; }
case_fast_level() {
  "$pak" create --level fast "$new/data.pak" "$work/src" >/dev/null
  # The equality must come from the decoded entries: the packs' bytes differ.
  cmp -s "$old/data.pak" "$new/data.pak" && fail "fast_level: the fast pack is the exact one byte for byte"
}

# case | exit code | standard output, lines separated by ';'
while IFS='|' read -r name status expected; do
  old=$work/$name/old new=$work/$name/new
  mkdir -p "$work/$name"
  cp -r "$base" "$old"
  cp -r "$base" "$new"
  "case_$name"
  out=$("$pak" compare "$old" "$new" 2>"$work/err")
  got=$?
  want=${expected//;/$'\n'}
  [ "$got" = "$status" ] || fail "$name: exit $got, expected $status ($(cat "$work/err"))"
  [ "$out" = "$want" ] || fail "$name: printed"$'\n'"$out"$'\n'"expected"$'\n'"$want"
done <<'EOF'
equal|0|
changed_loose|1|differs: maps\town01.map
loose_only_in_new|1|only in NEW: maps\town02.map
left_over|1|only in OLD: maps\town01.map.pakupdate-temp
folder_only_in_new|1|only in NEW: extra\
kinds_differ|1|kinds differ: readme.txt (a file in OLD, a folder in NEW)
changed_entry|1|data.pak: entry differs: text\dialog.txt
entry_only_in_new|1|data.pak: entry only in NEW: text\quest.txt
entry_only_in_old|1|data.pak: entry only in OLD: sound\
damaged_pack|1|data.pak: pack damaged in NEW: \ (offset 112: end record offset 2327 is not the end of the directory (2307));data.pak: pack damaged in NEW: ui\font.cfg (offset 2086: entry bytes [2158, 2327) do not lie in the pack);data.pak: entry only in OLD: ui\font.cfg
damaged_stream|1|data.pak: pack damaged in OLD: ui\font.cfg (offset 2158: EnCode stream: items produce more than the decoded size at stream offset 162);data.pak: entry differs: ui\font.cfg
names_in_other_case|0|
stored_raw|0|
fast_level|0|
EOF

# --json of one difference; a folder that is missing is not compared (exit 2).
old=$work/changed_entry/old new=$work/changed_entry/new
out=$("$pak" compare --json "$old" "$new")
[ $? = 1 ] || fail "--json: exit code"
echo "$out" | grep -qF '"equal": false' || fail "--json: $out"
echo "$out" | grep -qF '{"what": "entry differs", "path": "data.pak", "entry": "text\\dialog.txt"}' || fail "--json: $out"
[ "$("$pak" compare --json "$work/equal/old" "$work/equal/new")" = '{"equal": true, "differences": []}' ] ||
  fail "--json of equal installs"
"$pak" compare "$work/missing" "$new" >/dev/null 2>"$work/err"
[ $? = 2 ] || fail "a missing folder: exit code"
grep -q "missing: no such folder" "$work/err" || fail "a missing folder: $(cat "$work/err")"

[ $failures = 0 ] && echo "pak compare: all cases pass"
[ $failures = 0 ]
