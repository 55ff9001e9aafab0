# Sourced by the tool tests: EnCode streams built by hand, and a memory limit.

# The four bytes of a u32, little-endian, as printf escapes.
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }

# FILE made of COUNT copies of the bytes of PIECE_FILE, by doubling.
repeat_file() {
  local piece=$1 count=$2 out=$3 size
  size=$(stat -c %s "$piece")
  cp "$piece" "$out.rep"
  while [ $(($(stat -c %s "$out.rep") / size)) -lt "$count" ]; do cat "$out.rep" "$out.rep" >"$out.rep2" && mv "$out.rep2" "$out.rep"; done
  head -c $((count * size)) "$out.rep" >"$out"
  rm -f "$out.rep"
}

# stream_file DECODED_SIZE ITEMS_FILE OUT: the 14-byte header, then the items.
stream_file() {
  local items_size
  items_size=$(stat -c %s "$2")
  { printf "EnCode$(le32 "$1")$(le32 $((14 + items_size)))"; cat "$2"; } >"$3"
}

# 360,014 bytes: 40,000 groups of eight literals (320,000 bytes) claiming 4 GiB - 1.
write_claims_4gib() {
  printf '\xffxxxxxxxx' >"$1.group"
  repeat_file "$1.group" 40000 "$1.items"
  stream_file 4294967295 "$1.items" "$1"
  rm -f "$1.group" "$1.items"
}
CLAIMS_4GIB_STREAM_SIZE=360014

# 79,021 bytes that decode to 1,073,708,984 zero bytes: 1,927 groups of eight long
# runs of 69,649 bytes.
write_gib_of_runs() {
  printf '\x00' >"$1.group"
  for _ in 1 2 3 4 5 6 7 8; do printf '\xff\xff\x00\xff\xff' >>"$1.group"; done
  repeat_file "$1.group" 1927 "$1.items"
  stream_file 1073708984 "$1.items" "$1"
  rm -f "$1.group" "$1.items"
}
GIB_OF_RUNS_DECODED_SIZE=1073708984

# limited COMMAND...: runs COMMAND with at most 200 MB of address space, so that a
# command that sets aside a claimed decoded size fails. Sanitizer builds reserve
# terabytes of address space and cannot run under a limit: MEMORY_LIMIT is then empty
# and the command runs without one.
MEMORY_LIMIT=200000
limited() { ( [ -n "$MEMORY_LIMIT" ] && ulimit -v "$MEMORY_LIMIT"; exec "$@" ); }
probe_memory_limit() {
  if ! limited "$1" --help >/dev/null 2>&1; then
    echo "note: $1 does not run under a memory limit (sanitizer build?); running without one"
    MEMORY_LIMIT=
  fi
}
