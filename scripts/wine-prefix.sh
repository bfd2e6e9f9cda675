#!/usr/bin/env bash
# start|stop PREFIX: makes the Wine prefix once and keeps one wineserver alive
# for it, or shuts that server down.
set -eu
action=$1 prefix=$2
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
case "$action" in
  start)
    if [ ! -f "$prefix/system.reg" ]; then
      mkdir -p "$prefix"
      wineboot -i >/dev/null 2>&1
      wineserver -w
    fi
    wineserver -p >/dev/null 2>&1 || true
    wine cmd /c exit >/dev/null 2>&1
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
