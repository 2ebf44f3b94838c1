#include "daemon.h"

#include <errno.h>
#include <new>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include "log.h"
#include "signals.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_rendez.h"
#include "vant/vant_agent.h"

namespace {

// The agent accepts data of every type code up to this one.
const int kMaxDataType = 23;

void traceIdentity(const char* what) {
  if (!ovi_tracing(1)) return;
  time_t now = time(nullptr);
  char when[64];
  ovi_trace(1, "%s ovi_sender, %s, %s: %s%s", product_name, release, patch_level, what,
            ctime_r(&now, when) != nullptr ? when : "\n");
}

}  // namespace

Daemon::Daemon(Detached) { rendezList = new (std::nothrow) TesselList; }

Daemon::Daemon() : Daemon(Detached()) {
  delete rendezList;
  rendezList = nullptr;
  startTime = time(nullptr);
  ovi_trace(2, "Daemon::Daemon\n");
  traceIdentity("");

  struct timeval timeout = {30, 0};
  if (!_vant_init_rpc_rendez(agent_name, VANT_UDP_AND_TCP, OVI_AGENT_PROG, OVI_AGENT_VERS,
                             kMaxDataType, &timeout, nullptr, do_request, shutdown_daemon)) {
    ovi_trace(1, "Cannot initialize: %s\n", tessel_sperror());
    syslog(LOG_ERR, "Cannot initialize: %s", tessel_sperror());
    initFailed = 1;
    return;
  }
  rendezList = new (std::nothrow) TesselList;
  if (rendezList == nullptr) {
    ovi_trace(1, "Cannot allocate rendezvous list: %s", strerror(errno));
    syslog(LOG_ERR, "No memory: %m");
    initFailed = 1;
    return;
  }
  const char* path = lookup(LOGFILE_KEYWORD);
  if (path == nullptr) path = DEFAULT_LOGFILE;
  logFile = strdup(path);
  if (logFile == nullptr) {
    ovi_trace(1, "strdup failed for \"%s\": %s\n", path, strerror(errno));
    syslog(LOG_ERR, "No memory: %m");
    initFailed = 1;
    return;
  }
  if (!ovi_installDaemonHandlers()) {
    ovi_trace(1, "Cannot install signal handlers: %s\n", strerror(errno));
    syslog(LOG_ERR, "Cannot install signal handlers: %m");
    initFailed = 1;
  }
}

Daemon::~Daemon() {
  ovi_trace(2, "Daemon::~Daemon\n");
  traceIdentity("shutting down ");
  closelog();
  if (eventRendezProg != 0) {
    my_exit();
    eventRendezProg = 0;
  }
  _vant_shutdown_rendez(0);
  // A daemon that ended says nothing any more of consoles and counts.
  if (startTime != 0) removeStatus();
  // The subprocesses are not signalled: they learn of the end through their
  // pipes.  The memory goes back all the same.
  if (rendezList != nullptr) {
    while (TesselListNode* node = rendezList->first()) {
      Rendez* r = static_cast<Rendez*>(TesselList::data(node));
      flushReportCache(r);
      delete r;
      rendezList->remove(node);
    }
    delete rendezList;
  }
  free(logFile);
}

void Daemon::endSubprocess(int status) {
  // exit(), not _exit(): the child's buffered output is flushed and, in the
  // sanitized build, its leaks are checked.  Nothing the daemon owns is
  // released by it (the Daemon and its registry live on the heap), and the
  // libraries' exit handlers leave the daemon's registrations alone in a
  // child.
  exit(status);
}

void Daemon::my_exit() {
  ovi_trace(3, "event rendez is: %d, callMeMom is: %d\n", static_cast<int>(eventRendezProg),
            callMeMom);
  if (eventRendezProg == 0 || callMeMom == 0) return;
  ovi_trace(3, "Calling tessel_unregister_rendez\n");
  tessel_unregister_rendez(hostname, hostname, eventRendezProg, OVI_AGENT_VERS, 0, 1,
                           eventTimeout);
}

bool Daemon::isForwardingSubprocess(pid_t pid) const {
  if (rendezList == nullptr) return false;
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n))
    if (static_cast<Rendez*>(TesselList::data(n))->subproc_pid == pid) return true;
  return false;
}

void shutdown_daemon(int) {
  ovi_trace(2, "shutdown_daemon\n");
  // No handler may reach the Daemon while and after it is destroyed; the
  // library ends the process right after this returns.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGCHLD);
  sigaddset(&mask, SIGPIPE);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  Daemon* d = ovi::daemon;
  ovi::daemon = nullptr;
  delete d;
}
