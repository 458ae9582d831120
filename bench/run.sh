#!/usr/bin/env bash
# Relay benchmark on 127.0.0.1: a direct connection, Quillex --headless
# (release build, default buffer size, timeouts set), the same copying every
# byte through its buffers, with its connection log on a pipe nobody reads
# and on the event loop's poll backend,
# Quillex with its window on a private
# X server (when Xvfb is installed) and the peer relays socat, rinetd,
# haproxy (one thread) and nginx stream (one worker), measured in one run and
# printed as one table. Never fails on speed; exits 1 only when bytes were lost
# or corrupted through some target, or Quillex itself could not be measured.
#
#   bench/run.sh           full run (about five minutes; medians of three)
#   bench/run.sh --quick   the same table in under a minute
#   QUILLEX_BASELINE=path/to/Quillex bench/run.sh
#                          adds a column for that (earlier) build
#   BENCH_IDLE=10000 bench/run.sh
#                          holds that many idle connections (default 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

mode=--full
case "${1:-}" in
  --quick) mode=--quick ;;
  ""|--full) ;;
  *) echo "usage: bench/run.sh [--quick|--full]" >&2; exit 2 ;;
esac

. bench/peers.sh
. bench/setup.sh

install_peers
build_tools
raise_file_limit

work=$(mktemp -d /tmp/quillex-bench.XXXXXX)
started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do stop_tree "$pid"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

targets=(direct Quillex Quillex+copy Quillex+unread Quillex+poll)
# Quillex with an IPv6 listener, where this machine has IPv6 loopback.
declare -A via
if python3 -c 'import socket; s = socket.socket(socket.AF_INET6); s.bind(("::1", 0))' 2>/dev/null; then
  targets+=(Quillex+IPv6)
  via[Quillex+IPv6]=--ipv6
