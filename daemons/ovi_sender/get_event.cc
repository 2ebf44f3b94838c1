// The subscription with qm.event and the dispatch of every report it sends
// into the caches of the registered receivers.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "daemon.h"
#include "log.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_rendez.h"
#include "vant/vant_agent.h"
#include "vant/vant_fetch.h"

void Daemon::GetEvents() {
  ovi_trace(2, "Daemon::GetEvents\n");
  callMeMom = 1;
  gethostname(hostname, sizeof hostname);
  hostname[sizeof hostname - 1] = '\0';
  eventRendezProg = OVI_AGENT_PROG;
  eventTimeout = {30, 0};
  if (tessel_register_rendez(hostname, hostname, OVI_AGENT_PROG, OVI_AGENT_VERS, 0, 1,
                             &eventTimeout)) {
    ovi_trace(2, "ovi_sender registered with qm.event\n");
    statusChanged(true);
    return;
  }
  ovi_startFailed("cannot subscribe to the event dispatcher qm.event: %s", tessel_sperror());
  ovi_trace(2, "Can't register with the event dispatcher\n");
  ovi_trace(2, "reason : %s\n", tessel_sperror());
  ovi_trace(4, "myname = %s, rendez = %u, version = %u, agent = %u.\n", hostname,
            static_cast<unsigned>(OVI_AGENT_PROG), static_cast<unsigned>(OVI_AGENT_VERS), 0u);
  exit(1);
}

void Daemon::dispatchReport(unsigned int type, char* system, char* group, char* key,
                            unsigned int flags) {
  ovi_trace(2, "Daemon::dispatchReport\n");
  if (!checkReport(type, system, group, key, flags)) {
    ovi_trace(3, "CHECK FAILED:  Found our hostname in VANT_FORWARDED_BY\n");
    return;
  }
  TesselServiceMsg* msg = aTesselVantRendez;
  if (msg == nullptr) return;
  sigset_t mask = blockSignals();
  if (rendezList->first() != nullptr) statusChanged(false);
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
    Rendez* r = static_cast<Rendez*>(TesselList::data(n));
    if (r->report_cache.count() >= REPORT_CACHE_LIMIT) {
      r->counts.dropped++;
      continue;
    }
    currentSubprocPid = r->subproc_pid;
    std::unique_ptr<CachedReport> cached =
        CachedReport::copyOf(msg->image(), msg->argData.data, msg->arglistLength);
    if (!cached) {
      ovi_trace(1, "No memory: %s\n", strerror(errno));
      continue;
    }
    ovi_trace(2, "appended new report to rendezvous report list.\n");
    if (r->report_cache.append(std::move(cached)))
      r->counts.cached++;
    else
      ovi_trace(1, "No memory: %s\n", strerror(errno));
  }
  // Nothing is written to a subprocess here: a SIGPIPE that comes later
  // (a transfer to a subprocess that died, which restarts that one itself,
  // or a reply to a client that went away) must not restart this one.
  currentSubprocPid = NO_SUBPROC_PID;
  unblockSignals(mask);
}

int Daemon::checkReport(unsigned int type, char* system, char* group, char* key,
                        unsigned int flags) {
  ovi_trace(2, "Daemon::checkReport\n");
  if (flags & REPORT_LAST_OF_SERIES) {
    ovi_trace(2, "got last report with TESSEL_NO_EVENTS flag set\n");
    return 0;
  }
  return executeCheck(type, system, group, key);
}

int Daemon::executeCheck(unsigned int type, char*, char*, char*) {
  ovi_trace(3, "Daemon::appendEntry\n");
  char host[256];
  gethostname(host, sizeof host);
  host[sizeof host - 1] = '\0';
  Tessel_msginfo info;
  if (!tessel_fetch_msginfo(&info)) return 0;
  struct timeval now;
  if (gettimeofday(&now, nullptr) != 0) {
    if (vant_debug) perror("qm.event: gettimeofday");
    return 0;
  }
  if (type == 5) {
    Tessel_error error;
    return tessel_fetch_error(&error) ? 1 : 0;
  }
  if (type != 4 && type != 12 && type != 2) return 0;
  for (;;) {
    Tessel_event e;
    int fetched = type == 4 ? vant_fetch_event(&e, nullptr) : vant_fetch_data(&e, nullptr);
    if (!fetched) return 0;
    if (strcasecmp(e.name, "tessel_endofargs") == 0) return 1;
    if (strcasecmp(e.name, VANT_FORWARDED_BY) == 0) {
      // The first L bytes of both, L being the length the attribute carries,
      // so a length of 0 matches every host.
      if (strncasecmp(static_cast<const char*>(e.value), host, e.length) == 0) return 0;
    }
  }
}

int Daemon::flushReportCache(Rendez* rendez) {
  ovi_trace(2, "Daemon::flushReportCache\n");
  rendez->report_cache.clear();
  return 1;
}
