// Delivering one report to the receiver, by procedure 1 of its own program
// or of the Event program.
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

#include "daemon.h"
#include "log.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_xdr.h"
#include "vant/vant_agent.h"

namespace {

// The TCP abort timer: 5 s, and again every 5 s while the call still hangs,
// so that a call stuck past one interruption is interrupted again.
void setAbortTimer(int seconds) {
  struct itimerval timer;
  memset(&timer, 0, sizeof timer);
  timer.it_value.tv_sec = seconds;
  timer.it_interval.tv_sec = seconds;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

}  // namespace

int Daemon::callRendez(TesselServiceMsg* msg) { return deliver(msg, false); }

int Daemon::callEventRendez(TesselServiceMsg* msg) { return deliver(msg, true); }

void Daemon::rebuildClientsIfAsked() {
  if (!child.clientsStale) return;
  child.clientsStale = 0;
  if (!createClients()) {
    ovi_trace(1, "create Clients failed exiting.\n");
    endSubprocess(SUBPROCESS_DONE);
  }
}

int Daemon::deliver(TesselServiceMsg* msg, bool event) {
  ovi_trace(2, event ? "Daemon::callEventRendez\n" : "Daemon::callRendez\n");
  // A SIGUSR1 since the last call: this report goes over new clients.
  rebuildClientsIfAsked();
  if (!(event ? getEventClient(msg) : getClient(msg))) {
    ovi_trace(2, "cannot get a client; skipping this report\n");
    return 1;
  }
  struct timeval timeout = {1, 0};
  if (child.transport == TESSEL_PROTO_TCP) {
    gettimeofday(&child.timerStart, nullptr);
    setAbortTimer(TCP_ABORT_SECONDS);
    ovi_trace(2, "started TCP clnt_call abort timer: %d sec ...\n", TCP_ABORT_SECONDS);
  }
  ovi_trace(2, "sending report to rendezvous; timeout %d sec ...\n", static_cast<int>(timeout.tv_sec));
  CLIENT* handle = TesselClient::handleIn(msg);
  child.callState = 3;
  enum clnt_stat stat = clnt_call(handle, TESSEL_PROC_MESSAGE, (xdrproc_t)_tessel_serialMsg,
                                  (char*)msg, (xdrproc_t)_tessel_xdrStatus, (char*)&vant_error,
                                  timeout);
  child.callState = 4;
  if (child.transport == TESSEL_PROTO_TCP) {
    setAbortTimer(0);
    ovi_trace(2, "stopped TCP clnt_call abort timer\n");
  }
  if (child.clientsRecreated) {
    // A SIGUSR1 (the abort timer's, or one from outside) came since the
    // last call: the report is not tried again, and clients not yet made
    // anew are made now that the call has let go of the old handle.
    child.clientsRecreated = 0;
    rebuildClientsIfAsked();
    return 1;
  }
  if (stat == RPC_SUCCESS) {
    ovi_trace(2, "sent report to rendezvous\n");
    return 1;
  }
  struct rpc_err err;
  clnt_geterr(handle, &err);
  if (err.re_status == RPC_TIMEDOUT) {
    ovi_trace(2, "clnt_call failed: %s; continuing\n", clnt_sperror(handle, ""));
    ovi_trace(2, "sent report to rendezvous\n");
    return 1;
  }
  ovi_trace(2, "clnt_call failed: %s; exiting (with restart)\n", clnt_sperror(handle, ""));
  endSubprocess(SUBPROCESS_RESTART);
}
