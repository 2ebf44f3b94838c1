// The life of a forwarding subprocess: ask the daemon for a report, receive
// it, decode and filter it, and deliver it to the receiver.
#include <netdb.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "daemon.h"
#include "decode.h"
#include "log.h"
#include "orxdb/orxdb.h"
#include "signals.h"

namespace {

const uint32_t kDbManagerProg = 100110;
const char kGlyphGroup[] = "tessel_glyph_state";

// True when the send list names the receiver's host in "vant_forwarded_by":
// the report came from there and must not go back.  The name is looked up
// for each report that carries the attribute, so that a host renamed, or
// named only after the subprocess started, is still recognised.
bool cameFromReceiver(const infoList* list, struct in_addr receiver) {
  const char* name = nullptr;
  bool looked = false;
  for (const infoList* n = list; n != nullptr; n = n->next) {
    if (strcmp(n->name, "vant_forwarded_by") != 0) continue;
    if (!looked) {
      struct hostent* h = gethostbyaddr(&receiver, 4, AF_INET);
      name = h != nullptr ? h->h_name : nullptr;
      looked = true;
    }
    // An address without a name matches no entry.
    if (name == nullptr) return false;
    if (strncmp(static_cast<const char*>(n->value), name, n->length) == 0) return true;
  }
  return false;
}

}  // namespace

void Daemon::sendToRendez(Rendez* r) {
  ovi_trace(2, "Daemon::sendToRendez\n");
  char localHost[256];
  gethostname(localHost, sizeof localHost);
  localHost[sizeof localHost - 1] = '\0';
  if (!ovi_installSubprocessHandlers()) endSubprocess(SUBPROCESS_DONE);
  if (!createClients()) {
    ovi_trace(1, "Client Creates failed -- exiting.\n");
    endSubprocess(SUBPROCESS_DONE);
  }

  for (;;) {
    std::unique_ptr<TesselServiceMsg> msg(new (std::nothrow) TesselServiceMsg);
    std::unique_ptr<TesselArglist> arglist(new (std::nothrow) TesselArglist);
    std::unique_ptr<TesselArglist> work1(new (std::nothrow) TesselArglist);
    std::unique_ptr<TesselArglist> work2(new (std::nothrow) TesselArglist);
    if (!msg || !arglist || !work1 || !work2 || msg->status != 0 || arglist->status != 0 ||
        work1->status != 0 || work2->status != 0) {
      ovi_trace(1, "No memory\n");
      endSubprocess(SUBPROCESS_DONE);
    }
    receiveReport(msg.get(), arglist.get(), work1.get(), work2.get(), r);
    // A database dropped and loaded again, or replaced, since the last
    // report is read anew from here on.
    orxdb_refresh();
    // Its filter file likewise: read once for the look-ups of this report.
    ovi_filter_new_round();
    ovi_trace(2, "ABOUT to FILTER: Time to start processing report:%s:%s:\n", filterFile, orxName);
    forwardReport(msg.get(), arglist.get(), work1.get(), work2.get(), localHost);
  }
}

void Daemon::forwardReport(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                           TesselArglist* work2, const char* localHost) {
  child.reportPriority = 0;
  if (msg->arglistLength == 0) return;
  ReportState s;
  if (!decodeReport(this, &s, msg, arglist, work1, work2, localHost)) {
    free_info_list(s.sendList);
    return;
  }
  ovi_trace(3, "FINISHED ALL FILTERING: Filter Priority: %d, Report Priority %d, New Priority %d\n",
            child.filterPriority, child.reportPriority, child.newPriority);
  if ((s.info.reportClass != 4 && child.reportPriority < child.filterPriority) || s.dontSend ||
      cameFromReceiver(s.sendList, child.rendezAddr)) {
    free_info_list(s.sendList);
    return;
  }
  ovi_trace(3, "Agent prog is %d group %s dont_send is %d\n", static_cast<int>(msg->agentProg),
            msg->group, s.dontSend);
  if (!rebuildAttributes(s.sendList, msg, &s.info)) return;

  bool dbManager = msg->agentProg == kDbManagerProg;
  bool glyphState = strcmp(msg->group, kGlyphGroup) == 0;
  if (dbManager && glyphState) {
    ovi_trace(3, "Calling Event rendez (with glyph state info)\n");
    if (!callEventRendez(msg)) {
      ovi_trace(2, "Failed calling Event Rendez exiting.\n");
      endSubprocess(SUBPROCESS_RESTART);
    }
  } else if (dbManager) {
    ovi_trace(3, "Calling DB rendendez \n");
    if (!callRendez(msg)) {
      ovi_trace(2, "Failed calling receiver - exiting.\n");
      endSubprocess(SUBPROCESS_RESTART);
    }
  } else {
    ovi_trace(3, "Calling Event rendez with Event report\n");
    if (!callEventRendez(msg)) {
      ovi_trace(2, "failed calling Event - exiting.\n");
      endSubprocess(SUBPROCESS_RESTART);
    }
  }
}
