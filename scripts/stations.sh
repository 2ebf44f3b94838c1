#!/usr/bin/env bash
# Two stations on one machine: each station has its own network, mount and
# UTS namespaces (its own host name, /etc/hosts and a private /run for its own
# rpcbind), and the two are joined by a veth pair that carries 10.201.0.1 and
# 10.201.0.2 and nothing else.  Traffic never leaves the machine.
#
#   stations.sh check
#       exit 0 when this machine can make stations, else 1 and the reason
#   stations.sh up DIR [--names A,B] [--prefix P] [--owner PID] [--no-rpcbind]
#       bring the two stations up; DIR keeps the state and the logs
#   stations.sh run DIR STATION [COMMAND [ARG...]]
#       run COMMAND (default: a shell) inside STATION, with the caller's
#       environment, working directory and standard streams; exits with its status
#   stations.sh pids DIR [STATION]
#       print the pids of every process inside the stations (or one of them)
#   stations.sh status DIR
#       print the state as NAME=VALUE lines; exit 1 when the stations are not up
#   stations.sh down DIR
#       end every process inside the stations and remove the namespaces;
#       safe to repeat and after a failed up
#
# Exit status: 0 success, 1 failure, 2 usage error (run: the command's status).
set -uo pipefail

readonly PROG=stations.sh
readonly SUBNET=10.201.0
readonly RPCBIND=/usr/sbin/rpcbind
readonly WAIT_STEPS=100   # every wait polls at most this many times, 0.1 s apart
SELF=$(readlink -f "$0")
readonly SELF
# shellcheck source-path=SCRIPTDIR source=lib/proc.sh
. "${SELF%/*}/lib/proc.sh"

die() { echo "$PROG: $*" >&2; exit 1; }
usage() {  # usage [STATUS]: the header above, on stdout for --help
  if [ "${1:-2}" = 0 ]; then
    sed -n '2,/^set /{/^#/{s/^# \{0,1\}//;p}}' "$SELF"
  else
    sed -n '2,/^set /{/^#/{s/^# \{0,1\}//;p}}' "$SELF" >&2
  fi
  exit "${1:-2}"
}

need_root_tools() {
  [ "$(id -u)" = 0 ] || { echo "$PROG: must run as root to make namespaces" >&2; return 1; }
  local tool
  for tool in ip unshare nsenter flock mount; do
    command -v "$tool" >/dev/null || { echo "$PROG: $tool is not installed" >&2; return 1; }
  done
  return 0
}

cmd_check() {
  need_root_tools || exit 1
  local probe="ovi-probe-$$"
  if ! ip netns add "$probe" 2>/dev/null; then
    echo "$PROG: cannot make network namespaces here (ip netns add failed)" >&2
    exit 1
  fi
  local ok=1
  nsenter --net="/run/netns/$probe" unshare --mount --uts --propagation private \
    sh -c 'mount -t tmpfs ovi-probe /run && hostname ovi-probe' >/dev/null 2>&1 || ok=0
  ip netns del "$probe" 2>/dev/null
  [ "$ok" = 1 ] || { echo "$PROG: cannot make mount and UTS namespaces here" >&2; exit 1; }
  [ -x "$RPCBIND" ] || { echo "$PROG: $RPCBIND is not installed" >&2; exit 1; }
  exit 0
}

# --- state ------------------------------------------------------------------
# DIR/stations.state is written by up before it makes anything, so that down
# can always find what to remove.

state_file() { echo "$DIR/stations.state"; }

load_state() {
  [ -f "$(state_file)" ] || return 1
  # shellcheck disable=SC1090
  . "$(state_file)"
}

save_state() {
  {
    printf 'NAMES=(%q %q)\n' "${NAMES[0]}" "${NAMES[1]}"
    printf 'NETNS=(%q %q)\n' "${NETNS[0]}" "${NETNS[1]}"
    printf 'VETH=(%q %q)\n' "${VETH[0]}" "${VETH[1]}"
    printf 'ADDRS=(%q %q)\n' "${ADDRS[0]}" "${ADDRS[1]}"
    printf 'INODES=(%q %q)\n' "${INODES[0]}" "${INODES[1]}"
    printf 'OWNER=%q\n' "$OWNER"
    printf 'OWNER_START=%q\n' "$OWNER_START"
  } >"$(state_file).tmp" && mv "$(state_file).tmp" "$(state_file)"
}

# Index (0 or 1) of the station named $1.
station_index() {
  local i
  for i in 0 1; do [ "${NAMES[$i]}" = "$1" ] && { echo "$i"; return 0; }; done
  return 1
}

# Network namespace inode of a named namespace, empty when it does not exist.
netns_inode() { stat -L -c %i "/run/netns/$1" 2>/dev/null || true; }

