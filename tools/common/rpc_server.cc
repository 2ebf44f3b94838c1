#include "rpc_server.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <rpc/rpc_com.h>
#include <sys/select.h>
#include <time.h>

#include "cli.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_codec.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_xdr.h"

void rpc_answerNull(SVCXPRT* xprt) { svc_sendreply(xprt, (xdrproc_t)tessel_xdrVoid, nullptr); }

int rpc_takeMessage(SVCXPRT* xprt, TesselServiceMsg* msg) {
  if (svc_getargs(xprt, (xdrproc_t)_tessel_serialMsg, (char*)msg)) return 1;
  svcerr_decode(xprt);
  return 0;
}

int rpc_takeCall(const struct svc_req* rq, SVCXPRT* xprt, unsigned long proc,
                 TesselServiceMsg* msg) {
  if (rq->rq_proc == NULLPROC)
    rpc_answerNull(xprt);
  else if (proc != 0 && rq->rq_proc != proc)
    svcerr_noproc(xprt);
  else
    return rpc_takeMessage(xprt, msg);
  return 0;
}

void rpc_answerStatus(SVCXPRT* xprt, int status, const char* text) {
  Tessel_error answer;
  memset(&answer, 0, sizeof answer);
  answer.status = status;
  snprintf(answer.message, sizeof answer.message, "%s", text);
  svc_sendreply(xprt, (xdrproc_t)_tessel_xdrStatus, (char*)&answer);
}

RpcServer::RpcServer() : udp_(nullptr), tcp_(nullptr), started_(cli_now()) {}

RpcServer::~RpcServer() {
  for (const auto& pv : registered_) svc_unregister(pv.first, pv.second);
  if (udp_ != nullptr) svc_destroy(udp_);
  if (tcp_ != nullptr) svc_destroy(tcp_);
}

void RpcServer::adopt(SVCXPRT* udp, SVCXPRT* tcp) {
  udp_ = udp;
  tcp_ = tcp;
}

int RpcServer::serve(unsigned long program, unsigned long version, rpc_dispatch_fn dispatch) {
  if (udp_ == nullptr) {
    // Read TCP requests without blocking, whole records at a time.
    int maxrec = TESSEL_MAX_ARGLIST + 64 * 1024;
    rpc_control(RPC_SVC_CONNMAXREC_SET, &maxrec);
    udp_ = svcudp_bufcreate(RPC_ANYSOCK, TESSEL_UDP_BUFSIZE, TESSEL_UDP_BUFSIZE);
    tcp_ = svctcp_create(RPC_ANYSOCK, 0, 0);
    if (udp_ == nullptr || tcp_ == nullptr) {
      tessel_setError("cannot create the RPC transports");
      return 0;
    }
  }
  if (!tessel_claimProgram(program, version)) return 0;
  if (!svc_register(udp_, program, version, dispatch, IPPROTO_UDP) ||
      (tcp_ != nullptr && !svc_register(tcp_, program, version, dispatch, IPPROTO_TCP))) {
    svc_unregister(program, version);
    tessel_setError("cannot register program %lu version %lu with rpcbind (is rpcbind running?)",
                    program, version);
    return 0;
  }
  registered_.emplace_back(program, version);
  return 1;
}

int RpcServer::serveConsole(unsigned long program, unsigned long version, bool event,
                            rpc_dispatch_fn dispatch) {
  return serve(program, version, dispatch) &&
         (version == 10 || serve(program, 10, dispatch)) &&
         (!event || serve(QM_EVENT_PROG, version, dispatch));
}

bool RpcServer::pollOnce(double timeoutSeconds) {
  double wait = 0.25;
  if (timeoutSeconds > 0) {
    double left = started_ + timeoutSeconds - cli_now();
    if (left <= 0) return false;
    if (left < wait) wait = left;
  }
  fd_set ready = svc_fdset;
  struct timeval tv = {static_cast<time_t>(wait), static_cast<suseconds_t>((wait - (long)wait) * 1e6)};
  int n = select(FD_SETSIZE, &ready, nullptr, nullptr, &tv);
  if (n > 0) svc_getreqset(&ready);
  return true;
}
