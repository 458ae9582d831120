#!/usr/bin/env bash
# Renders every window of the release program into docs/ on a private X
# server with a notification area, driving it as a user does (clicks and
# keys). Two runs:
#   ten ports, four ON, one filtering callers, one carrying two live
#   connections, one that cannot listen (another program holds its port):
#   its message when switched on, the main window, tray menu, connection status (as opened
#   and widened), the event log, About and the refusal of the system
#   properties (a message box);
#   one port, OFF, with a long destination and both address lists: main
#   window, settings, the localhost question, filter condition, system
#   properties.
# Clicks go to points given in dialog units of a window's template, scaled
# by the window's size. Everything started here is stopped again by its
# process id.
#   scripts/screenshot.sh [output directory, default docs]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs}")
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

# The program's visible windows, one "id width title" line each (searching
# by title misses the tray icon's window).
program_windows() {
  local w X Y WIDTH HEIGHT SCREEN WINDOW
  for w in $(xdotool search --onlyvisible --class '^Quillex$'); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    echo "$w $WIDTH $(xdotool getwindowname "$w")"
  done
}
# The visible window with exactly this title and a width within the
# bounds: the tray icon's small window, a message box and a menu are all
# titled "Quillex".
window_named() {
  local id width name
  while read -r id width name; do
    [ "$name" = "$1" ] && [ "$width" -ge "${2:-0}" ] && [ "$width" -le "${3:-99999}" ] &&
      echo "$id" && return 0
  done < <(program_windows)
  return 1
}
wait_window() {
  wait_for window_named "$@"
  window_named "$@"
}
no_window() { ! window_named "$@"; }
wait_tray_icon() { wait_window Quillex 0 40; }
wait_message_box() { wait_window Quillex 100; }

# A window of the program that is not in the list taken before: the menu
# that an action opened.
new_window() {
  local id width name
  while read -r id width name; do
    grep -qx "$id" <<<"$1" || { echo "$id" && return 0; }
  done < <(program_windows)
  return 1
}
window_ids() { program_windows | cut -d' ' -f1; }
wait_popup() {
  wait_for new_window "$1"
  new_window "$1"
}

# Clicks at (x, y) in dialog units of a window whose template is w x h units.
click_units() {
  local window=$1 x=$2 y=$3 w=$4 h=$5 X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + WIDTH * x / w)) $((Y + HEIGHT * y / h)) click 1
}

# Clicks at (x, y) in units of the first port panel (189 x 41) of a main
# window with the given number of panel rows and columns.
click_panel() {
  local window=$1 x=$2 y=$3 rows=$4 columns=$5 X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + WIDTH / columns * x / 189)) $((Y + 30 + (HEIGHT - 30) / rows * y / 41)) click 1
}

# Opens the main window's menu with a right click in the strip above the
# panels and chooses the entry that many steps down.
choose_window_menu() {
  local window=$1 steps=$2 before X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$window")"
  before=$(window_ids)
  xdotool mousemove $((X + 10)) $((Y + 10)) click 3
  wait_popup "$before" >/dev/null
  for ((i = 0; i < steps; i++)); do xdotool key Down; done
  xdotool key Return
}

# The tray icon: the program's small window inside trayer's panel.
right_click_tray_icon() {
  local icon X Y WIDTH HEIGHT SCREEN WINDOW
  icon=$(wait_tray_icon)
  eval "$(xdotool getwindowgeometry --shell "$icon")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
}

# Takes a window once it has stopped changing (counts and colours follow
# the relay a moment later), without time stamps, so an unchanged window
# gives an unchanged file.
shoot() {
  local window=$1 name=$2 previous= current i
  for ((i = 0; i < 20; i++)); do
    import -window "$window" "$work/shot.png"
    current=$(identify -format '%#' "$work/shot.png")
    [ "$current" = "$previous" ] && break
    previous=$current
    sleep 0.3
  done
  mkdir -p "$out"
  convert "$work/shot.png" -strip -define png:exclude-chunks=date,time "$out/$name.png"
  echo "Wrote $out/$name.png"
}

# Starts Quillex in its own directory with the given profile.
start_quillex() {
  local dir=$work/$1
  mkdir -p "$dir"
  cp build/app/Quillex "$dir/Quillex"
  cat >"$dir/Quillex.ini"
  (cd "$dir" && QT_QPA_PLATFORM=xcb exec ./Quillex >/dev/null 2>"$dir/quillex.log") &
  pids+=($!)
  quillex_pid=$!
}

