#!/usr/bin/env bash
# Builds the program (release) and starts it: the window when a display is
# available, otherwise the headless relay.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh build

build=build
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target Quillex

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/app/Quillex" "$@"
fi
echo "No display found: starting Quillex --headless (the ports that are ON in Quillex.ini)."
exec "$build/app/Quillex" --headless "$@"
