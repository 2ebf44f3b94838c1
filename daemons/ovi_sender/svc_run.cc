// The daemon process's only loop: RPC requests and reports, subprocesses
// ready for their next report, and the ends of children.
#include <errno.h>
#include <rpc/rpc.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/select.h>

#include "daemon.h"
#include "log.h"
#include "signals.h"
#include "transfer.h"

int transfer_descriptorCount() {
  // select's sets hold FD_SETSIZE descriptors, whatever the process limit.
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < static_cast<rlim_t>(FD_SETSIZE))
    return static_cast<int>(limit.rlim_cur);
  return FD_SETSIZE;
}

void Daemon::svc_run() {
  ovi_trace(2, "Daemon::svc_run\n");
  int count = transfer_descriptorCount();
  int childPipe = ovi_childPipe();
  // Signals stay blocked but while the loop waits: its handlers then find
  // the registry whole, and the walks below need no mask changes of their
  // own.  Children forked meanwhile take the normal mask back.
  sigset_t normal = holdSignals();

  for (;;) {
    fd_set readSet = svc_fdset;
    if (childPipe >= 0) FD_SET(childPipe, &readSet);
    for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
      Rendez* r = static_cast<Rendez*>(TesselList::data(n));
      if (r->report_cache.count() > 0) FD_SET(r->channel.control_in_fd(), &readSet);
    }

    // No time-out, but while the status file waits for its next write.
    struct timespec wait;
    int ready = pselect(count, &readSet, nullptr, nullptr, writeStatusWhenDue(&wait), &normal);
    if (ready < 0) {
      if (errno == EBADF) {
        ovi_trace(1, "select(2) failed: %s\n", strerror(errno));
        return;
      }
      // A signal: the ends of children are looked at below, on the next pass.
      if (ovi_takeChildEvents()) reapChildren();
      continue;
    }
    if (ready == 0) continue;

    fd_set rpcSet = readSet, pipeSet;
    FD_ZERO(&pipeSet);
    bool pipes = false;
    if (childPipe >= 0) FD_CLR(childPipe, &rpcSet);
    for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
      Rendez* r = static_cast<Rendez*>(TesselList::data(n));
      int fd = r->channel.control_in_fd();
      if (FD_ISSET(fd, &readSet)) {
        FD_SET(fd, &pipeSet);
        FD_CLR(fd, &rpcSet);
        pipes = true;
      }
    }

    for (int fd = 0; fd < count; fd++) {
      if (FD_ISSET(fd, &rpcSet)) {
        svc_getreqset(&rpcSet);
        break;
      }
    }
    if (pipes) {
      sendCachedReport(pipeSet);
      ovi_trace(2, "sent cached reports\n");
    }
    if (ovi_takeChildEvents()) reapChildren();
  }
}