stop_quillex() {
  kill "$quillex_pid"
  wait "$quillex_pid" 2>/dev/null || true
  wait_for no_window "$title"
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for test -s "$work/display"
export DISPLAY=":$(cat "$work/display")"

trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
wait_for xdotool search --onlyvisible --class trayer

title=クイレクス

# --- Ten ports -------------------------------------------------------------
relay_port=18080
destination_port=18081
taken_port=15432
# Another program holds this port, so the port that wants it cannot listen.
python3 -c 'import socket, sys, time; s = socket.create_server(("0.0.0.0", int(sys.argv[1]))); print("ready", flush=True); time.sleep(600)' \
  "$taken_port" >"$work/taken.log" 2>&1 &
pids+=($!)
wait_for grep -q ready "$work/taken.log"
start_quillex ten <<EOF
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
ACT=1
PORT=$taken_port
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

# The port that cannot listen starts without a word (its mark says it);
# switched off and on again by the user, it says why.
main=$(wait_window "$title")
click_panel "$main" 16 146 5 2  # TCP:15432's switch, OFF
click_panel "$main" 16 146 5 2  # and ON again
shoot "$(wait_message_box)" not-listening
xdotool key Return

# A destination that accepts; a client that exchanges a little and ends,
# one whose destination refuses (port 2), and two that stay connected
# through port 0, so its count shows live connections and the log has lines.
python3 - "$relay_port" "$destination_port" >"$work/peers.log" 2>&1 <<'EOF' &
import socket, sys, time
relay, destination = int(sys.argv[1]), int(sys.argv[2])
server = socket.create_server(("127.0.0.1", destination))
def connect(port):
    deadline = time.time() + 10
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port))
        except ConnectionRefusedError:
            if time.time() > deadline:
                raise
            time.sleep(0.1)
once = connect(relay)
far, _ = server.accept()
once.sendall(b"q" * 1500)
far.recv(1500, socket.MSG_WAITALL)
far.sendall(b"a" * 700)
once.recv(700, socket.MSG_WAITALL)
once.close()
far.recv(1)
far.close()
connect(13306).recv(1)
clients = [connect(relay) for _ in range(2)]
accepted = [server.accept() for _ in clients]
clients[0].sendall(b"x" * 3000)
print("ready", flush=True)
time.sleep(600)
EOF
pids+=($!)
wait_for grep -q ready "$work/peers.log"
# Port 0's switch with the keyboard focus, as after tabbing to it from the
# link (whose first Tab stays in it) in an active window.
xdotool windowfocus "$main" sleep 0.3 key Tab Tab
shoot "$main" main-window

wait_tray_icon >/dev/null
before=$(window_ids)
right_click_tray_icon
shoot "$(wait_popup "$before")" tray-menu
xdotool key Escape

click_panel "$main" 59 29 5 2  # 確認
status=$(wait_window 接続状況)
shoot "$status" status
xdotool windowmove "$status" 10 100 windowsize "$status" 1000 220
shoot "$status" status-wide
xdotool key Escape

choose_window_menu "$main" 2  # the version entry
about=$(wait_window 'Quillexのﾊﾞｰｼﾞｮﾝ情報')
shoot "$about" about
click_units "$about" 203 14 235 80  # OK

choose_window_menu "$main" 3  # 通信ログ
log=$(wait_window 通信ログ)
xdotool windowmove "$log" 10 100 windowsize "$log" 1000 260
shoot "$log" event-log
xdotool key Escape

choose_window_menu "$main" 1  # プロパティ設定, refused while ports are ON
shoot "$(wait_message_box)" message-box
xdotool key Return
stop_quillex

# --- One port --------------------------------------------------------------
start_quillex one <<'EOF'
[SYSTEM]
PORTNUM=1
WINDOW=1

[TCP-PORT0]
PORT=10080
FORWARDHOST=relay-gateway.branch-office.example.co.jp
FORWARDPORT=8080
FILTERMODE=3
ENABLEIPCOUNT=3
ENABLEIP0=192.168.0.0/16
ENABLEIP1=10.0.0.0/8
ENABLEIP2=172.16.5.20
REFUSEIPCOUNT=2
REFUSEIP0=192.168.1.13
REFUSEIP1=10.20.0.0/24
EOF
main=$(wait_window "$title")
shoot "$main" main-window-1

click_panel "$main" 59 11 1 1  # 設定
settings=$(wait_window QUILLEX設定)
shoot "$settings" settings

click_units "$settings" 111 19 191 186  # the localhost box, offered for another host
shoot "$(wait_message_box)" question
xdotool key Escape  # No

click_units "$settings" 47 148 191 186  # フィルタ条件設定
filter=$(wait_window フィルタリング条件)
shoot "$filter" filter-condition
click_units "$filter" 166 131 223 145  # ｷｬﾝｾﾙ
click_units "$settings" 143 175 191 186  # ｷｬﾝｾﾙ

choose_window_menu "$main" 1  # プロパティ設定
properties=$(wait_window システムプロパティ)
shoot "$properties" properties
click_units "$properties" 122 99 154 113  # ｷｬﾝｾﾙ
stop_quillex
