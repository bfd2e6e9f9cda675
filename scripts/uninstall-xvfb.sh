#!/usr/bin/env bash
# start|stop|run STATE_DIR [command...]: keeps one Xvfb server for the uninstaller's
# tests (its display number and process id are kept in STATE_DIR), or runs a
# command with DISPLAY pointing at it.
set -eu
action=$1 state=$2
shift 2
case "$action" in
  start)
    mkdir -p "$state"
    "$0" stop "$state"
    rm -f "$state/display"
    # -displayfd picks a free display and writes its number once the server is ready.
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display" >/dev/null 2>&1 </dev/null &
    echo $! >"$state/pid"
    for _ in $(seq 100); do
      [ -s "$state/display" ] && exit 0
      sleep 0.1
    done
    echo "Xvfb did not start" >&2
    exit 1
    ;;
  stop)
    if [ -f "$state/pid" ]; then
      kill "$(cat "$state/pid")" 2>/dev/null || true
      rm -f "$state/pid"
      # Wine's desktop process (explorer.exe) ends with its display; a program
      # started before it is gone would attach to it and end with it.
      display="DISPLAY=:$(head -n1 "$state/display" 2>/dev/null)"
      for _ in $(seq 100); do
        busy=0
        for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
          tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "$display" && busy=1
        done
        [ "$busy" = 0 ] && break
        sleep 0.1
      done
    fi
    ;;
  run)
    DISPLAY=":$(head -n1 "$state/display")" exec "$@"
    ;;
  *) echo "usage: $0 start|stop|run STATE_DIR [command...]" >&2; exit 2 ;;
esac
