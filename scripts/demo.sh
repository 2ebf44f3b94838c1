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

echo "== qm.event, the station's event dispatcher"
"$bin/qm_event/qm.event" -d 1 >"$work/qm.log" 2>&1 &
pids+=($!)
wait_for "$work/qm.log" "serving program"
rpcinfo -p localhost | grep -E 'program|100101'

echo "== a console subscribed to qm.event"
"$bin/ovi_console/ovi_console" --subscribe --prog 0x20000100 --vers 1 --count 3 --timeout 30 \
  >"$work/console.log" 2>&1 &
console=$!
pids+=($console)
wait_for "$work/qm.log" "subscribed"

echo "== reports sent with tessel_send (each line is the dispatcher's answer)"
set -x
"$bin/tessel_send/tessel_send" --type event --group perf 'load=int:95/5:90:3' 'disk=string:/var'
"$bin/tessel_send/tessel_send" --type trap --agent-prog 100110 --group tessel_db_config \
  added=string:router7
"$bin/tessel_send/tessel_send" --type trap --group link 'ifIndex=int:3' \
  'enterprise=oid:1.3.6.1.4.1.11' 'peer=ipaddr:10.0.0.7'
set +x
wait "$console" || true

echo "== what the console printed"
cat "$work/console.log"
