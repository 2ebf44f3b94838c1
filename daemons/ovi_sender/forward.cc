// The life of a forwarding subprocess: ask the daemon for a report, receive
// it, and hand it on toward the receiver.
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <new>

#include "daemon.h"
#include "log.h"
#include "signals.h"

void Daemon::sendToRendez(Rendez* r) {
  ovi_trace(2, "Daemon::sendToRendez\n");
  char localHost[256];
  gethostname(localHost, sizeof localHost);
  localHost[sizeof localHost - 1] = '\0';
  if (!ovi_installSubprocessHandlers()) exit(0);

  for (;;) {
    std::unique_ptr<TesselServiceMsg> msg(new (std::nothrow) TesselServiceMsg);
    std::unique_ptr<TesselArglist> arglist(new (std::nothrow) TesselArglist);
    std::unique_ptr<TesselArglist> work1(new (std::nothrow) TesselArglist);
    std::unique_ptr<TesselArglist> work2(new (std::nothrow) TesselArglist);
    if (!msg || !arglist || !work1 || !work2 || msg->status != 0 || arglist->status != 0 ||
        work1->status != 0 || work2->status != 0) {
      ovi_trace(1, "No memory\n");
      exit(0);
    }
    receiveReport(msg.get(), arglist.get(), work1.get(), work2.get(), r);
    ovi_trace(2, "ABOUT to FILTER: Time to start processing report:%s:%s:\n", filterFile, orxName);
    reportPriority = 0;
    if (msg->arglistLength == 0) continue;
    // Decoding, filtering and delivery to the receiver are not built yet:
    // the report ends here.
    ovi_trace(3, "report of type %u from %s not forwarded: delivery is not available\n",
              msg->type, msg->host);
  }
}
