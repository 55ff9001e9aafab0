#!/usr/bin/env bash
# A missing build dependency stops cmake's configuration with the Debian package to
# install, before anything is compiled.
# Usage: missing_dependency_test.sh SOURCE_DIR
set -u
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# setting that hides the dependency | package the message must name
while IFS='|' read -r setting package; do
  if cmake -S "$source" -B "$work/build" -G Ninja "$setting" >"$work/log" 2>&1; then
    echo "FAIL: configuring with $setting succeeded"
    failures=$((failures + 1))
  elif ! tr -s ' \n' '  ' <"$work/log" | grep -q "install the Debian package $package"; then
    echo "FAIL: configuring with $setting does not name $package:"
    cat "$work/log"
    failures=$((failures + 1))
  fi
  rm -rf "$work/build"
done <<'TABLE'
-DPAKUPDATE_CLI11_INCLUDE=/nonexistent|libcli11-dev
-DPAKUPDATE_GTEST_SOURCE=/nonexistent|googletest
TABLE
[ $failures = 0 ]