# Pids of the processes whose network namespace has inode $1 (zombies have
# none and are not listed).
pids_in() {
  [ -n "$1" ] || return 0
  find /proc/[0-9]*/ns/net -maxdepth 0 -lname "net:\\[$1\\]" 2>/dev/null \
    | sed 's|^/proc/\([0-9]*\)/.*|\1|'
  return 0
}

# The holder of station $1 (index) when it still runs in the station's netns.
holder_of() {
  local i=$1 pid
  pid=$(cat "$DIR/${NAMES[$i]}/holder.pid" 2>/dev/null) || return 1
  proc_is "$pid" net "${INODES[$i]}" || return 1
  echo "$pid"
}

lock_dir() {
  exec 9>"$DIR/stations.lock" || die "cannot write in $DIR"
  flock -w 30 9 || die "another up or down holds $DIR for more than 30 seconds"
}

set_dir() {
  [ -n "${1:-}" ] || usage
  DIR=$(readlink -f "$1") || die "bad directory $1"
}

# --- up ---------------------------------------------------------------------

start_holder() {  # start_holder INDEX
  local i=$1 name=${NAMES[$1]} sdir="$DIR/${NAMES[$1]}"
  rm -f "$sdir/holder.pid"
  # The holder sleeps in the station's namespaces so that they live until
  # down; a private /run hides the host's rpcbind socket and lock, and the
  # copy of /run/netns is detached so it holds no other namespace alive.
  # shellcheck disable=SC2016  # the inner shell expands its own arguments
  setsid nsenter --net="/run/netns/${NETNS[$i]}" \
    unshare --mount --uts --propagation private \
    sh -c 'set -e
      if mountpoint -q /run/netns; then umount -l /run/netns; fi
      mount -t tmpfs -o mode=0755,size=16m ovi-station-run /run
      mount --bind "$1/hosts" /etc/hosts
      hostname "$2"
      echo $$ >"$1/holder.pid.tmp"
      mv "$1/holder.pid.tmp" "$1/holder.pid"
      exec sleep infinity' holder "$sdir" "$name" \
    </dev/null >"$sdir/holder.log" 2>&1 9>&- &
  local n
  for ((n = 0; n < WAIT_STEPS; n++)); do
    [ -s "$sdir/holder.pid" ] && holder_of "$i" >/dev/null && return 0
    sleep 0.1
  done
  echo "$PROG: station $name did not start:" >&2
  cat "$sdir/holder.log" >&2
  return 1
}

start_rpcbind() {  # start_rpcbind INDEX
  local i=$1 name=${NAMES[$1]} sdir="$DIR/${NAMES[$1]}" holder n
  holder=$(holder_of "$i") || return 1
  nsenter -t "$holder" -n -m -u --wd=/ "$RPCBIND" -f \
    </dev/null >"$sdir/rpcbind.log" 2>&1 9>&- &
  local rpcbind=$!
  echo "$rpcbind" >"$sdir/rpcbind.pid"
  for ((n = 0; n < WAIT_STEPS; n++)); do
    child_running "$rpcbind" || break
    nsenter -t "$holder" -n -m -u --wd=/ timeout 5 rpcinfo -p localhost >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "$PROG: rpcbind of station $name did not answer:" >&2
  cat "$sdir/rpcbind.log" >&2
  return 1
}

start_watchdog() {
  # Ends the stations when the process that asked for them dies without
  # calling down (a crashed or killed test).  The owner is known by its pid
  # and start time, so that another process given its pid later does not
  # keep the stations up; the watchdog records its own the same way, for
  # down to check before it signals it.
  # shellcheck disable=SC2016  # the inner shell expands its own arguments
  setsid bash -c '. "$5"
    echo "$$ $(proc_start $$)" >"$4/watchdog.pid.tmp" && mv "$4/watchdog.pid.tmp" "$4/watchdog.pid"
    while proc_is "$1" start "$2"; do sleep 1; done
    OVI_STATIONS_WATCHDOG=1 exec "$3" down "$4"' \
    watchdog "$OWNER" "$OWNER_START" "$SELF" "$DIR" "${SELF%/*}/lib/proc.sh" \
    </dev/null >>"$DIR/watchdog.log" 2>&1 9>&- &
  local n
  for ((n = 0; n < WAIT_STEPS; n++)); do
    [ -s "$DIR/watchdog.pid" ] && return 0
    sleep 0.1
  done
  echo "$PROG: the watchdog did not start" >&2
  return 1
}

