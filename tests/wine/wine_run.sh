#!/usr/bin/env bash
# Runs a cross-built program under Wine in the build tree's own prefix.
#   wine_run.sh --start        create the prefix, start a persistent wineserver
#   wine_run.sh --stop         stop that wineserver (only ours: it is per prefix)
#   wine_run.sh PROGRAM ARGS   run PROGRAM, exit with its exit code
set -u
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${WINEPREFIX:-$(cd "$here/../.." && pwd)/build/mingw/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
case "${1:-}" in
  --start)
    mkdir -p "$WINEPREFIX"
    # Make the prefix and let that first server end: it would leave a second
    # service manager behind, and two of them lock each other out.
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    "$wineserver" -w
    # Then a persistent server, so services outlive the commands that start
    # them, and one boot of the prefix's services under it. Its output goes
    # nowhere: a server that outlives this script must not hold the caller's
    # pipes open.
    "$wineserver" -p </dev/null >/dev/null 2>&1
    "$wine" wineboot </dev/null >/dev/null 2>&1
    exit 0 ;;
  --stop)
    "$wineserver" -k 2>/dev/null
    "$wineserver" -w 2>/dev/null
    exit 0 ;;
esac
exec "$wine" "$@"
