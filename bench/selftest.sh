#!/usr/bin/env bash
# Proves the benchmark's checks: through an honest relay nothing is reported
# lost, through a corrupting or truncating one the load generator must fail.
# Usage: bench/selftest.sh (after bench/run.sh or a build of build-bench).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLEX_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target bench_client bench_server faulty_relay >/dev/null
bin=$build/bench
work=$(mktemp -d /tmp/quillex-bench-selftest.XXXXXX)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

"$bin/bench_server" >"$work/port" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
server=$(head -n1 "$work/port")

passed=0 failed=0
for fault in none corrupt truncate; do
  port=$("$bin/bench_client" freeport)
  "$bin/faulty_relay" "$port" "$server" "$fault" &
  relay=$!
  pids+=("$relay")
  "$bin/bench_client" wait "$port" 5000
  rc=0
  "$bin/bench_client" run --target "$port" --server "$server" --integrity >/dev/null 2>"$work/$fault.err" || rc=$?
  kill "$relay"; wait "$relay" 2>/dev/null || true
  want=2; [ "$fault" = none ] && want=0
  if [ "$rc" -eq "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "relay '$fault': load generator exited $rc, expected $want" >&2
    cat "$work/$fault.err" >&2
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
