// Deleting registrations and reaping the ends of children.
#include <arpa/inet.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "daemon.h"
#include "log.h"
#include "vant/vant_agent.h"

namespace {

// Registrations that are not ending.
int liveCount(TesselList* list) {
  int n = 0;
  for (TesselListNode* node = list->first(); node != nullptr; node = list->next(node))
    if (!static_cast<const Rendez*>(TesselList::data(node))->ending) n++;
  return n;
}

}  // namespace

int Daemon::deleteRendez(Request& request) {
  ovi_trace(1, "Daemon::deleteRendez\n");
  sigset_t mask = blockSignals();
  Rendez* r = findRendez(request, false);
  if (r == nullptr) {
    unblockSignals(mask);
    return 0;
  }
  ovi_trace(1, "sending SIGTERM signal to sync subprocess %d\n", static_cast<int>(r->sync_pid));
  if (r->sync_pid > 0) kill(r->sync_pid, SIGTERM);
  r->sync_pid = 0;
  ovi_trace(1, "sending SIGTERM signal to subprocess %d\n", static_cast<int>(r->subproc_pid));
  endRendez(r);
  statusChanged(true);
  // The last registration: the one just told to end was the only live one.
  if (liveCount(rendezList) == 0) _vant_should_exit();
  unblockSignals(mask);
  return 1;
}

void Daemon::reapChildren() {
  int status;
  pid_t pid;
  while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
    int code = (status >> 8) & 0xff;
    ovi_trace(2, "subprocess %d %s, exit code %d\n", static_cast<int>(pid),
              (status & 0x80) ? "dumped core" : "terminated", code);
    forgetSyncSubprocess(pid);
    reapRendez(pid, code);
  }
}

void Daemon::forgetSyncSubprocess(pid_t pid) {
  // An ended synchronisation's pid may be given to another process: a later
  // delete must not send it SIGTERM, nor a later synchronisation wait for it.
  sigset_t mask = blockSignals();
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
    Rendez* r = static_cast<Rendez*>(TesselList::data(n));
    if (r->sync_pid == pid) r->sync_pid = 0;
  }
  unblockSignals(mask);
}

int Daemon::reapRendez(long pid, int restart) {
  ovi_trace(2, "Daemon::reapRendez\n");
  sigset_t mask = blockSignals();
  TesselListNode* n = rendezList->first();
  while (n != nullptr && static_cast<Rendez*>(TesselList::data(n))->subproc_pid != pid)
    n = rendezList->next(n);
  if (n == nullptr) {
    ovi_trace(2, "cannot find rendezvous to delete\n");
    unblockSignals(mask);
    return 0;
  }
  Rendez* r = static_cast<Rendez*>(TesselList::data(n));
  // A registration replaced or deleted meanwhile must not come back.
  if (r->ending) restart = 0;
  r->channel.close();
  // The pid is gone: no SIGPIPE may be passed on to it, nor to whoever gets
  // the number next.
  if (currentSubprocPid == pid) currentSubprocPid = NO_SUBPROC_PID;
  Request request;
  memset(&request, 0, sizeof request);
  if (restart) {
    request.rendez_addr = r->rendez_addr;
    request.rendez_prog = r->rendez_prog;
    request.rendez_vers = r->rendez_vers;
    memcpy(request.filter_file, r->filter_file, sizeof request.filter_file);
    memcpy(request.orx_name, r->orx_name, sizeof request.orx_name);
    memcpy(request.recv_orx, r->recv_orx, sizeof request.recv_orx);
  }
  Rendez::Counts counts = r->counts;
  flushReportCache(r);
  ovi_trace(2, "unregistered rendezvous:\n");
  ovi_trace(2, "\trendez_addr: %s\n", inet_ntoa(r->rendez_addr));
  ovi_trace(2, "\trendez_prog: %d\n", static_cast<int>(r->rendez_prog));
  ovi_trace(2, "\trendez_vers: %d\n", static_cast<int>(r->rendez_vers));
  ovi_trace(2, "\tfilter_file: %s\n", r->filter_file);
  ovi_trace(2, "\t   orx_name: %s\n", r->orx_name);
  rendezList->remove(n);
  delete r;
  unblockSignals(mask);
  statusChanged(true);
  if (!restart) return 1;
  Rendez* fresh;
  if (!addRendez(request, &fresh)) return 0;
  // The registration goes on in its new subprocess, and so do its counts.
  fresh->counts = counts;
  fresh->counts.restarts++;
  return 1;
}
