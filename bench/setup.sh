# Installation, build and process helpers of the benchmark. Sourced by
# bench/run.sh from the repository root.

peers_present() {
  command -v socat && command -v rinetd && command -v haproxy && command -v nginx &&
    [ -f /usr/lib/nginx/modules/ngx_stream_module.so ]
} >/dev/null

# The peers' packages would start system services when installed; a
# policy-rc.d of our own forbids that for the length of the install only, so the
# benchmark never leaves a service running and never depends on one.
install_peers() {
  scripts/deps.sh build
  peers_present && return 0
  local sudo_cmd=() guard=/usr/sbin/policy-rc.d own_guard=
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  if [ ! -e "$guard" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$guard" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$guard"
    own_guard=1
  fi
  local rc=0
  scripts/deps.sh bench || rc=$?
  [ -z "$own_guard" ] || "${sudo_cmd[@]}" rm -f "$guard"
  return "$rc"
}

build_tools() {
  local build=build-bench
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLEX_TESTS=OFF >/dev/null
  # Two jobs at most: the machine is shared.
  cmake --build "$build" -j2 --target Quillex bench_client bench_server >/dev/null
  # Built only where X11 and XTest are there to build against.
  cmake --build "$build" -j2 --target menu_latency >/dev/null 2>&1 || true
  QUILLEX_BIN=$root/$build/app/Quillex
  BENCH_CLIENT=$root/$build/bench/bench_client
  BENCH_SERVER=$root/$build/bench/bench_server
  MENU_LATENCY=$root/$build/bench/menu_latency
}

# A thousand held connections cost a relay two descriptors each.
raise_file_limit() {
  local want=16384 hard
  hard=$(ulimit -Hn)
  if [ "$hard" != unlimited ] && [ "$hard" -lt "$want" ]; then want=$hard; fi
  ulimit -n "$want"
  [ "$want" -ge 4096 ] || echo "bench: only $want descriptors allowed; idle connections may be refused" >&2
}

# The first COUNT lines of FILE once they are written (at most 5 s), or nothing.
wait_for_lines() {
  local file=$1 count=$2 i
  for i in $(seq 100); do
    if [ "$(wc -l <"$file" 2>/dev/null || echo 0)" -ge "$count" ]; then
      head -n "$count" "$file"
      return 0
    fi
    sleep 0.05
  done
}

# Every descendant of PID, read from /proc (a minimal system may lack pgrep).
descendants_of() {
  local stat rest f pids=() parents=() i frontier=("$1") next
  for f in /proc/[0-9]*/stat; do
    read -r stat 2>/dev/null <"$f" || continue
    rest=${stat##*) }  # the command name may hold spaces and parentheses
    read -r _ ppid _ <<<"$rest"
    pids+=("${f//[^0-9]/}")
    parents+=("$ppid")
  done
  while [ ${#frontier[@]} -gt 0 ]; do
    next=()
    for i in "${!pids[@]}"; do
      if [[ " ${frontier[*]} " == *" ${parents[$i]} "* ]]; then
        echo "${pids[$i]}"
        next+=("${pids[$i]}")
      fi
    done
    frontier=("${next[@]}")
  done
}

# Stops a process this script started, and its descendants (forked workers or
# per-connection children), by process id: TERM, then KILL after 3 s.
stop_tree() {
  local pid=$1 kids=() p i
  kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
  mapfile -t kids < <(descendants_of "$pid")
  kill -TERM "$pid" "${kids[@]}" 2>/dev/null || true
  for i in $(seq 60); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  for p in "$pid" "${kids[@]}"; do kill -0 "$p" 2>/dev/null && kill -KILL "$p" 2>/dev/null; done
  wait "$pid" 2>/dev/null || true
}
