#!/usr/bin/env bash
# Runs a command for the Windows build under Wine: in a private network
# namespace with only loopback (so no name query leaves the machine), with a
# private Wine prefix in BUILD_DIR, no display, and Wine's server started
# first and ended last, whatever happened.
# Usage: scripts/wine_run.sh BUILD_DIR COMMAND [ARGUMENT ...]
set -euo pipefail
build=$(cd "$1" && pwd)
shift

if [ "${QUILLEX_WINE_NAMESPACE:-}" != 1 ]; then
  # Root makes the namespace itself; anyone else needs a user namespace for it.
  namespace=(unshare -n)
  [ "$(id -u)" -eq 0 ] || namespace=(unshare -rn)
  exec env QUILLEX_WINE_NAMESPACE=1 "${namespace[@]}" "$0" "$build" "$@"
fi

ip link set lo up
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
# The prefix is made first, and its server ended: services started while a
# prefix is being made take no new service afterwards. Then one server for
# every test, and Wine's helper processes (which inherit the output of
# whatever starts them) started here, holding /dev/null instead of the test
# runner's pipe.
mkdir -p "$WINEPREFIX"
"$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w
"$wineserver" -p >/dev/null 2>&1
"$wine" cmd.exe /c exit >/dev/null 2>&1
"$@"
