#!/usr/bin/env bash
# Checks the layering of the tree's includes:
#  - no system header of POSIX above relay/platform/ (the epoll and poll
#    backends of the loop's readiness seam are the two named exceptions);
#  - arrows run one way: nothing in relay/ or filter/ includes port/,
#    dialogs/, resources/ or app/; the platform layer includes only itself;
#    dialogs/ and resources/ include neither port/ nor app/; resources/
#    includes no dialogs/; the plain port/ library (quillex_profile)
#    includes nothing with Qt.
# Prints each offending line and exits 1 when there is one.
set -uo pipefail
cd "$(dirname "$0")/.."

posix='<(unistd|fcntl|poll|signal|netdb|pthread|pwd|grp|dirent|strings|termios|syslog|dlfcn|malloc|ifaddrs|spawn|sched|semaphore|mqueue|aio|glob|fnmatch|wordexp|libgen|utime|utmp|sys/[a-z_]+|netinet/[a-z_]+|arpa/[a-z_]+|net/[a-z_]+|linux/[a-z_]+|asm/[a-z_]+)\.h>'
status=0

offend() {  # pattern, description, files...
  local pattern=$1 what=$2
  shift 2
  local hits
  hits=$(grep -HnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*$pattern" "$@" 2>/dev/null) || return 0
  echo "$what:"
  echo "$hits" | sed 's/^/  /'
  status=1
}

above_platform=$(find relay filter port app dialogs resources settings -name '*.h' -o -name '*.cpp' 2>/dev/null |
  grep -v '^relay/platform/' | grep -vxE 'relay/(epoll|poll)_poller\.cpp' | sort)
offend "$posix" "a POSIX header above the platform layer" $above_platform

engine=$(find relay filter settings -name '*.h' -o -name '*.cpp' 2>/dev/null | sort)
offend '"(port|dialogs|resources|app)/' "the engine includes a layer above it" $engine
offend '"(filter|port|dialogs|resources|app|settings)/|"relay/[a-z_]+\.h"' "the platform layer includes a layer above it" relay/platform/*
offend '"(port|app)/' "a window part includes a layer above it" $(find dialogs resources -name '*.h' -o -name '*.cpp' | sort)
offend '"dialogs/' "resources/ includes dialogs/" $(find resources -name '*.h' -o -name '*.cpp' | sort)
# The plain library's sources as port/CMakeLists.txt lists them, and their headers.
plain_port=$(awk '/add_library\(quillex_profile /{on=1; next} on && /\)/{on=0} on {print $1}' port/CMakeLists.txt |
  while read -r source; do echo "port/$source"; [ -f "port/${source%.cpp}.h" ] && echo "port/${source%.cpp}.h"; done)
offend '"(dialogs|resources|app)/' "a plain port/ file includes a Qt layer" $plain_port

[ $status -eq 0 ] && echo "layers: every include runs one way; no POSIX header above relay/platform/"
exit $status
