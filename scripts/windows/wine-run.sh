#!/bin/sh
# Runs a Windows program under Wine in Platora's own Wine prefix, headless.
#   wine-run.sh PROGRAM.exe ARGS...
# PLATORA_WINEPREFIX chooses the prefix (default ~/.cache/platora/wine). The prefix is made on
# first use, with Wine's ALSA driver for sound. One wineserver serves every run and ends 60 s
# after the last (wineserver -k ends it at once): a cold start costs seconds.
set -eu
export WINEPREFIX="${PLATORA_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/platora/wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
# Parallel runs start the server once. Wine's own helper processes start with the first program
# after the server and inherit its standard streams: here /dev/null, for if they held a caller's
# pipe, a shell pipeline or ctest would wait for them for as long as the server lives.
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i </dev/null >/dev/null 2>&1 9>&-
    wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f </dev/null >/dev/null 2>&1 9>&-
  fi
  # Status 2: one is running already.
  if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
    wine wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX/.platora-start.lock"
exec wine "$@"
