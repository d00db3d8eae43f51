#!/usr/bin/env bash
# Runs a cross-built program under Wine in the build tree's own prefix.
#   wine_run.sh --start        create the prefix, start an X server (Xvfb) and
#                              a persistent wineserver for it
#   wine_run.sh --stop         stop both (only ours: they are per prefix)
#   wine_run.sh PROGRAM ARGS   run PROGRAM, exit with its exit code
set -u
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(cd "$here/../.." && pwd)/build/mingw/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# The prefix's X server: every program of the prefix draws there, so the
# desktop that Wine makes at boot can hold windows.
display_file=$WINEPREFIX.display
xvfb_pid_file=$WINEPREFIX.xvfb-pid
service_trace=$WINEPREFIX.service-trace.log
[ -s "$display_file" ] && export DISPLAY=:$(cat "$display_file")

stop_xvfb() {
  if [ -s "$xvfb_pid_file" ]; then
    kill "$(cat "$xvfb_pid_file")" 2>/dev/null
  fi
  rm -f "$xvfb_pid_file" "$display_file"
}

case "${1:-}" in
  --start)
    mkdir -p "$WINEPREFIX"
    # What an earlier run of this prefix left running would keep the first
    # boot below from ever ending.
    "$wineserver" -k 2>/dev/null
    "$wineserver" -w 2>/dev/null
    stop_xvfb
    unset DISPLAY
    if command -v Xvfb >/dev/null; then
      # It picks a free display and writes its number when it accepts
      # clients; its output goes nowhere, as the server below.
      Xvfb -displayfd 3 -nolisten tcp 3>"$display_file" </dev/null >/dev/null 2>&1 &
      echo $! >"$xvfb_pid_file"
      for _ in $(seq 100); do
        [ -s "$display_file" ] && break
        sleep 0.1
      done
      [ -s "$display_file" ] && export DISPLAY=:$(cat "$display_file")
    fi
    # Make the prefix and let that first server end: it would leave a second
    # service manager behind, and two of them lock each other out.
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    "$wineserver" -w
    # Then a persistent server, so services outlive the commands that start
    # them, and one boot of the prefix's services under it. Its output goes
    # nowhere: a server that outlives this script must not hold the caller's
    # pipes open.
    "$wineserver" -p </dev/null >/dev/null 2>&1
    # The services inherit this boot's environment and standard error, and
    # Wine traces every SetServiceStatus call on its "service" channel: the
    # tests read the reports a service made from this file (the service
    # manager itself keeps only the latest status).
    WINEDEBUG=-all,+service "$wine" wineboot </dev/null >/dev/null 2>"$service_trace"
    exit 0 ;;
  --stop)
    "$wineserver" -k 2>/dev/null
    "$wineserver" -w 2>/dev/null
    stop_xvfb
    exit 0 ;;
esac
exec "$wine" "$@"
