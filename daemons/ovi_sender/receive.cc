// The subprocess's side of the report transfer: asking for a report and
// reading its header and argument list.
#include "daemon.h"
#include "log.h"
#include "tessel/tessel_codec.h"
#include "transfer.h"

namespace {

// A signal that interrupts the wait for the next report may have asked for
// new clients: they are made at once, as a handler could not safely do.
void makeAskedClients() {
  if (ovi::daemon != nullptr) ovi::daemon->rebuildClientsIfAsked();
}

}  // namespace

void Daemon::receiveReport(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                           TesselArglist* work2, Rendez* r) {
  r->channel.requestReport(makeAskedClients);
  ovi_trace(2, "getting report from parent ...\n");
  if (!recvFromParent(msg, arglist, work1, work2, r)) {
    ovi_trace(2, "recv from failed exiting.\n");
    endSubprocess(SUBPROCESS_RESTART);
  }
  ovi_trace(2, "got report from parent\n");
}

int Daemon::recvFromParent(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                           TesselArglist* work2, Rendez* r) {
  ovi_trace(2, "Daemon::recvFromParent\n");
  if (!r->channel.readImage(msg->image())) return 0;
  const uint32_t total = msg->arglistLength;
  arglist->position = 0;
  if (total > TESSEL_MAX_ARGLIST || !arglist->alloc(2 * total, 256)) {
    ovi_trace(1, "No memory\n");
    return 0;
  }
  if (!r->channel.readBody(arglist->data, total)) return 0;
  msg->argData.setBuffer(arglist->data, arglist->size, arglist->position);
  TesselArglist* works[] = {work1, work2};
  TesselBuffer* targets[] = {&msg->work1, &msg->work2};
  for (int i = 0; i < 2; i++) {
    works[i]->position = 0;
    if (!works[i]->alloc(2 * total, 256)) {
      ovi_trace(1, "No memory\n");
      return 0;
    }
    targets[i]->setBuffer(works[i]->data, works[i]->size, works[i]->position);
  }
  return 1;
}
