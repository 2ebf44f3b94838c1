#!/usr/bin/env bash
# Builds everything and runs a demonstration: a station (the event dispatcher
# qm.event and ovi_sender) and a console registered with it.  Reports sent
# with tessel_send travel through qm.event and ovi_sender, are filtered and
# enriched, and reach the console; then the console asks for a
# synchronisation with its database.  When this machine can make network
# namespaces, the station and the console run as two hosts, alpha and beta
# (scripts/stations.sh); otherwise both run on this host.  Every process it
# starts is ended when it finishes.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/proc.sh
. scripts/lib/proc.sh
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

top=$PWD
bin=$top/build/tools
work=$(mktemp -d /tmp/ovi_demo.XXXXXX)
pids=()
two=no
cleanup() {
  for pid in "${pids[@]}"; do signal_child TERM "$pid" || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ "$two" = yes ] && scripts/stations.sh down "$work/stations" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # wait_for FILE TEXT: up to 20 s
  for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  echo "demo: gave up waiting for '$2' in $1" >&2
  cat "$1" >&2
  return 1
}

if scripts/stations.sh check >/dev/null 2>&1 &&
   scripts/stations.sh up "$work/stations" --owner $$ >/dev/null 2>&1; then
  two=yes
  station=alpha console_host=beta console_addr=10.201.0.2 console_vers=10
  run_on() { local where=$1; shift; exec scripts/stations.sh run "$work/stations" "$where" "$@"; }
  echo "== two hosts in network namespaces: the station on alpha, the console on beta"
else
  station=localhost console_host=localhost console_addr=127.0.0.1 console_vers=2
  run_on() { shift; exec "$@"; }
  echo "== station and console on this host"
fi
# on HOST COMMAND...: runs COMMAND on HOST.  In the background, run_on makes
# $! the command's own pid (stations.sh ends by exec'ing it), so that cleanup
# ends the command and not a shell around it.
on() { (run_on "$@"); }

# The station's files below a root of its own.
export OVI_ROOT=$work/root
mkdir -p "$OVI_ROOT/etc/opt/ZEPHline/orx" "$OVI_ROOT/opt/ZEPHline/orx/agents" \
         "$OVI_ROOT/opt/ZEPHline/orx/struct" "$OVI_ROOT/var/opt/ZEPHline/orx/ovi_files"
echo "qm.snmp.schemas /opt/ZEPHline/orx/agents" >"$OVI_ROOT/etc/opt/ZEPHline/orx/orx.conf"
cat >"$OVI_ROOT/opt/ZEPHline/orx/struct/elements.schema" <<'SCHEMA'
record component.router (
  string[64] Name
  int Created_by_ovi
)
SCHEMA
cat >"$OVI_ROOT/opt/ZEPHline/orx/agents/router.schema" <<'SCHEMA'
ENUM ifState ( 1 up 2 down 3 testing )
agent routerAgent ( group ifs ( rw enum ifState adminState ) )
SCHEMA
data=$OVI_ROOT/var/opt/ZEPHline/orx/ovi_files
cat >"$data/demo.filter" <<'FILTER'
hostname noisy - - drop all.tmpl
default - - - pass all.tmpl
FILTER
echo "added membership,color,connections" >"$data/all.tmpl"
echo "$console_host office" >"$data/ovi_sender.conf"
build/tools/orxdb/orxdb load office - <<'DB'
element Home view.home
element Lab view.lab
element router7 component.router
element switch2 component.switch
element link1 connection.ethernet
member Lab Home 5 5 0 50 50
member router7 Lab 10 20 0 30 40
member switch2 Lab
color router7 0 255 0
connect router7 link1
DB

echo "== qm.event and ovi_sender on $station"
run_on "$station" "$bin/qm_event/qm.event" -d 1 >"$work/qm.log" 2>&1 &
pids+=($!)
wait_for "$work/qm.log" "serving program"
run_on "$station" build/daemons/ovi_sender/ovi_sender -d 1 >"$work/daemon.log" 2>&1 &
pids+=($!)
wait_for "$work/qm.log" "program 100139 version 10"
on "$station" rpcinfo -p localhost | grep -E 'program|100101|100139'

echo "== a console on $console_host registers with ovi_sender"
run_on "$console_host" "$bin/ovi_console/ovi_console" --daemon "$station" --addr "$console_addr" \
  --register --event --prog 0x20000100 --vers "$console_vers" --filter demo.filter --db office \
  --count 4 --timeout 30 >"$work/console.log" 2>&1 &
console=$!
pids+=("$console")
wait_for "$work/console.log" "succeeded"

echo "== reports sent with tessel_send on $station (each line is the dispatcher's answer)"
send() { echo "+ tessel_send $*"; on "$station" "$bin/tessel_send/tessel_send" "$@"; }
send --type event --from router7 'load=int:95/5:90:3' 'adminState=enum:2'
send --type trap --from noisy 'ifIndex=int:3'
send --type trap --from router7 'ifIndex=int:3' 'enterprise=oid:1.3.6.1.4.1.11'
send --type trap --agent-prog 100110 --group tessel_db_config added=string:router7
wait "$console" || true
echo "== what the console printed: its request's status, ovi_sender's status trap, and the"
echo "   reports it received (the trap from host noisy was dropped by the filter)"
cat "$work/console.log"

echo "== a console on $console_host asks for a synchronisation with database office"
on "$console_host" "$bin/ovi_console/ovi_console" --daemon "$station" --addr "$console_addr" \
  --sync --event --prog 0x20000101 --vers "$console_vers" --filter demo.filter --db office \
  --count 5 --timeout 60 >"$work/sync.log" 2>&1 || true
echo "   the status trap, one trap per element of the views below Home (view by view),"
echo "   each with what the template asks for, then \"synched\":"
cat "$work/sync.log"

echo "== what ovi_sender traced at level 1"
cat "$work/daemon.log"
