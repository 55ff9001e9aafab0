#!/usr/bin/env bash
# Runs a Windows program under Wine. Uses $WINEPREFIX when the caller prepared one
# (scripts/test-all.sh makes one fresh prefix per run); otherwise makes one under /tmp
# that lives until the machine is cleaned.
set -eu
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=/tmp/pakupdate-wine-$(id -u)/prefix
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1 || true
  fi
fi
exec wine "$@"
