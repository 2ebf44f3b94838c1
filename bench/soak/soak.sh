#!/usr/bin/env bash
# A station under steady load for a given time, with consoles coming and
# going, run inside a station of scripts/stations.sh (its own rpcbind).
#
#   bench/soak/soak.sh SECONDS [RATE]
#
# qm.event and ovi_sender run on station alpha; three steady consoles stay
# registered the whole time, and two more come and go: one is registered,
# lives 15 s and is deleted, the other lives 25 s and is stopped (SIGSTOP) for
# 5 s in the middle of its life.  station_probe sends RATE numbered reports a
# second (default 50) through qm.event for SECONDS.  At the end it prints,
# per console, the reports sent while it was registered, delivered and
# dropped, and the daemon's memory, descriptors and children at start and
# end; the exit status is 1 when a report to a console was dropped, the
# daemon's descriptors grew or a zombie remained.
#
# Needs root (namespaces) and a build of the station: OVI_BUILD names the
# build directory (default build).  The state and logs stay in a temporary
# directory, removed at the end unless OVI_SOAK_KEEP=1.
set -uo pipefail

usage() { echo "usage: bench/soak/soak.sh SECONDS [RATE]" >&2; exit 2; }
if [ $# -lt 1 ] || [ $# -gt 2 ]; then usage; fi
seconds=$1
rate=${2:-50}
[[ $seconds =~ ^[0-9]+$ && $seconds -ge 10 ]] || usage
[[ $rate =~ ^[0-9]+$ && $rate -ge 1 ]] || usage

cd "$(dirname "$0")/../.." || exit 1
top=$PWD
# shellcheck source=scripts/lib/proc.sh
. "$top/scripts/lib/proc.sh"
build=${OVI_BUILD:-build}
[[ $build = /* ]] || build=$top/$build
stations=$top/scripts/stations.sh
for bin in tools/qm_event/qm.event daemons/ovi_sender/ovi_sender tools/tessel_send/tessel_send \
           tools/orxdb/orxdb tests/test_receiver tests/station_probe; do
  [ -x "$build/$bin" ] || { echo "soak: $build/$bin is missing (build it first)" >&2; exit 1; }
done
"$stations" check || exit 1

work=$(mktemp -d /tmp/ovi_soak.XXXXXX)
root=$work/root
two=$work/two
pids=()
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  for p in "${pids[@]}"; do signal_child TERM "$p"; done
  "$stations" down "$two" >/dev/null 2>&1
  if [ "${OVI_SOAK_KEEP:-0}" = 1 ]; then echo "soak: state kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# --- the station's files -------------------------------------------------
mkdir -p "$root/etc/opt/ZEPHline/orx" "$root/opt/ZEPHline/orx/agents" \
         "$root/opt/ZEPHline/orx/struct" "$root/var/opt/ZEPHline/orx/ovi_files" \
         "$root/var/adm" "$root/dev"
echo "qm.snmp.schemas /opt/ZEPHline/orx/agents" > "$root/etc/opt/ZEPHline/orx/orx.conf"
printf 'ENUM ifState ( 1 up 2 down 3 testing )\nagent routerAgent ( group ifs ( rw enum ifState adminState ) )\n' \
  > "$root/opt/ZEPHline/orx/agents/router.schema"
printf 'record component.router (\n  string[64] Name\n  enum ifState adminState\n  int Created_by_ovi\n)\n' \
  > "$root/opt/ZEPHline/orx/struct/elements.schema"
data=$root/var/opt/ZEPHline/orx/ovi_files
echo "default - - - pass all.tmpl" > "$data/f.filter"
echo "added membership" > "$data/all.tmpl"
echo "localhost office" > "$data/ovi_sender.conf"
printf 'element Home view.home\nelement probe component.router\nmember probe Home\n' |
  OVI_ROOT=$root "$build/tools/orxdb/orxdb" load office - || exit 1

"$stations" up "$two" --owner $$ >/dev/null || { echo "soak: stations did not come up" >&2; exit 1; }
inside() { OVI_ROOT=$root "$stations" run "$two" alpha "$@"; }
# Starts a program inside the station in the background; started_pid is the
# program's own pid (stations.sh ends by exec'ing it).
start() {
  local log=$1; shift
  OVI_ROOT=$root "$stations" run "$two" alpha "$@" > "$work/$log" 2>&1 &
  started_pid=$!
  pids+=("$started_pid")
}
wait_for() {  # wait_for FILE TEXT SECONDS
  local i
  for ((i = 0; i < $3 * 10; i++)); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  echo "soak: no \"$2\" in $1" >&2
  return 1
}
request() {  # request FLAGS PROG VERS NAME
  inside "$build/tools/tessel_send/tessel_send" --prog 100139 --type 6 --flags "$1" \
    tessel_rendez_addr=ipaddr:127.0.0.1 "tessel_rendez_prog=uint:$2" "tessel_rendez_vers=uint:$3" \
    vant_filter_file=string:f.filter vant_orx_name=string:office "receiving_orx=string:$4" >/dev/null
}
# A console: test_receiver serving PROG at VERS, logging to console-NAME.log;
# console_pid is its pid.
console_up() {  # console_up NAME PROG VERS
  start "console-$1.log" "$build/tests/test_receiver" --prog "$2" --vers "$3"
  console_pid=$started_pid
  wait_for "$work/console-$1.log" ready 20 || return 1
  request 0x80 "$2" "$3" "$1" && wait_for "$work/console-$1.log" succeeded 30
}
seqs() { grep '"prog":100101' "$work/console-$1.log" 2>/dev/null | sed -n 's/.*"name":"seq","type":3,"length":4,"value":\([0-9]*\).*/\1/p'; }

measure() {  # measure PID: "rss_kB descriptors children zombies"
  local rss fds kids=0 zombies=0 k
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$1/status")
  fds=$(find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l)
  # shellcheck disable=SC2013  # one line of pids
  for k in $(cat "/proc/$1/task/$1/children"); do
    kids=$((kids + 1))
    [ "$(awk '{print $3}' "/proc/$k/stat" 2>/dev/null)" = Z ] && zombies=$((zombies + 1))
  done
  echo "$rss $fds $kids $zombies"
}

# --- the station ----------------------------------------------------------
start qm.log "$build/tools/qm_event/qm.event" -d 1
wait_for "$work/qm.log" "serving program" 20 || exit 1
start daemon.log "$build/daemons/ovi_sender/ovi_sender"
daemon=$started_pid
wait_for "$work/qm.log" "program 100139 version 10" 30 || exit 1
steady=(s1 s2 s3)
prog_of() { case $1 in s1) echo 536874000;; s2) echo 536874001;; s3) echo 536874002;; esac; }
vers_of() { case $1 in s1) echo 3;; s2) echo 4;; s3) echo 5;; esac; }
for c in "${steady[@]}"; do console_up "$c" "$(prog_of "$c")" "$(vers_of "$c")" || exit 1; done
# A first report opens qm.event's connection to the daemon.
inside "$build/tests/station_probe" reports --first 0 --count 1 >/dev/null
sleep 1
read -r rss0 fds0 kids0 zombies0 < <(measure "$daemon")

