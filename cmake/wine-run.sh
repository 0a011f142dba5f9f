#!/bin/sh
# Runs a program of the Windows build under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# Each build tree keeps one prefix; the first run creates it, under a lock so
# that parallel first runs do not race.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$(dirname "$prefix")"
    flock "$prefix.lock" sh -c '[ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }'
fi
exec wine "$@"