bring_up() {
  local i peer hosts
  for i in 0 1; do
    ip netns add "${NETNS[$i]}" || return 1
    INODES[i]=$(netns_inode "${NETNS[$i]}")
    save_state
  done
  ip link add "${VETH[0]}" netns "${NETNS[0]}" type veth \
    peer name "${VETH[1]}" netns "${NETNS[1]}" || return 1
  hosts="127.0.0.1 localhost
::1 localhost ip6-localhost ip6-loopback
${ADDRS[0]} ${NAMES[0]}
${ADDRS[1]} ${NAMES[1]}
"
  for i in 0 1; do
    # No IPv6 link-local address on the veth: it carries the two test
    # addresses only.
    ip -n "${NETNS[$i]}" link set dev "${VETH[$i]}" addrgenmode none 2>/dev/null || true
    ip -n "${NETNS[$i]}" addr add "${ADDRS[$i]}/24" dev "${VETH[$i]}" || return 1
    ip -n "${NETNS[$i]}" link set dev "${VETH[$i]}" up || return 1
    ip -n "${NETNS[$i]}" link set dev lo up || return 1
    mkdir -p "$DIR/${NAMES[$i]}" || return 1
    printf '%s' "$hosts" >"$DIR/${NAMES[$i]}/hosts" || return 1
  done
  for i in 0 1; do start_holder "$i" || return 1; done
  if [ "$WITH_RPCBIND" = 1 ]; then
    for i in 0 1; do start_rpcbind "$i" || return 1; done
    # Each station reaches the other's rpcbind over the veth.
    for i in 0 1; do
      peer=$((1 - i))
      local n ok=0 holder
      holder=$(holder_of "$i") || return 1
      for ((n = 0; n < WAIT_STEPS; n++)); do
        if nsenter -t "$holder" -n -m -u --wd=/ timeout 5 \
             rpcinfo -p "${NAMES[$peer]}" >/dev/null 2>&1; then ok=1; break; fi
        sleep 0.1
      done
      [ "$ok" = 1 ] || { echo "$PROG: ${NAMES[$i]} cannot reach ${NAMES[$peer]}" >&2; return 1; }
    done
  fi
  return 0
}

cmd_up() {
  set_dir "${1:-}"; shift
  local names=alpha,beta prefix=""
  OWNER="" OWNER_START="" WITH_RPCBIND=1
  while [ $# -gt 0 ]; do
    case $1 in
      --names) [ $# -ge 2 ] || usage; names=$2; shift 2 ;;
      --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift 2 ;;
      --owner) [ $# -ge 2 ] || usage; OWNER=$2; shift 2 ;;
      --no-rpcbind) WITH_RPCBIND=0; shift ;;
      *) usage ;;
    esac
  done
  IFS=, read -r -a NAMES <<<"$names"
  if [ "${#NAMES[@]}" != 2 ] || [ "${NAMES[0]}" = "${NAMES[1]}" ]; then
    die "--names needs two different names, e.g. alpha,beta"
  fi
  local n
  for n in "${NAMES[@]}"; do
    [[ $n =~ ^[a-z][a-z0-9-]{0,30}$ ]] || die "bad station name '$n' (lower case letters, digits, -)"
  done
  [ -z "$OWNER" ] || [[ $OWNER =~ ^[0-9]+$ ]] || die "bad --owner pid '$OWNER'"
  if [ -n "$OWNER" ]; then
    OWNER_START=$(proc_start "$OWNER") || die "--owner $OWNER: no such process"
  fi
  need_root_tools || exit 1
  mkdir -p "$DIR" || die "cannot make $DIR"
  lock_dir

  local hash
  hash=$(printf '%s' "${prefix:-$DIR}" | md5sum | cut -c1-8)
  [ -n "$prefix" ] || prefix="ovi-$hash"
  [[ $prefix =~ ^[A-Za-z0-9._-]{1,40}$ ]] || die "bad --prefix '$prefix'"
  if load_state; then
    die "stations already up in $DIR (call down first)"
  fi
  NETNS=("$prefix-${NAMES[0]}" "$prefix-${NAMES[1]}")
  VETH=("ov${hash}a" "ov${hash}b")
  ADDRS=("$SUBNET.1" "$SUBNET.2")
  INODES=("" "")
  for n in "${NETNS[@]}"; do
    [ ! -e "/run/netns/$n" ] || die "network namespace $n exists already (another run?)"
  done
  save_state || die "cannot write $(state_file)"

  if ! bring_up || { [ -n "$OWNER" ] && ! start_watchdog; }; then
    echo "$PROG: up failed; taking down what was made" >&2
    exec 9>&-
    "$SELF" down "$DIR" >&2
    exit 1
  fi
  echo "stations ${NAMES[0]} (${ADDRS[0]}) and ${NAMES[1]} (${ADDRS[1]}) are up; state in $DIR"
}

# --- run, pids, status --------------------------------------------------------

