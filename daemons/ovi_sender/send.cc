// The daemon's side of the report transfer: the cache drain and the framed
// write of one report to a subprocess.
#include <arpa/inet.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <sys/select.h>

#include "daemon.h"
#include "log.h"
#include "transfer.h"

// A view onto the argument bytes of the cached report being sent; it owns
// nothing and is reset after every send.
static TesselArglist arglist1;

void Daemon::sendCachedReport(fd_set& ready) {
  ovi_trace(2, "Daemon::sendCachedReport\n");
  sigset_t mask = blockSignals();
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
    Rendez* r = static_cast<Rendez*>(TesselList::data(n));
    CachedReport* cached = r->report_cache.oldest();
    if (cached == nullptr || !FD_ISSET(r->channel.control_in_fd(), &ready)) continue;
    uint32_t length = transfer_arglistLength(cached->header.get());
    if (length > TRANSFER_CHUNK)
      ovi_trace(1, "big packet, PIPE_BUF = %d, header = %d, length = %d\n", TRANSFER_PIPE_BUF,
                TRANSFER_HEADER, static_cast<int>(length));
    arglist1.setBuffer(cached->arglistData.get(), length, 0);
    if (sendToChild(cached->header.get(), &arglist1, r))
      r->counts.handed++;
    else if (r->subproc_pid > 0)
      kill(r->subproc_pid, SIGUSR2);
    statusChanged(false);
    r->report_cache.dropOldest();
    arglist1.setBuffer(nullptr, 0, 0);
  }
  unblockSignals(mask);
}

int Daemon::sendToChild(const unsigned char* header, TesselArglist* arglist, Rendez* r) {
  ovi_trace(2, "Daemon::sendToChild\n");
  ovi_trace(2, "forwarding message to subprocess handling rendezvous\n");
  ovi_trace(2, "\tsubproc_pid: %d\n", static_cast<int>(r->subproc_pid));
  ovi_trace(2, "\trendez_addr: %s\n", inet_ntoa(r->rendez_addr));
  ovi_trace(2, "\trendez_prog: %d\n", static_cast<int>(r->rendez_prog));
  ovi_trace(2, "\trendez_vers: %d\n", static_cast<int>(r->rendez_vers));
  return r->channel.sendReport(header, arglist->data, transfer_arglistLength(header), svc_fdset);
}
