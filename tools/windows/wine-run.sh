#!/bin/sh
# Runs a Windows program under Wine in Platora's own Wine prefix, headless: the prefix is
# made on first use, and one wineserver stays up between runs (a cold start costs seconds).
#   wine-run.sh PROGRAM.exe ARGS...
# PLATORA_WINEPREFIX chooses the prefix (default ~/.cache/platora/wine).
set -eu
export WINEPREFIX="${PLATORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/platora/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wine wineboot -i </dev/null >/dev/null 2>&1
fi
# Its standard streams go nowhere: helpers it starts would otherwise hold a caller's pipes
# open, and a pipeline or ctest would wait for ever. It ends 60 s after the last program.
wineserver -p60 </dev/null >/dev/null 2>&1 &
exec wine "$@"
