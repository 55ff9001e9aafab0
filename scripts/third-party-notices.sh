#!/usr/bin/env bash
# Writes THIRD_PARTY_NOTICES.txt from the licence texts of the Debian packages whose
# code is linked into the shipped programs. Run it again when a dependency changes.
# Usage: scripts/third-party-notices.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-THIRD_PARTY_NOTICES.txt}
doc=/usr/share/doc
for file in $doc/libz-mingw-w64-dev/copyright $doc/libcli11-dev/copyright $doc/gcc-12-base/copyright \
  $doc/mingw-w64-common/copyright /usr/share/common-licenses/GPL-3 /usr/include/CLI/CLI.hpp; do
  [ -f "$file" ] || { echo "missing $file (scripts/install-deps.sh all installs it)" >&2; exit 1; }
done
version() { dpkg-query -W -f='${Version}' "$1"; }

# paragraph FILE NAME: the "License: NAME" paragraph of a Debian copyright file, its
# leading space and " ." lines undone.
paragraph() {
  awk -v name="License: $2" '
    $0 == name {on = 1; text = ""; next}
    on && /^ / {text = text $0 "\n"; next}
    on {on = 0; if (text != "") {printf "%s", text; exit}}
    END {if (on && text != "") printf "%s", text}' "$1" | sed 's/^ \.$//; s/^ //'
}
rule() { printf '\n%s\n%s\n\n' "================================================================================" "$1"; }

{
  cat <<EOF
Third-party software in pakupdate's programs
============================================

pakupdate itself is under the MIT licence (LICENSE). The programs in the release
archives contain code of the following projects, linked in statically. Each is
listed with the programs it is in, its copyright and its licence text below.

  zlib                          all programs (updater-stub, updater, pak)
  CLI11                         pak, pak.exe
  GCC runtime: libstdc++, libgcc
                                all programs (Linux and Windows)
  MinGW-w64 runtime and winpthreads
                                the Windows programs (.exe)

The Linux programs use the system's C library (glibc) as a shared library; it is
not part of the archives.

Versions as built: zlib $(version zlib1g-dev) (Linux), $(version libz-mingw-w64-dev) (Windows);
CLI11 $(version libcli11-dev); GCC $(version g++) (Linux), $(version g++-mingw-w64-x86-64-posix) (Windows);
MinGW-w64 $(version mingw-w64-common).
EOF

  rule "zlib"
  echo "Copyright (C) 1995-2022 Jean-loup Gailly and Mark Adler"
  echo
  paragraph $doc/libz-mingw-w64-dev/copyright Zlib

  rule "CLI11"
  # The copyright line as the headers carry it.
  sed -n '1,3s|^// ||p' /usr/include/CLI/CLI.hpp
  echo
  paragraph $doc/libcli11-dev/copyright BSD-3-clause

  rule "GCC runtime libraries: libstdc++ and libgcc"
  cat <<'EOF'
Copyright (C) Free Software Foundation, Inc.

The libraries are free software under the GNU General Public License version 3
(its text is at the end of this file) with the GCC Runtime Library Exception,
version 3.1, below. The exception allows a program compiled with GCC to carry the
runtime libraries under terms of the program's own choice.

EOF
  sed -n '/^GCC RUNTIME LIBRARY EXCEPTION$/,/^presumption that third-party software/p' $doc/gcc-12-base/copyright
  echo "requirements of the license of GCC."

  rule "MinGW-w64 runtime and winpthreads (the Windows programs)"
  cat <<'EOF'
The Windows programs contain the MinGW-w64 C runtime start-up and support code and
the winpthreads library. Below is the complete copyright and licence list of the
MinGW-w64 project as distributed by Debian: most runtime files are in the public
domain or under the Zope Public License 2.1; winpthreads is under the MIT (expat)
licence with parts under a BSD licence of Lockless Inc.

EOF
  cat $doc/mingw-w64-common/copyright

  rule "GNU General Public License, version 3 (for the GCC runtime libraries)"
  cat /usr/share/common-licenses/GPL-3
} >"$out"
echo "wrote $out"