cmd_run() {
  set_dir "${1:-}"
  [ $# -ge 2 ] || usage
  local station=$2 i holder
  shift 2
  load_state || die "no stations are up in $DIR"
  i=$(station_index "$station") || die "no station named '$station' in $DIR"
  holder=$(holder_of "$i") || die "station $station is not running"
  [ "${1:-}" != -- ] || shift
  [ $# -gt 0 ] || set -- "${SHELL:-/bin/sh}"
  # Entering a mount namespace resets the working directory to /: take the
  # caller's along (it is the same file system, apart from /run).
  exec nsenter -t "$holder" -n -m -u --wd="$PWD" -- "$@"
}

cmd_pids() {
  set_dir "${1:-}"
  load_state || exit 0
  local i
  if [ $# -ge 2 ]; then
    i=$(station_index "$2") || die "no station named '$2' in $DIR"
    pids_in "${INODES[$i]}"
  else
    for i in 0 1; do pids_in "${INODES[$i]}"; done
  fi
}

cmd_status() {
  set_dir "${1:-}"
  load_state || { echo "$PROG: no stations are up in $DIR" >&2; exit 1; }
  local i up=1 holder
  echo "dir=$DIR"
  echo "names=${NAMES[0]},${NAMES[1]}"
  for i in 0 1; do
    holder=$(holder_of "$i") || { holder=""; up=0; }
    echo "${NAMES[$i]}.address=${ADDRS[$i]}"
    echo "${NAMES[$i]}.netns=${NETNS[$i]}"
    echo "${NAMES[$i]}.netns_inode=${INODES[$i]}"
    echo "${NAMES[$i]}.veth=${VETH[$i]}"
    echo "${NAMES[$i]}.holder=$holder"
  done
  [ "$up" = 1 ]
}

# --- down ---------------------------------------------------------------------

# Signals every process of both stations with $1; true when none is left
# after a bounded wait.  Each is checked to be still inside its station as it
# is signalled: a pid listed may have ended and been given to another
# process since.
signal_all() {
  local sig=$1 n i pid
  for i in 0 1; do
    for pid in $(pids_in "${INODES[$i]}"); do
      proc_signal "$sig" "$pid" net "${INODES[$i]}" || true
    done
  done
  for ((n = 0; n < WAIT_STEPS / 2; n++)); do
    [ -n "$( { pids_in "${INODES[0]}"; pids_in "${INODES[1]}"; } )" ] || return 0
    sleep 0.1
  done
  return 1
}

cmd_down() {
  set_dir "${1:-}"
  [ -f "$(state_file)" ] || exit 0
  lock_dir
  load_state || exit 0
  local i wd wd_start left=0
  # The watchdog goes first so it cannot start a second down; it is
  # signalled only while its pid still has the start time it recorded.  Its
  # last "sleep 1" ends by itself.
  if [ -z "${OVI_STATIONS_WATCHDOG:-}" ] &&
     { read -r wd wd_start <"$DIR/watchdog.pid"; } 2>/dev/null; then
    proc_signal TERM "$wd" start "$wd_start" || true
  fi
  rm -f "$DIR/watchdog.pid"
  # A namespace made but not yet recorded (up failed in between) is found by name.
  for i in 0 1; do
    [ -n "${INODES[$i]}" ] || INODES[i]=$(netns_inode "${NETNS[$i]}")
  done
  if ! signal_all TERM && ! signal_all KILL; then
    echo "$PROG: processes still run in the stations:" \
      "$( { pids_in "${INODES[0]}"; pids_in "${INODES[1]}"; } | paste -sd ' ')" >&2
    left=1
  fi
  for i in 0 1; do
    if [ -e "/run/netns/${NETNS[$i]}" ]; then
      ip netns del "${NETNS[$i]}" || left=1
    fi
    # The pair is made inside the namespaces; one left on the host would be
    # from an interrupted up.
    if ip link show "${VETH[$i]}" >/dev/null 2>&1; then
      ip link del "${VETH[$i]}" 2>/dev/null || left=1
    fi
    rm -f "$DIR/${NAMES[$i]}/holder.pid" "$DIR/${NAMES[$i]}/rpcbind.pid"
  done
  if [ "$left" = 1 ]; then
    echo "$PROG: down left something behind; the state stays in $DIR" >&2
    exit 1
  fi
  rm -f "$(state_file)"
  echo "stations in $DIR are down"
}

case ${1:-} in
  check) cmd_check ;;
  up) shift; cmd_up "$@" ;;
  run) shift; cmd_run "$@" ;;
  pids) shift; cmd_pids "$@" ;;
  status) shift; cmd_status "$@" ;;
  down) shift; cmd_down "$@" ;;
  -h|--help) usage 0 ;;
  *) usage ;;
esac
