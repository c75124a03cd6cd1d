#!/bin/sh
# One Wine server for a whole test run in the build folder's prefix.
# Left to itself the server shuts down 3 s after its last program ends, and a
# program that connects in that moment loses its connection ("wine client
# error: recvmsg: connection reset by peer"). A persistent server has no such
# moment; the run stops it when no test uses the prefix any more.
# Usage: server.sh start|stop BUILD_DIR
set -e
what="$1"
TARNWICK_BUILD="$(cd "$2" && pwd)"
. "$(dirname "$0")/env.sh"
case "$what" in
  start)
    # A server still winding down from an earlier run is let go first.
    if ! wineserver -p </dev/null >/dev/null 2>&1; then
      timeout 60 wineserver -w || true
      wineserver -p </dev/null >/dev/null 2>&1
    fi
    # Wine's own background programs start with the first program and live as
    # long as the server: started here, they hold no test's output open.
    wineboot </dev/null >/dev/null 2>&1 || true ;;
  stop)
    wineserver -k 2>/dev/null || true
    timeout 60 wineserver -w || true ;;
  *) echo "usage: server.sh start|stop BUILD_DIR" >&2; exit 2 ;;
esac
