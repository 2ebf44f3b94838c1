// Registering a receiver: its Rendez, three pipes and a forked forwarding
// subprocess.
#include <arpa/inet.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "daemon.h"
#include "log.h"
#include "orxdb/orxdb.h"
#include "parse_rcvhost.h"

namespace {

// Holds "ORX_NAME=..." for the life of the subprocess: putenv keeps the pointer.
char orxNameEnv[255];

}  // namespace

bool Daemon::matchesFully(const Rendez& r, const Request& q) {
  return r.rendez_addr.s_addr == q.rendez_addr.s_addr && r.rendez_prog == q.rendez_prog &&
         r.rendez_vers == q.rendez_vers && strcmp(r.filter_file, q.filter_file) == 0 &&
         strcmp(r.orx_name, q.orx_name) == 0;
}

Rendez* Daemon::findRendez(const Request& request, bool consoleToo) {
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
    Rendez* r = static_cast<Rendez*>(TesselList::data(n));
    if (r->ending) continue;
    bool sameConsole = r->rendez_addr.s_addr == request.rendez_addr.s_addr &&
                       strcmp(r->recv_orx, request.recv_orx) == 0 &&
                       strcmp(r->orx_name, request.orx_name) == 0;
    if (matchesFully(*r, request) || (consoleToo && sameConsole)) return r;
  }
  return nullptr;
}

void Daemon::endRendez(Rendez* r) {
  r->ending = true;
  if (r->subproc_pid >= 1) kill(r->subproc_pid, SIGTERM);
}

int Daemon::rendezExists(Request& request, long& pid) {
  ovi_trace(2, "checking whether rendezvous already exists\n");
  sigset_t mask = blockSignals();
  const Rendez* r = findRendez(request, true);
  pid = r != nullptr ? r->subproc_pid : NO_SUBPROC_PID;
  unblockSignals(mask);
  return r != nullptr;
}

int Daemon::addRendez(Request& request, Rendez** added) {
  ovi_trace(2, "Daemon::addRendez\n");
  long existing;
  if (rendezExists(request, existing)) {
    ovi_trace(2, "rendezvous already exists, killing subprocess %d\n", static_cast<int>(existing));
    sigset_t mask = blockSignals();
    endRendez(findRendez(request, true));
    unblockSignals(mask);
  }
  std::unique_ptr<Rendez> r(new (std::nothrow) Rendez);
  if (!r) {
    ovi_trace(1, "Cannot allocate a new rendezvous: %s\n", strerror(errno));
    formatStatus(2, 0, "No memory: %s", strerror(errno));
    return 0;
  }
  r->rendez_addr = request.rendez_addr;
  r->rendez_prog = request.rendez_prog;
  r->rendez_vers = request.rendez_vers;
  memcpy(r->filter_file, request.filter_file, sizeof r->filter_file);
  memcpy(r->orx_name, request.orx_name, sizeof r->orx_name);
  memcpy(r->recv_orx, request.recv_orx, sizeof r->recv_orx);
  r->counts.registered = time(nullptr);
  if (!r->channel.open()) return 0;

  fflush(stdout);
  r->subproc_pid = fork();
  if (r->subproc_pid < 0) {
    int err = errno;
    ovi_trace(1, "fork(2) failed\n");
    formatStatus(2, 0, "Cannot create subprocess to send reports: %s", strerror(err));
    return 0;
  }
  if (r->subproc_pid == 0) startSubprocess(r.release());
  if (!r->channel.keepDaemonEnds()) exit(0);

  sigset_t mask = blockSignals();
  if (!rendezList->append(r.get(), 0)) {
    ovi_trace(1, "Cannot append new rendezvous to list: %s, killing %d\n", strerror(errno),
              static_cast<int>(r->subproc_pid));
    if (r->subproc_pid > 0) kill(r->subproc_pid, SIGTERM);
    unblockSignals(mask);
    return 0;
  }
  unblockSignals(mask);
  Rendez* fresh = r.release();  // the list owns it now
  if (added != nullptr) *added = fresh;
  statusChanged(true);
  ovi_trace(2, "registered new rendezvous:\n");
  ovi_trace(2, "\tsubproc_pid: %d\n", static_cast<int>(fresh->subproc_pid));
  ovi_trace(2, "\trendez_addr: %s\n", inet_ntoa(fresh->rendez_addr));
  ovi_trace(2, "\trendez_prog: %d\n", static_cast<int>(fresh->rendez_prog));
  ovi_trace(2, "\trendez_vers: %d\n", static_cast<int>(fresh->rendez_vers));
  ovi_trace(2, "\tfilter_file: %s\n", fresh->filter_file);
  ovi_trace(2, "\t   orx_name: %s\n", fresh->orx_name);
  ovi_trace(2, "\t   recv_orx: %s\n", fresh->recv_orx);
  return 1;
}

void Daemon::closeReceiverPipes() {
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n))
    static_cast<Rendez*>(TesselList::data(n))->channel.close();
}

void Daemon::startSubprocess(Rendez* r) {
  eventRendezProg = 0;
  callMeMom = 0;
  // A database name too long for the buffer is cut, like every request text.
  if (snprintf(orxNameEnv, sizeof orxNameEnv, "ORX_NAME=%s", r->orx_name) >=
      static_cast<int>(sizeof orxNameEnv))
    ovi_trace(3, "database name cut to %s\n", orxNameEnv + 9);
  putenv(orxNameEnv);
  set_db_locale_lang(r->orx_name);
  ovi_trace(2, "Hello world!  Using %s\n", orxNameEnv);
  signal(SIGTERM, SIG_DFL);
  signal(SIGQUIT, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  // A write to a closed pipe or socket shows as EPIPE where it happens; the
  // daemon's SIGPIPE handler has no business here.
  signal(SIGPIPE, SIG_IGN);
  int nonBlocking = r->channel.keepSubprocessEnds();
  closeReceiverPipes();
  child.rendezAddr = r->rendez_addr;
  child.rendezProg = r->rendez_prog;
  child.rendezVers = r->rendez_vers;
  strcpy(filterFile, r->filter_file);
  strcpy(orxName, r->orx_name);
  child.channel = &r->channel;
  if (!nonBlocking) endSubprocess(SUBPROCESS_DONE);
  if (!orxdb_open()) ovi_trace(3, "Oh, Oh! Couldn't open database %s\n", r->orx_name);
  sendToRendez(r);
  ovi_trace(1, "Daemon::sendToRendez() returned abnormally, exiting\n");
  endSubprocess(SUBPROCESS_DONE);
}
