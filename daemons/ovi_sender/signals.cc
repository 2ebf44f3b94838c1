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

// Appends the decimal text of n at p; returns the new end.
char* putNumber(char* p, long n) {
  char digits[24];
  int len = 0;
  unsigned long u = n < 0 ? -static_cast<unsigned long>(n) : static_cast<unsigned long>(n);
  do {
    digits[len++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (n < 0) *p++ = '-';
  while (len > 0) *p++ = digits[--len];
  return p;
}

}  // namespace

void ovi_traceFromHandler(int level, const char* text, long number) {
  if (proxy_trace_level < level) return;
  char line[256];
  char* p = line;
  *p++ = '[';
  p = putNumber(p, getpid());
  const char* prefix = "] ";
  memcpy(p, prefix, 2);
  p += 2;
  size_t n = strlen(agent_name);
  memcpy(p, agent_name, n);
  p += n;
  *p++ = ':';
  *p++ = ' ';
  n = strlen(text);
  if (n > 150) n = 150;
  memcpy(p, text, n);
  p += n;
  if (number >= 0) p = putNumber(p, number);
  *p++ = '\n';
  ssize_t ignored = write(1, line, p - line);
  (void)ignored;
}

int ovi_installDaemonHandlers() {
  if (childPipe[0] < 0 && pipe2(childPipe, O_NONBLOCK | O_CLOEXEC) < 0) return 0;
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = catch_sigchld;
  if (sigaction(SIGCHLD, &sa, nullptr) < 0) return 0;
  sa.sa_handler = catch_sigpipe;
  return sigaction(SIGPIPE, &sa, nullptr) == 0;
}

int ovi_childPipe() { return childPipe[0]; }

int ovi_takeChildEvents() {
  char drain[64];
  while (childPipe[0] >= 0 && read(childPipe[0], drain, sizeof drain) > 0) {
  }
  int ended = childEnded;
  childEnded = 0;
  return ended;
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
    d->shutdownRequested = 1;
    ovi_traceFromHandler(2, "shutting down so parent reregisters rendezvous", -1);
    close(d->controlOutFd);
    close(d->dataFd);
  }
  _exit(1);
}

void catch_sigalrm(int) {
  ovi_traceFromHandler(2, "catch_sigalrm: caught SIGALRM", -1);
  Daemon* d = ovi::daemon;
  if (d == nullptr) return;
  d->alarmFired = 1;
  if (d->callState == 3) kill(getpid(), SIGUSR1);
}

void catch_sigusr1(int) {
  // A call in progress is interrupted by this signal's arrival.  The clients
  // are made anew outside the handler: after the call has returned, or, when
  // no call runs, at once from the wait for the next report.
  ovi_traceFromHandler(2, "catch_sigusr1: caught SIGUSR1", -1);
  Daemon* d = ovi::daemon;
  if (d == nullptr) return;
  d->clientsRecreated = 1;
  d->clientsStale = 1;
}

int ovi_installSubprocessHandlers() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = catch_sigalrm;
  if (sigaction(SIGALRM, &sa, nullptr) < 0) return 0;
  sa.sa_handler = catch_sigusr1;
  if (sigaction(SIGUSR1, &sa, nullptr) < 0) return 0;
  sa.sa_handler = catch_sigusr2;
  return sigaction(SIGUSR2, &sa, nullptr) == 0;
}