# --- load and churn -------------------------------------------------------
total=$((seconds * rate))
start sender.log "$build/tests/station_probe" reports --count "$total" --rate "$rate" --tag soak
deadline=$(($(date +%s) + seconds))
# churn NAME_PREFIX VERS LIFETIME STOP: consoles that come and go until the
# deadline; with STOP, each is stopped for 5 s in the middle of its life.
churn() {
  local n=0 name prog
  while [ $(($(date +%s) + $3 + 5)) -lt "$deadline" ]; do
    n=$((n + 1)); name=$1$n; prog=$((536875000 + $2 * 1000 + n))
    console_up "$name" "$prog" "$2" || { echo "$name failed" >> "$work/churn.errors"; continue; }
    echo "$name $prog $2" >> "$work/churned"
    if [ "$4" = stop ]; then
      sleep $(($3 / 2 - 2))
      signal_child STOP "$console_pid"; sleep 5; signal_child CONT "$console_pid"
      sleep $(($3 / 2 - 3))
    else
      sleep "$3"
    fi
    request 0x100 "$prog" "$2" "$name"
    sleep 2
    signal_child TERM "$console_pid"
  done
}
churn q 6 15 run &
churn_a=$!
churn p 7 25 stop &
churn_b=$!
samples=$work/samples
while [ "$(date +%s)" -lt "$deadline" ]; do
  sleep 10
  echo "$(($(date +%s) - deadline + seconds)) $(measure "$daemon")" >> "$samples"
