#!/usr/bin/env bash
# Relay benchmark on 127.0.0.1: a direct connection, Quillex --headless
# (release build, default buffer size) and the peer relays socat, rinetd,
# haproxy (one thread) and nginx stream (one worker), measured in one run and
# printed as one table. Never fails on speed; exits 1 only when bytes were lost
# or corrupted through some target, or Quillex itself could not be measured.
#
#   bench/run.sh           full run (about five minutes; medians of three)
#   bench/run.sh --quick   the same table in under a minute
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

"$BENCH_SERVER" >"$work/server.port" 2>"$work/server.log" &
server_pid=$!
started+=("$server_pid")
server_port=$(wait_for_line "$work/server.port")
[ -n "$server_port" ] || { echo "bench: the echo server did not start" >&2; exit 1; }

failed=()
measure() {  # NAME PORT PID
  local name=$1 port=$2 pid=$3 rc=0
  echo "  measuring $name ..." >&2
  "$BENCH_CLIENT" run --target "$port" --server "$server_port" --pid "$pid" $mode \
    >"$work/$name.out" 2>"$work/$name.err" || rc=$?
  sed "s/^/$name /" "$work/$name.out" >>"$work/all.txt"
  if [ "$rc" -ne 0 ]; then
    failed+=("$name")
    sed "s/^/    $name: /" "$work/$name.err" >&2
  fi
}

echo "bench: server on 127.0.0.1:$server_port, mode ${mode#--}" >&2
measure direct "$server_port" 0
for target in Quillex socat rinetd haproxy nginx; do
  dir="$work/$target"
  mkdir -p "$dir"
  port=$("$BENCH_CLIENT" freeport)
  STARTED_PID=
  if "start_${target,,}" "$port" "$server_port" "$dir" && "$BENCH_CLIENT" wait "$port" 5000; then
    started+=("$STARTED_PID")
    measure "$target" "$port" "$STARTED_PID"
  else
    echo "  $target did not start; see below" >&2
    cat "$dir"/*.log >&2 2>/dev/null || true
    echo "$target - -" >>"$work/all.txt"
    [ "$target" = Quillex ] && failed+=("$target (did not start)")
  fi
  [ -n "$STARTED_PID" ] && stop_tree "$STARTED_PID"
done

echo
echo "Relay benchmark on 127.0.0.1 (${mode#--} run, $(nproc) cores), figure and ratio to direct:"
awk -f bench/table.awk "$work/all.txt"
cat <<'NOTE'
Higher is better for MiB/s and connections/s, lower for round trips. Memory is
the growth of the relay's processes (PSS, children included) divided by the
connections held. Every received byte is checked against the sent pattern.

NOTE
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]} (bytes lost or corrupted, or the relay could not be measured)"
  exit 1
fi
echo "Every byte checked: nothing lost or corrupted."
