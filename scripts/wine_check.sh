#!/usr/bin/env bash
# The Windows build, end to end under Wine, against python3 on this side:
#  - Quillex.exe --headless with ten ports relays 1 MiB both ways on each
#    (the tenth's caller comes from 127.0.0.2), refuses a caller its filter
#    refuses (127.0.0.1 on the tenth), and logs every connection's end;
#  - a profile replaced atomically is read again (one port restarts, the
#    others are unchanged), and a file beside it changing is no reload;
#  - Ctrl+C (SIGINT to the Wine process) ends it within a second, exit 0;
#  - --headless --service from a console says why not, exit 2, at once;
#  - as a service (sc create, sc start): it relays, writes Quillex.log
#    beside its profile, and sc stop ends it within a second.
# Loopback only, with literal addresses, so it runs in a network namespace
# that has nothing else. Every wait polls with a deadline.
#
# Usage: scripts/wine_check.sh BUILD_DIR   (BUILD_DIR/app/Quillex.exe)
# WINEPREFIX, when set, is used instead of BUILD_DIR/wine-check-prefix; a
# Wine server this script started is ended when it ends.
set -euo pipefail

fail() {
  echo "wine_check: FAIL: $*" >&2
  exit 1
}

[[ $# -eq 1 ]] || fail "usage: $0 BUILD_DIR"
build=$(cd "$1" && pwd) || fail "no build directory $1"
exe="$build/app/Quillex.exe"
peer="$(cd "$(dirname "$0")" && pwd)/wine_check_peer.py"
[[ -f $exe ]] || fail "$exe is missing: cross-build first (cmake/mingw-w64.cmake)"

wine=$(command -v wine64 || true)
[[ -n $wine ]] || wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[[ -n $wineserver ]] || wineserver=/usr/lib/wine/wineserver
[[ -x $wine && -x $wineserver ]] || fail "Wine is not installed (wine64 and wineserver)"
command -v python3 > /dev/null || fail "python3 is missing"

export WINEPREFIX=${WINEPREFIX:-$build/wine-check-prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer at the prefix's first start
unset DISPLAY                              # no window of Wine's may wait for anyone

work=$(mktemp -d "$build/wine-check.XXXXXX")
service=""
serverOurs=0
pids=()

# --- helpers -----------------------------------------------------------------

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# Polls until the command succeeds; fails naming what did not come.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$(($(now_ms) + seconds * 1000))
  until "$@"; do
    (($(now_ms) < deadline)) || fail "$what did not come within $seconds s"
    sleep 0.05
  done
}

# Lines of a file that match, line ends of either system alike (standard error is in text mode).
count() { tr -d '\r' < "$1" 2> /dev/null | grep -c -E -- "$2" || true; }
has_lines() { (($(count "$1" "$2") >= $3)); }

# The Windows path of a file here: Z: is the root in a fresh prefix.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# A wineserver whose directory is this prefix's runs already.
server_running() {
  [[ -d $WINEPREFIX ]] || return 1
  local dev ino name pid
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  name=$(printf 'server-%x-%x' "$dev" "$ino")
  for pid in /proc/[0-9]*; do
    [[ $(cat "$pid/comm" 2> /dev/null) == wineserver* ]] || continue
    [[ $(readlink "$pid/cwd" 2> /dev/null) == */"$name" ]] && return 0
  done
  return 1
}

# The Linux process of a Windows one, found by a word of its command line.
pid_of() {
  local pid
  for pid in /proc/[0-9]*; do
    if tr '\0' ' ' 2> /dev/null < "$pid/cmdline" | grep -q -F -- "$1"; then
      echo "${pid#/proc/}"
      return 0
    fi
  done
  return 1
}

# Ended: no such process, or one whose parent has yet to reap it.
gone() {
  local stat
  stat=$(cat "/proc/$1/stat" 2> /dev/null) || return 0
  [[ ${stat##*) } == Z* ]]
}

# By its path, so that Wine runs it itself rather than through start.exe.
sc() { timeout 60 "$wine" 'C:\windows\system32\sc.exe' "$@"; }

cleanup() {
  local status=$?
  if [[ -n $service ]]; then
    sc stop "$service" > /dev/null 2>&1 || true
    sc delete "$service" > /dev/null 2>&1 || true
  fi
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  if ((serverOurs)); then
    "$wineserver" -k 2> /dev/null || true
    timeout 30 "$wineserver" -w 2> /dev/null || true
  fi
  if ((status == 0)); then
    rm -rf "$work"
  else
    echo "wine_check: its files are in $work" >&2
  fi
}
trap cleanup EXIT

# A profile of ten ports ON: port i relays to destination i; the last one's
# filter refuses 127.0.0.1 (allowed: everyone, refused: 127.0.0.1).
write_profile() {
  local file=$1 i
  {
    printf '[SYSTEM]\r\nPORTNUM=10\r\n'
    for i in $(seq 0 9); do
      printf '[TCP-PORT%d]\r\nACT=1\r\nPORT=%d\r\nFORWARDHOST=127.0.0.1\r\nFORWARDPORT=%d\r\n' \
        "$i" "${listen[i]}" "${destination[i]}"
    done
    printf 'FILTERMODE=3\r\nENABLEIPCOUNT=1\r\nENABLEIP0=0.0.0.0/0\r\nREFUSEIPCOUNT=1\r\nREFUSEIP0=127.0.0.1\r\n'
  } > "$file"
}

# --- Wine ----------------------------------------------------------------------

mkdir -p "$WINEPREFIX"
if server_running; then
  echo "wine_check: using the Wine server already running for $WINEPREFIX"
else
  serverOurs=1
  "$wineserver" -p || fail "the Wine server did not start"  # up between the short-lived programs below
fi
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "wine_check: making the Wine prefix $WINEPREFIX (once)"
  timeout 180 "$wine" wineboot --init > "$work/wineboot.log" 2>&1 || fail "wineboot failed (see $work/wineboot.log)"
fi
[[ $(readlink "$WINEPREFIX/dosdevices/z:") == / ]] || fail "drive Z: of $WINEPREFIX is not /"

# --- ports and destinations -------------------------------------------------------

read -r -a free <<< "$(python3 "$peer" ports 24)"
listen=("${free[@]:0:10}")
destination=("${free[@]:10:10}")
altDestination=${free[20]}
serviceListen=${free[21]}

python3 "$peer" serve "${destination[@]}" "$altDestination" < /dev/null > "$work/serve.out" 2>&1 &
pids+=($!)
wait_until 10 "the destinations" has_lines "$work/serve.out" '^serving' 1

# --- headless: ten ports -------------------------------------------------------

mkdir "$work/headless"
profile="$work/headless/Quillex.ini"
write_profile "$profile"
log="$work/headless/stderr.txt"
# The name in other letters than the file's: Windows names are case-blind, and so must the watch be.
"$wine" "$exe" --headless --profile "$(winpath "$work/headless/QUILLEX.INI")" 2> "$log" &
relayPid=$!
pids+=("$relayPid")
wait_until 30 "ten 'relaying' lines" has_lines "$log" '^TCP-PORT[0-9]: relaying ' 10

python3 "$peer" relay 30 "${listen[@]:0:9}" "127.0.0.2@${listen[9]}" || fail "relaying 1 MiB both ways through ten ports"
python3 "$peer" refused 5 "${listen[9]}" || fail "the filter of TCP-PORT9"
wait_until 5 "a log line per relayed connection" \
  has_lines "$log" ' up=1048576 down=1048576 end=closed-by-(caller|destination) error=0$' 10
for i in $(seq 0 9); do
  has_lines "$log" "port=TCP-PORT$i .* up=1048576 down=1048576 end=closed-by" 1 || fail "no log line for TCP-PORT$i"
done
has_lines "$log" 'port=TCP-PORT9 caller=127\.0\.0\.2:.* end=closed-by' 1 || fail "TCP-PORT9 did not relay 127.0.0.2"
wait_until 5 "the filter's log line" has_lines "$log" 'port=TCP-PORT9 caller=127\.0\.0\.1:.* end=refused-by-filter' 1
echo "wine_check: headless: 1 MiB both ways through each of ten ports, the filter refused 127.0.0.1 on the tenth, all logged"

# --- reload --------------------------------------------------------------------

# Files beside the profile, one of them a longer name that begins like it, change: no reload.
echo "a note" > "$work/headless/notes.txt"
echo "a copy" > "$work/headless/Quillex.ini.bak"
echo "more" >> "$work/headless/notes.txt"
sleep 1  # what must not happen gets its time; nothing to poll for
(($(count "$log" 'reading .* again') == 0)) || fail "a change beside the profile made it read again"

destination[0]=$altDestination
write_profile "$work/headless/Quillex.ini.new"
mv -f "$work/headless/Quillex.ini.new" "$profile"
wait_until 5 "the reload" has_lines "$log" '^TCP-PORT0: restarted; relaying .* -> 127\.0\.0\.1:'"$altDestination " 1
wait_until 5 "nine 'unchanged' lines" has_lines "$log" '^TCP-PORT[1-9]: unchanged$' 9
has_lines "$log" '^Quillex: the profile changed: reading .*QUILLEX\.INI again$' 1 || fail "no line names the reload"
python3 "$peer" relay 30 "${listen[0]}" || fail "relaying through the restarted port"
(($(count "$log" 'reading .* again') == 1)) || fail "one replacement made more than one reload"
echo "wine_check: reload: an atomic replacement restarted the one changed port; the others kept going"

# --- Ctrl+C ----------------------------------------------------------------------

python3 "$peer" hold 10 "${listen[1]}" > "$work/hold.out" 2>&1 &
holdPid=$!
pids+=("$holdPid")
wait_until 5 "a held connection" has_lines "$work/hold.out" '^held$' 1
started=$(now_ms)
kill -INT "$relayPid"
wait_until 1 "the end of Quillex after Ctrl+C" gone "$relayPid"
code=0
wait "$relayPid" || code=$?
((code == 0)) || fail "Quillex ended with $code after Ctrl+C"
wait "$holdPid" || fail "the held connection was not closed by the relay"
has_lines "$log" 'port=TCP-PORT1 .* end=stopped error=0$' 1 || fail "the held connection's log line is missing"
echo "wine_check: Ctrl+C: exit 0 after $(($(now_ms) - started)) ms; the open connection was logged as stopped"

# --- the service -------------------------------------------------------------------

started=$(now_ms)
code=0
timeout 30 "$wine" "$exe" --headless --service --profile "$(winpath "$profile")" 2> "$work/console-service.txt" ||
  code=$?
((code == 2)) || fail "--service from a console ended with $code, not 2"
grep -q 'runs only when the service control manager starts it' "$work/console-service.txt" ||
  fail "--service from a console: $(cat "$work/console-service.txt")"
echo "wine_check: --service from a console: exit 2 after $(($(now_ms) - started)) ms, with one line"

# Wine ends its services once no program of the prefix runs: this one
# waits for a line on its standard input, which never comes.
mkfifo "$work/keep"
"$wine" 'C:\windows\system32\cmd.exe' /c "set /p keep=" < "$work/keep" > /dev/null 2>&1 &
pids+=($!)
exec 9> "$work/keep"

mkdir "$work/service"
serviceProfile="$work/service/Quillex.ini"
printf '[SYSTEM]\r\nPORTNUM=1\r\n[TCP-PORT0]\r\nACT=1\r\nPORT=%d\r\nFORWARDHOST=127.0.0.1\r\nFORWARDPORT=%d\r\n' \
  "$serviceListen" "${destination[1]}" > "$serviceProfile"
service="QuillexCheck$$"
binPath="\"$(winpath "$exe")\" --headless --service --profile \"$(winpath "$serviceProfile")\""
sc create "$service" binpath= "$binPath" > "$work/sc.txt" 2>&1 || fail "sc create: $(cat "$work/sc.txt")"
sc start "$service" > "$work/sc.txt" 2>&1 || fail "sc start: $(cat "$work/sc.txt")"
serviceLog="$work/service/Quillex.log"
wait_until 30 "the service's start line in its log" has_lines "$serviceLog" '^TCP-PORT0: relaying ' 1
running() { sc query "$service" 2> /dev/null | grep -q 'STATE *: *4 *RUNNING'; }
wait_until 10 "the service running" running
servicePid=$(pid_of "$(winpath "$serviceProfile")") || fail "no process of the service"

python3 "$peer" relay 30 "$serviceListen" || fail "relaying 1 MiB both ways through the service"
wait_until 5 "the service's connection log" has_lines "$serviceLog" 'port=TCP-PORT0 .* up=1048576 down=1048576 end=closed-by' 1

sc stop "$service" > "$work/sc.txt" 2>&1 || fail "sc stop: $(cat "$work/sc.txt")"
started=$(now_ms)
python3 "$peer" closed 1 "$serviceListen" || fail "the service still listens a second after sc stop"
wait_until 1 "the end of the service's process after sc stop" gone "$servicePid"
stoppedIn=$(($(now_ms) - started))
((stoppedIn <= 1000)) || fail "the service took $stoppedIn ms to stop"
stopped() { sc query "$service" 2> /dev/null | grep -q 'STATE *: *1 *STOPPED'; }
wait_until 10 "the service reported stopped" stopped
sc query "$service" | grep -q 'WIN32_EXIT_CODE *: *0 ' || fail "the service stopped with an error: $(sc query "$service")"
sc delete "$service" > "$work/sc.txt" 2>&1 || fail "sc delete: $(cat "$work/sc.txt")"
service=""
# Each line the service wrote changed its own directory; none of them was the profile.
(($(count "$serviceLog" 'reading .* again') == 0)) || fail "the service's log beside its profile made it read again"
exec 9>&-
echo "wine_check: service: relayed, logged to Quillex.log, stopped $stoppedIn ms after sc stop returned, deleted"

echo "wine_check: PASS"
