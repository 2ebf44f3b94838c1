#include "tessel/tessel_call.h"

#include <string.h>

#include "tessel/tessel_error.h"
#include "tessel/tessel_trap.h"
#include "tessel/tessel_xdr.h"

TesselCaller::TesselCaller()
    : addr_(), program_(0), version_(0), createTimeout_{5, 0}, lastStat_(RPC_SUCCESS) {}

void TesselCaller::setDestination(struct in_addr addr, unsigned long program,
                                  unsigned long version, struct timeval createTimeout) {
  udp_.destroyClient();
  tcp_.destroyClient();
  addr_ = addr;
  program_ = program;
  version_ = version;
  createTimeout_ = createTimeout;
}

int TesselCaller::open(struct in_addr addr, unsigned long program, unsigned long version,
                       struct timeval createTimeout) {
  setDestination(addr, program, version, createTimeout);
  return clientFor(TESSEL_PROTO_UDP) != nullptr;
}

TesselClient* TesselCaller::clientFor(int protocol) {
  TesselClient* client = protocol == TESSEL_PROTO_UDP ? &udp_ : &tcp_;
  if (client->handle() != nullptr) return client;
  if (client->getClient(addr_, protocol, program_, version_, 0, createTimeout_)) return client;
  lastStat_ = rpc_createerr.cf_stat;
  tessel_setError("cannot reach program %lu version %lu over %s: %s", program_, version_,
                  protocol == TESSEL_PROTO_UDP ? "UDP" : "TCP", clnt_spcreateerror(""));
  return nullptr;
}

int TesselCaller::send(TesselServiceMsg* msg, struct timeval timeout, Tessel_error* reply,
                       int protocol) {
  if (protocol == 0)
    protocol = msg->arglistLength <= TESSEL_UDP_LIMIT ? TESSEL_PROTO_UDP : TESSEL_PROTO_TCP;
  TesselClient* client = clientFor(protocol);
  if (client == nullptr) return 0;
  memset(reply, 0, sizeof *reply);
  if (protocol == TESSEL_PROTO_UDP) clnt_control(client->handle(), CLSET_RETRY_TIMEOUT, (char*)&timeout);
  lastStat_ = clnt_call(client->handle(), TESSEL_PROC_MESSAGE, (xdrproc_t)_tessel_serialMsg,
                        (char*)msg, (xdrproc_t)_tessel_xdrStatus, (char*)reply, timeout);
  if (lastStat_ == RPC_SUCCESS) return 1;
  tessel_setError("%s", clnt_sperror(client->handle(), "call failed"));
  if (lastStat_ != RPC_TIMEDOUT) client->destroyClient();
  return 0;
}
