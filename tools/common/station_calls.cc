#include "station_calls.h"

#include <unistd.h>

#include "cli.h"
#include "datum.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_types.h"

int tools_buildActionRequest(const ActionRequest& request, TesselServiceMsg* msg) {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  msg->type = TESSEL_MSG_ACTION;
  msg->flags = request.flags;
  msg->setHost(host);
  return msg->clearData() &&
         tools_putWord(msg, "tessel_rendez_addr", TESSEL_IPADDR, request.addr.s_addr) &&
         tools_putWord(msg, "tessel_rendez_prog", TESSEL_UINT, request.prog) &&
         tools_putWord(msg, "tessel_rendez_vers", TESSEL_UINT, request.vers) &&
         tools_putText(msg, "vant_filter_file", request.filter) &&
         tools_putText(msg, "vant_orx_name", request.db) &&
         (request.receivingOrx == nullptr ||
          tools_putText(msg, "receiving_orx", request.receivingOrx));
}

int tools_resolve(const char* program, const char* host, struct in_addr* addr) {
  if (tessel_resolve(host, addr)) return 1;
  cli_error(program, "%s", tessel_sperror());
  return 0;
}

int tools_aimCaller(const char* program, const char* host, unsigned long prog,
                    unsigned long vers, TesselCaller* caller) {
  struct in_addr addr;
  if (!tools_resolve(program, host, &addr)) return 0;
  caller->setDestination(addr, prog, vers, {10, 0});
  return 1;
}