fi
# An earlier build, to compare with in the same run.
[ -n "${QUILLEX_BASELINE:-}" ] && targets+=(baseline)
# Quillex with its window, where an X server can be started for it.
command -v Xvfb >/dev/null && targets+=(Quillex+window)
targets+=(socat rinetd haproxy nginx)
declare -A port pid server
# One server port per target (see bench_server.cpp).
"$BENCH_SERVER" "${#targets[@]}" >"$work/server.ports" 2>"$work/server.log" &
started+=("$!")
mapfile -t server_ports < <(wait_for_lines "$work/server.ports" "${#targets[@]}")
[ ${#server_ports[@]} -eq ${#targets[@]} ] || { echo "bench: the echo server did not start" >&2; exit 1; }
for i in "${!targets[@]}"; do server[${targets[$i]}]=${server_ports[$i]}; done
port[direct]=${server[direct]}
pid[direct]=0
failed=()

# Every relay runs for the whole measurement, idle while another is measured.
start_relays() {
  local target dir starter
  for target in "${targets[@]:1}"; do
    dir="$work/$target"
    mkdir -p "$dir"
    port[$target]=$("$BENCH_CLIENT" freeport)
    STARTED_PID=
    starter="start_${target,,}"
    if "${starter//+/_}" "${port[$target]}" "${server[$target]}" "$dir"; then
      started+=("$STARTED_PID")
      pid[$target]=$STARTED_PID
    fi
    if [ -z "${pid[$target]:-}" ] || ! "$BENCH_CLIENT" wait "${port[$target]}" 5000 ${via[$target]:-}; then
      echo "  $target did not start:" >&2
      cat "$dir"/*.log >&2 2>/dev/null || true
      unset "pid[$target]"
      echo "$target - -" >>"$work/all.txt"
      [[ "$target" = Quillex* ]] && failed+=("$target (did not start)")
    fi
  done
}

# One phase for every target in turn, round after round, so a disturbance of
# the shared machine spreads over all of them instead of spoiling one column;
# the table shows the median of the rounds.
measure_phase() {
  local phase=$1 rounds=$2 round target rc
  echo "  measuring $phase ..." >&2
  for ((round = 1; round <= rounds; round++)); do
    for target in "${targets[@]}"; do
      [ -n "${pid[$target]:-}" ] || continue
      rc=0
      "$BENCH_CLIENT" run --target "${port[$target]}" --server "${server[$target]}" ${via[$target]:-} \
        --pid "${pid[$target]}" --only "$phase" $mode --repeats 1 ${BENCH_IDLE:+--idle "$BENCH_IDLE"} \
        >"$work/out" 2>"$work/err" || rc=$?
      sed "s/^/$target /" "$work/out" >>"$work/all.txt"
      if [ "$rc" -ne 0 ]; then
        failed+=("$target")
        sed "s/^/    $target: /" "$work/err" >&2
      fi
    done
  done
}

# Total and stolen CPU ticks of the machine: a virtual machine whose host is
# busy runs slower, and the table says so.
cpu_ticks() { awk '/^cpu /{t=0; for (i = 2; i <= NF; i++) t += $i; print t, $9}' /proc/stat; }

# How soon the window's right-click menu opens while 16 clients connect as
# fast as they can, with the event log window closed and then open.
measure_menu() {
  local target=Quillex+window dir display window log samples=10 load key X Y WIDTH HEIGHT SCREEN WINDOW
  [ -n "${pid[$target]:-}" ] && [ -x "$MENU_LATENCY" ] && command -v xdotool >/dev/null || return 0
  echo "  measuring menu ..." >&2
  [ "$mode" = --quick ] && samples=4
  dir="$work/$target"
  display=":$(cat "$dir/display")"
  window=$(DISPLAY=$display xdotool search --name '^クイレクス$' | head -n 1)
  [ -n "$window" ] || { failed+=("$target (no window for the menu)"); return 0; }
  eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$window")"
  for key in menu menu_log; do
    if [ "$key" = menu_log ]; then
      # 通信ログ, third entry of the menu; moved off the main window.
      DISPLAY=$display xdotool mousemove $((X + 10)) $((Y + 10)) click 3 sleep 0.5 key Down Down Down Return
      for _ in $(seq 50); do log=$(DISPLAY=$display xdotool search --name '^通信ログ$' | head -n 1) && break; sleep 0.1; done
      [ -n "$log" ] && DISPLAY=$display xdotool windowmove "$log" 0 470
    fi
    "$BENCH_CLIENT" run --target "${port[$target]}" --server "${server[$target]}" --only cps $mode --repeats 3 \
      >/dev/null 2>&1 &
    load=$!
    sleep 0.5
    DISPLAY=$display "$MENU_LATENCY" $((X + 10)) $((Y + 10)) "$samples" "$key" | sed "s/^/$target /" >>"$work/all.txt"
    wait "$load" || true
  done
}

# Quillex with 1,000 ports listening and nobody calling, beside one with one
# port: the memory each further port costs and the CPU they take at rest.
# The ports share one port number, each on a loopback address of its own.
measure_ports() {
  local count=1000 n dir i one seconds=5 port
  local -A held
  [ -x "$QUILLEX_BIN" ] || return 0
  echo "  measuring ports ..." >&2
  port=$("$BENCH_CLIENT" freeport)
  for n in 1 $count; do
    dir="$work/ports$n"
    mkdir -p "$dir"
    {
      printf '[SYSTEM]\nPORTNUM=%d\n' "$n"
      for ((i = 0; i < n; i++)); do
        printf '[TCP-PORT%d]\nACT=1\nPORT=%d\nFORWARDPORT=9\nISLISTENBIND=1\nIPLISTENBIND=127.0.%d.%d\n' \
          "$i" "$port" $((1 + i / 250)) $((1 + i % 250))
      done
    } >"$dir/Quillex.ini"
    "$QUILLEX_BIN" --headless --quiet --profile "$dir/Quillex.ini" >/dev/null 2>"$dir/stderr.log" &
    started+=("$!")
    held[$n]=$!
    wait_for_lines "$dir/stderr.log" "$n" >/dev/null
  done
  one=$("$BENCH_CLIENT" rest "${held[1]}" 1 | awk '$1 == "rest_kib" { print $2 }')
  "$BENCH_CLIENT" rest "${held[$count]}" "$seconds" |
    awk -v one="$one" -v n="$count" '
      $1 == "rest_cpu" { print "Quillex ports_cpu", $2 }
      $1 == "rest_kib" { printf "Quillex ports_kib %.2f\n", ($2 - one) / (n - 1) }' >>"$work/all.txt"
}

rounds=3
[ "$mode" = --quick ] && rounds=1
read -r ticks0 steal0 < <(cpu_ticks)
echo "bench: ${mode#--} run" >&2
start_relays
for phase in idle close half; do measure_phase "$phase" 1; done
for phase in rtt cps bulk; do measure_phase "$phase" "$rounds"; done
measure_menu
measure_ports
for target in Quillex Quillex+unread; do
  [ -n "${pid[$target]:-}" ] && count_dropped_lines "$target" "$work/$target" >>"$work/all.txt"
done

read -r ticks1 steal1 < <(cpu_ticks)
stolen=$(awk -v t=$((ticks1 - ticks0)) -v s=$((steal1 - steal0)) 'BEGIN { printf "%.1f", (t > 0 ? 100 * s / t : 0) }')
echo
echo "Relay benchmark on 127.0.0.1 (${mode#--} run, $(nproc) cores, ${stolen}% of the CPU time stolen by the host), figure and ratio to direct:"
awk -f bench/table.awk "$work/all.txt"
cat <<'NOTE'
Higher is better for MiB/s and connections/s, lower for round trips. Memory is
the growth of the relay's processes (PSS, children included) divided by the
connections held. Every received byte is checked against the sent pattern.
The menu rows are the time from a right click on the window to its menu, while
16 clients connect through it as fast as they can.

NOTE
if [ ${#failed[@]} -gt 0 ]; then
  mapfile -t failed < <(printf '%s\n' "${failed[@]}" | sort -u)
  echo "FAILED: ${failed[*]} (bytes lost or corrupted, or the relay could not be measured)"
  exit 1
fi
echo "Every byte checked: nothing lost or corrupted."