done
wait "$churn_a" "$churn_b"

# --- the end --------------------------------------------------------------
for ((i = 0; i < 600; i++)); do grep -q "^sent" "$work/sender.log" && break; sleep 0.1; done
sent_line=$(grep "^sent" "$work/sender.log" || echo "sent ? failed ?")
# Every steady console has the last report, or time is up.
for c in "${steady[@]}"; do
  for ((i = 0; i < 300; i++)); do [ "$(seqs "$c" | tail -n 1)" = "$total" ] && break; sleep 0.1; done
done
sleep 2
read -r rss1 fds1 kids1 zombies1 < <(measure "$daemon")

bad=0
printf '\nsoak: %s s at %s reports/s through qm.event (%s)\n\n' "$seconds" "$rate" "$sent_line"
printf '%-8s %-10s %8s %10s %8s\n' console life sent delivered dropped
report() {  # report NAME LIFE: sent = the range from its first to its last report
  local got first last sent delivered dropped
  got=$(seqs "$1" | awk '$1 > 0')
  delivered=$(echo "$got" | grep -c .)
  first=$(echo "$got" | head -n 1); last=$(echo "$got" | tail -n 1)
  if [ "$2" = steady ]; then first=1; last=$total; fi
  sent=$(( ${last:-0} - ${first:-1} + 1 )); [ "$sent" -lt 0 ] && sent=0
  dropped=$((sent - delivered))
  # Out of order or twice counts as dropped too.
  if [ -n "$got" ] && ! echo "$got" | awk 'NR > 1 && $1 <= p {exit 1} {p = $1}'; then dropped=$((dropped + 1)); fi
  printf '%-8s %-10s %8d %10d %8d\n' "$1" "$2" "$sent" "$delivered" "$dropped"
  [ "$dropped" -eq 0 ] || bad=1
}
for c in "${steady[@]}"; do report "$c" steady; done
while read -r name _; do
  case $name in q*) report "$name" 15s;; p*) report "$name" 25s+stop;; esac
done < "$work/churned"
[ -s "$work/churn.errors" ] && { echo "consoles that could not register:"; cat "$work/churn.errors"; bad=1; }

printf '\ndaemon %s     %10s %12s %9s %8s\n' "$daemon" "rss kB" descriptors children zombies
printf '  at start  %10s %12s %9s %8s\n' "$rss0" "$fds0" "$kids0" "$zombies0"
printf '  at end    %10s %12s %9s %8s\n' "$rss1" "$fds1" "$kids1" "$zombies1"
max=$(awk 'BEGIN {m = 0} $2 > m {m = $2} END {print m}' "$samples" 2>/dev/null)
printf '  highest rss over the run: %s kB (sampled every 10 s)\n' "${max:-?}"
[ "$fds1" -le "$fds0" ] || { echo "soak: descriptors grew"; bad=1; }
[ "$zombies1" -eq 0 ] || { echo "soak: zombies remain"; bad=1; }
[ "$kids1" -eq "$kids0" ] || { echo "soak: the daemon has $kids1 children, $kids0 at start"; bad=1; }
signal_child TERM "$daemon"
for ((i = 0; i < 300; i++)); do child_running "$daemon" || break; sleep 0.1; done
child_running "$daemon" && { echo "soak: the daemon did not end on SIGTERM"; bad=1; }
exit "$bad"
