#!/usr/bin/env bash
# The files pak writes under a name the user gives (encode, decode, bundle, record OUT):
# never through a link (at OUT or at a temporary name one could guess), the old OUT
# whole when the disk is full or a file-size limit refuses the write (reported, no
# temporary file left), and a replaced OUT keeps its permission bits.
set -u
pak=$1 stub=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/pkg" "$work/tree" "$work/out" "$work/outside"
printf '[inst]\r\ndir=C:\\Game\r\n' >"$work/pkg/UPDATA.INI"
printf 'notes' >"$work/pkg/NOTE.TXT"
"$pak" create "$work/pkg/DLL.pak" "$work/tree" || fail "cannot make the payload pack"
head -c 20000 /dev/urandom >"$work/input"
"$pak" encode "$work/input" "$work/input.enc" || fail "cannot encode the input"

# Each writer: a name and the command that writes OUT (given as its last argument).
writers=(encode decode bundle record)
command_of() {
  case $1 in
    encode) echo "$pak encode $work/input" ;;
    decode) echo "$pak decode $work/input.enc" ;;
    bundle) echo "$pak bundle $stub $work/pkg" ;;
    record) echo "$pak record $work/pkg" ;;
  esac
}
listing() { (cd "$work/out" && LC_ALL=C ls -A | tr '\n' ' '); }
outside() { printf 'outside' >"$work/outside/target"; chmod 0640 "$work/outside/target"; }
outside_untouched() {
  [ "$(cat "$work/outside/target")" = outside ] && [ "$(stat -c %a "$work/outside/target")" = 640 ]
}

for writer in "${writers[@]}"; do
  out="$work/out/$writer.out"
  # shellcheck disable=SC2046
  run() { $(command_of "$writer") "$out"; }

  # Links planted at every temporary name the earlier writers used, and OUT a link.
  rm -rf "$work/out"/* "$work/out"/.[!.]*
  outside
  ln -s "$work/outside/target" "$out.pak-tmp"
  ln -s "$work/outside/target" "$work/out/.$writer.out.bundle-tmp"
  run 2>"$work/err" || fail "$writer beside planted links: $(cat "$work/err")"
  outside_untouched || fail "$writer wrote through a planted link"
  [ -f "$out" ] && [ ! -L "$out" ] || fail "$writer: no file written"
  [ "$(listing)" = ".$writer.out.bundle-tmp $writer.out $writer.out.pak-tmp " ] || fail "$writer left: $(listing)"
  rm -f "$out"
  ln -s "$work/outside/target" "$out"
  if run 2>"$work/err"; then fail "$writer wrote over a link at OUT"; fi
  grep -q "^pak: cannot write $out: a symbolic link is in the way" "$work/err" || fail "$writer: $(cat "$work/err")"
  outside_untouched && [ -L "$out" ] || fail "$writer changed the link at OUT or its target"

  # A file-size limit of 0 (nothing can be written) and of 1 KiB (the write stops part
  # of the way): the old OUT stays whole, one line says why, no temporary file is left.
  for limit in 0 1; do
    [ "$writer" = record ] && [ "$limit" = 1 ] && continue  # a record is smaller than 1 KiB
    rm -rf "$work/out"/* "$work/out"/.[!.]*
    printf 'old' >"$out"
    # Through a pipe: under the limit the message could not be written to a file either.
    (ulimit -f "$limit"; run 2>&1; echo "exit $?") | cat >"$work/err"
    status=$(sed -n 's/^exit //p' "$work/err")
    sed -i '/^exit /d' "$work/err"
    [ "$status" = 1 ] || fail "$writer under a file-size limit of $limit KiB: exit $status, $(cat "$work/err")"
    [ "$(wc -l <"$work/err")" = 1 ] && grep -q "^pak: cannot write $out: writing or flushing failed" "$work/err" ||
      fail "$writer under a file-size limit of $limit KiB: $(cat "$work/err")"
    [ "$(cat "$out")" = old ] || fail "$writer under a file-size limit of $limit KiB: the old OUT is gone"
    [ "$(listing)" = "$writer.out " ] || fail "$writer under a file-size limit of $limit KiB left: $(listing)"
  done

  # A replaced OUT keeps its permission bits; the installer gains execute permission.
  chmod 0604 "$out"
  run || fail "$writer over an existing OUT"
  expected=604
  [ "$writer" = bundle ] && expected=705
  [ "$(stat -c %a "$out")" = "$expected" ] || fail "$writer: mode $(stat -c %a "$out"), not $expected"
done
echo "output_writes_test: ok"
