// Registering a receiver: its Rendez, three pipes and a forked forwarding
// subprocess.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include "daemon.h"
#include "log.h"
#include "orxdb/orxdb.h"
#include "parse_rcvhost.h"

namespace {

bool setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void closePipe(int fds[2]) {
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
  fds[0] = fds[1] = -1;
}

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

int Daemon::addRendez(Request& request) {
  ovi_trace(2, "Daemon::addRendez\n");
  long existing;
  if (rendezExists(request, existing)) {
    ovi_trace(2, "rendezvous already exists, killing subprocess %d\n", static_cast<int>(existing));
    sigset_t mask = blockSignals();
    endRendez(findRendez(request, true));
    unblockSignals(mask);
  }
  Rendez* r = new (std::nothrow) Rendez;
  if (r != nullptr) {
    memset(r, 0, sizeof *r);
    r->report_cache = new (std::nothrow) TesselList;
  }
  if (r == nullptr || r->report_cache == nullptr) {
    ovi_trace(1, "Cannot allocate a new rendezvous: %s\n", strerror(errno));
    formatStatus(2, 0, "No memory: %s", strerror(errno));
    delete r;
    return 0;
  }
  r->rendez_addr = request.rendez_addr;
  r->rendez_prog = request.rendez_prog;
  r->rendez_vers = request.rendez_vers;
  memcpy(r->filter_file, request.filter_file, sizeof r->filter_file);
  memcpy(r->orx_name, request.orx_name, sizeof r->orx_name);
  memcpy(r->recv_orx, request.recv_orx, sizeof r->recv_orx);
  r->sync_pid = 0;

  int toChild[2] = {-1, -1}, toParent[2] = {-1, -1}, data[2] = {-1, -1};
  if (pipe(toChild) < 0 || pipe(toParent) < 0 || pipe(data) < 0) {
    closePipe(toChild);
    closePipe(toParent);
    closePipe(data);
    delete r->report_cache;
    delete r;
    return 0;
  }
  fflush(stdout);
  r->subproc_pid = fork();
  if (r->subproc_pid < 0) {
    int err = errno;
    ovi_trace(1, "fork(2) failed\n");
    closePipe(toChild);
    closePipe(toParent);
    closePipe(data);
    formatStatus(2, 0, "Cannot create subprocess to send reports: %s", strerror(err));
    delete r->report_cache;
    delete r;
    return 0;
  }
  if (r->subproc_pid == 0) startSubprocess(r, toChild, toParent, data);

  close(toParent[1]);
  close(toChild[0]);
  close(data[0]);
  r->control_out_fd = toChild[1];
  r->control_in_fd = toParent[0];
  r->data_fd = data[1];
  if (!setNonBlocking(r->control_in_fd)) exit(0);

  sigset_t mask = blockSignals();
  if (!rendezList->append(r, 0)) {
    ovi_trace(1, "Cannot append new rendezvous to list: %s, killing %d\n", strerror(errno),
              static_cast<int>(r->subproc_pid));
    if (r->subproc_pid > 0) kill(r->subproc_pid, SIGTERM);
    unblockSignals(mask);
    close(r->control_out_fd);
    close(r->control_in_fd);
    close(r->data_fd);
    delete r->report_cache;
    delete r;
    return 0;
  }
  unblockSignals(mask);
  ovi_trace(2, "registered new rendezvous:\n");
  ovi_trace(2, "\tsubproc_pid: %d\n", static_cast<int>(r->subproc_pid));
  ovi_trace(2, "\trendez_addr: %s\n", inet_ntoa(r->rendez_addr));
  ovi_trace(2, "\trendez_prog: %d\n", static_cast<int>(r->rendez_prog));
  ovi_trace(2, "\trendez_vers: %d\n", static_cast<int>(r->rendez_vers));
  ovi_trace(2, "\tfilter_file: %s\n", r->filter_file);
  ovi_trace(2, "\t   orx_name: %s\n", r->orx_name);
  ovi_trace(2, "\t   recv_orx: %s\n", r->recv_orx);
  return 1;
}

void Daemon::closeReceiverPipes() {
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
    const Rendez* r = static_cast<const Rendez*>(TesselList::data(n));
    for (int fd : {r->control_out_fd, r->control_in_fd, r->data_fd})
      if (fd > 2) close(fd);
  }
}

void Daemon::startSubprocess(Rendez* r, int toChild[2], int toParent[2], int data[2]) {
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
  close(toParent[0]);
  close(toChild[1]);
  close(data[1]);
  closeReceiverPipes();
  rendezAddr = r->rendez_addr;
  rendezProg = r->rendez_prog;
  rendezVers = r->rendez_vers;
  strcpy(filterFile, r->filter_file);
  strcpy(orxName, r->orx_name);
  controlOutFd = r->control_out_fd = toParent[1];
  controlInFd = r->control_in_fd = toChild[0];
  dataFd = r->data_fd = data[0];
  if (!setNonBlocking(controlInFd) || !setNonBlocking(r->data_fd)) exit(0);
  if (!orxdb_open()) ovi_trace(3, "Oh, Oh! Couldn't open database %s\n", r->orx_name);
  sendToRendez(r);
  ovi_trace(1, "Daemon::sendToRendez() returned abnormally, exiting\n");
  exit(0);
}
