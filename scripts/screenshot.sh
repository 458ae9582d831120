#!/usr/bin/env bash
# Takes docs/main-window.png: the release program with ten ports on a private
# X server, three of them ON, one filtering callers and one carrying two live
# connections. Everything it starts is stopped again by its process id.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh test

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target Quillex

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Polls a command for up to ten seconds.
wait_for() {
  local i
  for ((i = 0; i < 100; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "screenshot: timed out waiting for: $*" >&2
  return 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for test -s "$work/display"
export DISPLAY=":$(cat "$work/display")"

trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
wait_for xdotool search --onlyvisible --class trayer

relay_port=18080
destination_port=18081
cp build/app/Quillex "$work/Quillex"
cat >"$work/Quillex.ini" <<EOF
[SYSTEM]
PORTNUM=10
WINDOW=1

[TCP-PORT0]
ACT=1
PORT=$relay_port
FORWARDHOST=127.0.0.1
FORWARDPORT=$destination_port

[TCP-PORT1]
ACT=1
PORT=18443
FORWARDHOST=127.0.0.1
FORWARDPORT=18444
FILTERMODE=2

[TCP-PORT2]
ACT=1
PORT=13306
FORWARDHOST=127.0.0.1
FORWARDPORT=3306

[TCP-PORT3]
PORT=15432
FORWARDHOST=127.0.0.1
FORWARDPORT=5432

[TCP-PORT4]
PORT=16379
FORWARDHOST=127.0.0.1
FORWARDPORT=6379

[TCP-PORT5]
PORT=10025
FORWARDHOST=127.0.0.1
FORWARDPORT=25
EOF
(cd "$work" && QT_QPA_PLATFORM=xcb exec ./Quillex >/dev/null 2>"$work/quillex.log") &
pids+=($!)

# A destination that accepts, and two clients that stay connected through
# port 0, so its count shows live connections.
python3 - "$relay_port" "$destination_port" >"$work/peers.log" 2>&1 <<'EOF' &
import socket, sys, time
relay, destination = int(sys.argv[1]), int(sys.argv[2])
server = socket.create_server(("127.0.0.1", destination))
clients = []
deadline = time.time() + 10
while len(clients) < 2:
    try:
        clients.append(socket.create_connection(("127.0.0.1", relay)))
    except ConnectionRefusedError:
        if time.time() > deadline:
            raise
        time.sleep(0.1)
accepted = [server.accept() for _ in clients]
print("ready", flush=True)
time.sleep(600)
EOF
pids+=($!)
wait_for grep -q ready "$work/peers.log"
wait_for xdotool search --onlyvisible --name '^クイレクス$'
window=$(xdotool search --onlyvisible --name '^クイレクス$' | head -n 1)

# The count changes only after the relay has connected to the destination:
# take pictures until two in a row agree.
previous=
for ((i = 0; i < 20; i++)); do
  import -window "$window" "$work/shot.png"
  current=$(identify -format '%#' "$work/shot.png")
  [ "$current" = "$previous" ] && break
  previous=$current
  sleep 0.3
done
mkdir -p "$root/docs"
# Without time stamps, so an unchanged window gives an unchanged file.
convert "$work/shot.png" -strip -define png:exclude-chunks=date,time "$root/docs/main-window.png"
echo "Wrote docs/main-window.png"
