#include "tessel/tessel_trap.h"

#include <string.h>

#include <new>

#include "tessel/tessel_call.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_service_msg.h"

namespace {

struct StartedTrap {
  TesselServiceMsg msg;
  TesselCaller caller;
};

StartedTrap* trap = nullptr;

}  // namespace

int tessel_start_trap(const char* sendingHost, unsigned long sendingProg, unsigned long sendingVers,
                      const char* group, const char* destHost, unsigned long destProg,
                      unsigned long destVers, int mode, struct timeval timeout) {
  delete trap;
  trap = new (std::nothrow) StartedTrap;
  if (trap == nullptr) {
    tessel_setError("no memory for a trap");
    return 0;
  }
  struct in_addr addr;
  if (!tessel_resolve(destHost, &addr) ||
      !trap->caller.open(addr, destProg, destVers, timeout) || !trap->msg.clearData()) {
    delete trap;
    trap = nullptr;
    return 0;
  }
  TesselServiceMsg& m = trap->msg;
  m.type = TESSEL_MSG_TRAP;
  m.agentProg = static_cast<uint32_t>(sendingProg);
  m.agentVers = static_cast<uint32_t>(sendingVers);
  m.priority = mode;
  m.setHost(sendingHost);
  m.setGroup(group);
  return 1;
}

int tessel_build_report(const Tessel_data* datum, int* status) {
  int ok = trap != nullptr && TesselGeneric().putData(datum, &trap->msg);
  if (status != nullptr) *status = ok ? 0 : -1;
  if (!ok) tessel_setError(trap == nullptr ? "no trap started" : "datum cannot be added");
  return ok;
}

int tessel_send_report(struct timeval timeout, void* reserved1, void* reserved2) {
  if (trap == nullptr || reserved1 != nullptr || reserved2 != nullptr) return 0;
  if (timeout.tv_sec == 0 && timeout.tv_usec == 0) timeout.tv_sec = 5;
  Tessel_error reply;
  int ok = trap->caller.send(&trap->msg, timeout, &reply) && reply.status == 0;
  trap->msg.clearData();
  return ok;
}
