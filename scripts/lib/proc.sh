# shellcheck shell=bash
# Signals to processes known by pid, sent only to the process meant: on a
# busy machine a pid read from a file or kept from an earlier step may have
# been given to another process since.  Sourced by scripts/stations.sh,
# scripts/demo.sh, bench/forward and bench/soak/soak.sh.
#
#   proc_signal SIG PID KIND VALUE
#       sends SIG (a name: TERM, KILL, STOP...) to PID when PID is, at that
#       moment, a live (not zombie) process with
#         KIND parent  its parent pid VALUE
#         KIND start   its start time VALUE (field 22 of /proc/PID/stat)
#         KIND net     its network namespace inode VALUE
#       status 0 only when it sent SIG
#   proc_is PID KIND VALUE      the same check, without a signal
#   proc_start PID              prints the start time of a live PID
#   signal_child SIG PID        proc_signal for a child of the calling shell
#   child_running PID           true while PID is a live child of the calling shell
#
# The check and the signal go through one open /proc/PID, which stays bound
# to the process that had the pid when it was opened; the signal is sent
# through it with pidfd_send_signal (from perl, which Debian always has), so
# a pid reused after the check is never signalled.  Without it (another
# architecture, no perl, a kernel before 5.1) the signal goes by pid right
# after the check.

# pidfd_send_signal's number where it is the common one.
case $(uname -m) in
  x86_64 | i[3-6]86 | aarch64 | arm* | riscv64 | ppc* | s390x | loongarch64)
    PROC_SYS_PIDFD_SEND_SIGNAL=424 ;;
  *) PROC_SYS_PIDFD_SEND_SIGNAL= ;;
esac
command -v perl >/dev/null 2>&1 || PROC_SYS_PIDFD_SEND_SIGNAL=

# proc_fields_at DIR: sets PROC_FIELDS to the fields of DIR/stat from the
# third (the state) on; the command name before them may hold spaces and ")".
proc_fields_at() {
  local line
  { read -r line <"$1/stat"; } 2>/dev/null || return 1
  read -r -a PROC_FIELDS <<<"${line##*) }"
}

# proc_is_at DIR KIND VALUE: proc_is for /proc/PID or an open descriptor of it.
proc_is_at() {
  local -a PROC_FIELDS
  [ -n "$3" ] && proc_fields_at "$1" || return 1
  case ${PROC_FIELDS[0]:-X} in Z | X | x) return 1 ;; esac
  case $2 in
    parent) [ "${PROC_FIELDS[1]:-}" = "$3" ] ;;
    start) [ "${PROC_FIELDS[19]:-}" = "$3" ] ;;
    net) [ "$(readlink "$1/ns/net" 2>/dev/null)" = "net:[$3]" ] ;;
    *) return 1 ;;
  esac
}

proc_is() {
  [[ $1 =~ ^[1-9][0-9]*$ ]] && proc_is_at "/proc/$1" "$2" "$3"
}

proc_start() {
  local -a PROC_FIELDS
  [[ $1 =~ ^[1-9][0-9]*$ ]] && proc_fields_at "/proc/$1" || return 1
  case ${PROC_FIELDS[0]:-X} in Z | X | x) return 1 ;; esac
  [ -n "${PROC_FIELDS[19]:-}" ] && echo "${PROC_FIELDS[19]}"
}

# proc_send FD PID SIG: SIG to the process open as FD (pid PID).
proc_send() {
  local num
  if [ -n "$PROC_SYS_PIDFD_SEND_SIGNAL" ] && num=$(kill -l "$3" 2>/dev/null); then
    # Status 2: this kernel has no pidfd_send_signal.
    perl -e 'my ($nr, $fd, $sig) = map { $_ + 0 } @ARGV;
      exit 0 if syscall($nr, $fd, $sig, 0, 0) == 0;
      exit($!{ENOSYS} ? 2 : 1);' "$PROC_SYS_PIDFD_SEND_SIGNAL" "$1" "$num"
    case $? in 0) return 0 ;; 2) ;; *) return 1 ;; esac
  fi
  kill -s "$3" "$2" 2>/dev/null
}

proc_signal() {
  local sig=$1 pid=$2 fd sent=1
  [[ $pid =~ ^[1-9][0-9]*$ ]] || return 1
  # Once the process opened here is gone, nothing can be read through the
  # descriptor, even when its pid has been given to another process.
  { exec {fd}<"/proc/$pid"; } 2>/dev/null || return 1
  if proc_is_at "/proc/self/fd/$fd" "$3" "$4"; then
    proc_send "$fd" "$pid" "$sig" && sent=0
  fi
  exec {fd}<&-
  return "$sent"
}

# $BASHPID is the shell that runs the function: call these in the shell that
# started the job, not inside $(...).
signal_child() { proc_signal "$1" "$2" parent "$BASHPID"; }
child_running() { proc_is "$1" parent "$BASHPID"; }
