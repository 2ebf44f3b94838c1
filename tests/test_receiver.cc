// test_receiver: a receiving console with faults, for end-to-end tests of
// delivery.
//
//   test_receiver --prog N --vers N [--udp-only] [--silent] [--stall-tcp-after N]
//
// Serves the program at the version and at 10, and the Event program 100101
// at the version.  Prints each message it receives as ovi_console does.
// --udp-only serves no TCP; --silent takes every call and never answers;
// --stall-tcp-after N stops reading the first TCP connection that has
// carried N messages (later connections are served), with receive buffers
// kept small so that its sender soon blocks.  Prints "ready" once it serves; ends on SIGTERM.
#include <getopt.h>
#include <rpc/pmap_clnt.h>
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <stdio.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "cli.h"
#include "message_json.h"
#include "rpc_server.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_xdr.h"

namespace {

bool silent = false;
uint64_t stallAfter = 0;  // 0: never
SVCXPRT* udp = nullptr;
// The connection no longer read, and the messages each TCP connection carried.
int stalled = -1;
std::map<int, uint64_t> carried;

// A listening socket whose connections keep small receive buffers.
int smallBufferSocket() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  int size = 4096;
  if (s >= 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return s;
}

void dispatch(struct svc_req* rq, SVCXPRT* xprt) {
  if (rq->rq_proc == NULLPROC) {
    svc_sendreply(xprt, (xdrproc_t)tessel_xdrVoid, nullptr);
    return;
  }
  TesselServiceMsg msg;
  if (!rpc_takeMessage(xprt, &msg)) return;
  std::string line;
  if (messageJson(rq->rq_prog, rq->rq_vers, rq->rq_proc, &msg, &line)) {
    printf("%s\n", line.c_str());
    fflush(stdout);
  }
  if (!silent) rpc_answerStatus(xprt, 0);
  if (stallAfter != 0 && stalled < 0 && xprt != udp && ++carried[xprt->xp_fd] >= stallAfter)
    stalled = xprt->xp_fd;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t prog = 0, vers = 1;
  bool udpOnly = false;
  static const struct option options[] = {{"prog", required_argument, nullptr, 'p'},
                                          {"vers", required_argument, nullptr, 'v'},
                                          {"udp-only", no_argument, nullptr, 'u'},
                                          {"silent", no_argument, nullptr, 's'},
                                          {"stall-tcp-after", required_argument, nullptr, 't'},
                                          {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "", options, nullptr)) != -1) {
    bool ok = true;
    if (c == 'p') ok = cli_parseUnsigned(optarg, UINT32_MAX, &prog);
    else if (c == 'v') ok = cli_parseUnsigned(optarg, UINT32_MAX, &vers);
    else if (c == 'u') udpOnly = true;
    else if (c == 's') silent = true;
    else if (c == 't') ok = cli_parseUnsigned(optarg, UINT32_MAX, &stallAfter) && stallAfter > 0;
    else ok = false;
    if (!ok) return 2;
  }
  cli_catchStopSignals();
  udp = svcudp_bufcreate(RPC_ANYSOCK, TESSEL_UDP_BUFSIZE, TESSEL_UDP_BUFSIZE);
  SVCXPRT* tcp =
      udpOnly ? nullptr : svctcp_create(stallAfter != 0 ? smallBufferSocket() : RPC_ANYSOCK, 0, 0);
  std::vector<std::pair<unsigned long, unsigned long>> programs = {
      {prog, vers}, {prog, 10}, {100101, vers}};
  for (auto& pv : programs) {
    if (!tessel_claimProgram(pv.first, pv.second) ||
        !svc_register(udp, pv.first, pv.second, dispatch, IPPROTO_UDP) ||
        (tcp != nullptr && !svc_register(tcp, pv.first, pv.second, dispatch, IPPROTO_TCP))) {
      fprintf(stderr, "test_receiver: cannot register %lu %lu\n", pv.first, pv.second);
      return 1;
    }
  }
  printf("ready\n");
  fflush(stdout);
  while (!cli_stopRequested) {
    fd_set ready = svc_fdset;
    if (stalled >= 0) FD_CLR(stalled, &ready);
    struct timeval tv = {0, 200000};
    if (select(FD_SETSIZE, &ready, nullptr, nullptr, &tv) > 0) svc_getreqset(&ready);
  }
  for (auto& pv : programs) svc_unregister(pv.first, pv.second);
  return 0;
}
