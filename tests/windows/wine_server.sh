#!/bin/sh
# The wine server every Windows suite of one ctest run talks to.
#   wine_server.sh start WINE   creates the prefix, then keeps one server up
#   wine_server.sh stop WINE    ends it
# A server left to itself exits a few seconds after its last program ends;
# a program that connects while it is exiting dies with "recvmsg: Connection
# reset by peer". Suites start side by side and at any moment, so the run
# keeps one server for its whole length instead.
set -eu
mode=$1
wine=$2
server="$(dirname "$wine")/wineserver"
[ -x "$server" ] || server=$(command -v wineserver)
case "$mode" in
  start)
    "$wine" wineboot --init
    "$server" -w  # the server wineboot started is gone ...
    "$server" -p </dev/null >/dev/null 2>&1  # ... and this one stays until stopped
    # Its services (started by the first program it serves) live as long as
    # it does: started here with no output, they hold no suite's output open,
    # which ctest would wait on.
    "$wine" wineboot </dev/null >/dev/null 2>&1
    ;;
  stop)
    "$server" -k || true  # nothing to end when no server is up
    ;;
  *)
    echo "usage: wine_server.sh start|stop WINE" >&2
    exit 2
    ;;
esac
