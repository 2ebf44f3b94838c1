#include "signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "daemon.h"
#include "log.h"

namespace {

int childPipe[2] = {-1, -1};
volatile sig_atomic_t childEnded = 0;

// Installs a handler with an empty mask and no flags: an interrupted call
// fails with EINTR and the handler stays.  1 on success.
int install(int signo, void (*handler)(int)) {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = handler;
  return sigaction(signo, &sa, nullptr) == 0;
}

}  // namespace

int ovi_installDaemonHandlers() {
  if (childPipe[0] < 0 && pipe2(childPipe, O_NONBLOCK | O_CLOEXEC) < 0) return 0;
  return install(SIGCHLD, catch_sigchld) && install(SIGPIPE, catch_sigpipe);
}

int ovi_childPipe() { return childPipe[0]; }

int ovi_takeChildEvents() {
  // Most passes follow no child's end: the flag spares them a read of the
  // empty pipe.  A byte written after the flag was read wakes the next pass.
  if (!childEnded) return 0;
  childEnded = 0;
  char drain[64];
  while (childPipe[0] >= 0 && read(childPipe[0], drain, sizeof drain) > 0) {
  }
  return 1;
}

void catch_sigchld(int) {
  // Reaping allocates, forks and traces: it is left to the service loop.
  int saved = errno;
  childEnded = 1;
  if (childPipe[1] >= 0) {
    ssize_t ignored = write(childPipe[1], "c", 1);
    (void)ignored;
  }
  errno = saved;
}

void catch_sigpipe(int) {
  int saved = errno;
  Daemon* d = ovi::daemon;
  long target = d != nullptr ? d->currentSubprocPid : -1;
  ovi_traceFromHandler(2, "caught SIGPIPE; currentSubprocPid is ", target);
  // Ordinary code changes the list only with signals blocked, so it is whole
  // here; a pid that no registration holds is never signalled.
  if (target > 0 && d->isForwardingSubprocess(static_cast<pid_t>(target)))
    kill(static_cast<pid_t>(target), SIGUSR2);
  errno = saved;
}

void catch_sigusr2(int) {
  // The daemon wants this subprocess replaced: end with status 1, which
  // makes it register the receiver again.
  ovi_traceFromHandler(2, "catch_sigusr2: caught SIGUSR2", -1);
  Daemon* d = ovi::daemon;
  if (d != nullptr) {
    d->child.shutdownRequested = 1;
    ovi_traceFromHandler(2, "shutting down so parent reregisters rendezvous", -1);
    if (d->child.channel != nullptr) d->child.channel->close();
  }
  // exit() is not safe in a handler: the one end of a child that bypasses
  // Daemon::endSubprocess.
  _exit(SUBPROCESS_RESTART);
}

void catch_sigalrm(int) {
  ovi_traceFromHandler(2, "catch_sigalrm: caught SIGALRM", -1);
  Daemon* d = ovi::daemon;
  if (d == nullptr) return;
  d->child.alarmFired = 1;
  if (d->child.callState == 3) kill(getpid(), SIGUSR1);
}

void catch_sigusr1(int) {
  // A call in progress is interrupted by this signal's arrival.  The clients
  // are made anew outside the handler: after the call has returned, or, when
  // no call runs, at once from the wait for the next report.
  ovi_traceFromHandler(2, "catch_sigusr1: caught SIGUSR1", -1);
  Daemon* d = ovi::daemon;
  if (d == nullptr) return;
  d->child.clientsRecreated = 1;
  d->child.clientsStale = 1;
}

int ovi_installSubprocessHandlers() {
  return install(SIGALRM, catch_sigalrm) && install(SIGUSR1, catch_sigusr1) &&
         install(SIGUSR2, catch_sigusr2);
}
