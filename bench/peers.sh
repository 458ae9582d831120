# Starts each relay under test in the foreground, as a child of the benchmark
# script, with its configuration in its own directory. Sourced by bench/run.sh.
# Every start_* takes LISTEN_PORT SERVER_PORT DIR, sets STARTED_PID and fails
# when the program is missing.

# The profile of one port relaying LISTEN_PORT to SERVER_PORT, in DIR. It
# listens on loopback only, like every peer here, passes a half-close on
# (HALFCLOSE=1, which changes nothing for clients that close fully) and has
# the timeouts a service would set (an earlier build ignores them).
write_quillex_profile() {
  local port=$1 srv=$2 dir=$3 listen=${4:-127.0.0.1}
  cat >"$dir/Quillex.ini" <<INI
[SYSTEM]
PORTNUM=1
WINDOW=1
[TCP-PORT0]
ACT=1
PORT=$port
FORWARDHOST=127.0.0.1
FORWARDPORT=$srv
BUFFERSIZE=128
ISLISTENBIND=1
IPLISTENBIND=$listen
ISCONNECTBIND=0
IPCONNECTBIND=127.0.0.1
FILTERMODE=0
ENABLEIPCOUNT=0
REFUSEIPCOUNT=0
HALFCLOSE=1
CONNECTTIMEOUT=10
IDLETIMEOUT=3600
KEEPALIVE=60
INI
}

# Headless, with its connection log on, as a service would run.
start_quillex() {
  local port=$1 srv=$2 dir=$3
  [ -x "$QUILLEX_BIN" ] || return 1
  write_quillex_profile "$port" "$srv" "$dir"
  "$QUILLEX_BIN" --headless --profile "$dir/Quillex.ini" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}

# The same listening on ::1: its callers come over IPv6 (its destination is
# the IPv4 server, as every target's is).
start_quillex_ipv6() {
  local port=$1 srv=$2 dir=$3
  [ -x "$QUILLEX_BIN" ] || return 1
  write_quillex_profile "$port" "$srv" "$dir" ::1
  "$QUILLEX_BIN" --headless --profile "$dir/Quillex.ini" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}

# The same on the event loop's portable backend, poll(2).
start_quillex_poll() {
  local port=$1 srv=$2 dir=$3
  [ -x "$QUILLEX_BIN" ] || return 1
  write_quillex_profile "$port" "$srv" "$dir"
  QUILLEX_POLLER=poll "$QUILLEX_BIN" --headless --profile "$dir/Quillex.ini" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}

# The same copying every byte through its buffers, as it does where the
# system cannot move bytes between sockets and pipes: the path before and
# after, side by side.
start_quillex_copy() {
  local port=$1 srv=$2 dir=$3
  [ -x "$QUILLEX_BIN" ] || return 1
  write_quillex_profile "$port" "$srv" "$dir"
  QUILLEX_ZEROCOPY=0 "$QUILLEX_BIN" --headless --profile "$dir/Quillex.ini" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}

# The same, but its connection log goes to a pipe that nobody reads until
# the end (a stuck journal, a supervisor that stopped reading): relaying
# must not notice. The pipe's holder is stopped with the benchmark.
start_quillex_unread() {
  local port=$1 srv=$2 dir=$3
  [ -x "$QUILLEX_BIN" ] || return 1
  write_quillex_profile "$port" "$srv" "$dir"
  mkfifo "$dir/log.fifo"
  sleep infinity <"$dir/log.fifo" &
  started+=("$!")
  "$QUILLEX_BIN" --headless --profile "$dir/Quillex.ini" >"$dir/stdout.log" 2>"$dir/log.fifo" &
  STARTED_PID=$!
}

# The log lines a Quillex target dropped: the log that was not read is read
# now, so that the relay writes what waited and the line that counts the rest.
count_dropped_lines() {
  local target=$1 dir=$2
  if [ -p "$dir/log.fifo" ]; then
    timeout 3 cat "$dir/log.fifo" >"$dir/stderr.log" || true
  fi
  awk -v t="$target" '{ for (i = 1; i <= NF; i++) if ($i ~ /^dropped=/) { sub(/^dropped=/, "", $i); n += $i } }
    END { print t, "dropped", n + 0 }' "$dir/stderr.log"
}

# An earlier build of Quillex for comparison (QUILLEX_BASELINE=path), run
# headless from a copy beside its profile, which any build understands.
start_baseline() {
  local port=$1 srv=$2 dir=$3
  [ -x "${QUILLEX_BASELINE:-}" ] || return 1
  cp "$QUILLEX_BASELINE" "$dir/Quillex"
  write_quillex_profile "$port" "$srv" "$dir"
  "$dir/Quillex" --headless >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}

# With its window shown on a private X server, as most people run it. The
# server runs as the program's child, so stopping the program's tree stops it.
start_quillex_window() {
  local port=$1 srv=$2 dir=$3
  [ -x "$QUILLEX_BIN" ] && command -v Xvfb >/dev/null || return 1
  write_quillex_profile "$port" "$srv" "$dir"
  (
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
    for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.05; done
    DISPLAY=":$(cat "$dir/display")" QT_QPA_PLATFORM=xcb exec "$QUILLEX_BIN" --profile "$dir/Quillex.ini" \
      >"$dir/stdout.log" 2>"$dir/stderr.log"
  ) &
  STARTED_PID=$!
}

start_socat() {
  local port=$1 srv=$2 dir=$3
  command -v socat >/dev/null || return 1
  socat "TCP4-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork,backlog=512" \
    "TCP4:127.0.0.1:$srv" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}

start_rinetd() {
  local port=$1 srv=$2 dir=$3
  command -v rinetd >/dev/null || return 1
  # Its own pid file, so nothing is written outside the temporary directory.
  cat >"$dir/rinetd.conf" <<CONF
pidlogfile $dir/rinetd.pid
127.0.0.1 $port 127.0.0.1 $srv
CONF
  rinetd -f -c "$dir/rinetd.conf" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}

start_haproxy() {
  local port=$1 srv=$2 dir=$3
  command -v haproxy >/dev/null || return 1
  cat >"$dir/haproxy.cfg" <<CONF
global
  nbthread 1
  maxconn 4000
defaults
  mode tcp
  timeout connect 5s
  timeout client 120s
  timeout server 120s
listen bench
  bind 127.0.0.1:$port
  server destination 127.0.0.1:$srv
CONF
  haproxy -db -f "$dir/haproxy.cfg" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}

start_nginx() {
  local port=$1 srv=$2 dir=$3
  local module=/usr/lib/nginx/modules/ngx_stream_module.so
  command -v nginx >/dev/null && [ -f "$module" ] || return 1
  cat >"$dir/nginx.conf" <<CONF
load_module $module;
daemon off;
worker_processes 1;
worker_rlimit_nofile 20000;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 8192; }
stream {
  server {
    listen 127.0.0.1:$port;
    proxy_pass 127.0.0.1:$srv;
  }
}
CONF
  # -p and -e keep every path, even the log opened before the configuration is
  # read, inside the temporary directory.
  nginx -p "$dir/" -e "$dir/error.log" -c "$dir/nginx.conf" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  STARTED_PID=$!
}
