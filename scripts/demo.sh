#!/usr/bin/env bash
# Builds everything and runs a demonstration station on this host: the event
# dispatcher qm.event, a console subscribed to it, and reports sent with
# tessel_send, shown as the console prints them.  Every process it starts is
# ended when it finishes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

bin=build/tools
work=$(mktemp -d /tmp/ovi_demo.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # wait_for FILE TEXT: up to 10 s
  for _ in $(seq 100); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  echo "demo: gave up waiting for '$2' in $1" >&2
  cat "$1" >&2
  return 1
}

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
data=$OVI_ROOT/var/opt/ZEPHline/orx/ovi_files
echo "default - - - pass all.tmpl" >"$data/demo.filter"
echo "added membership,color" >"$data/all.tmpl"
echo "localhost office" >"$data/ovi_sender.conf"
build/tools/orxdb/orxdb load office - <<'DB'
element Home view.home
element router7 component.router
member router7 Home 10 20 0 30 40
DB

echo "== qm.event, the station's event dispatcher"
"$bin/qm_event/qm.event" -d 1 >"$work/qm.log" 2>&1 &
pids+=($!)
wait_for "$work/qm.log" "serving program"

echo "== ovi_sender, subscribed to qm.event"
build/daemons/ovi_sender/ovi_sender -d 1 >"$work/daemon.log" 2>&1 &
pids+=($!)
wait_for "$work/qm.log" "program 100139 version 10"
rpcinfo -p localhost | grep -E 'program|100101|100139'

echo "== a console registered with ovi_sender and subscribed to qm.event"
"$bin/ovi_console/ovi_console" --register --subscribe --prog 0x20000100 --vers 1 \
  --filter demo.filter --db office --count 4 --timeout 30 >"$work/console.log" 2>&1 &
console=$!
pids+=($console)
wait_for "$work/console.log" "succeeded"

echo "== reports sent with tessel_send (each line is the dispatcher's answer)"
set -x
"$bin/tessel_send/tessel_send" --type event --group perf 'load=int:95/5:90:3' 'disk=string:/var'
"$bin/tessel_send/tessel_send" --type trap --agent-prog 100110 --group tessel_db_config \
  added=string:router7
"$bin/tessel_send/tessel_send" --type trap --group link 'ifIndex=int:3' \
  'enterprise=oid:1.3.6.1.4.1.11' 'peer=ipaddr:10.0.0.7'
set +x
wait "$console" || true

echo "== what the console printed: its request's status, ovi_sender's status trap, the reports"
cat "$work/console.log"
echo "== what ovi_sender traced"
cat "$work/daemon.log"
