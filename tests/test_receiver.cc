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
#include <netinet/in.h>
#include <rpc/rpc.h>
#include <sys/socket.h>
#include <stdio.h>

#include <map>
#include <string>

#include "cli.h"
#include "message_json.h"
#include "rpc_server.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_error.h"

namespace {

const char kProgram[] = "test_receiver";

// The command line, which dispatch reads too.
struct Options {
  uint64_t prog = 0, vers = 1;
  bool udpOnly = false;
  bool silent = false;
  uint64_t stallAfter = 0;  // 0: never
} options;

SVCXPRT* udp = nullptr;
// The connection no longer read, and the messages each TCP connection carried.
int stalled = -1;
std::map<int, uint64_t> carried;

void usage(FILE* out) {
  fprintf(out,
          "usage: test_receiver --prog N --vers N [--udp-only] [--silent] [--stall-tcp-after N]\n"
          "Serves program --prog at --vers and 10 and program 100101 at --vers, and prints\n"
          "every message it receives as ovi_console does, until SIGTERM.\n");
}

// The socket TCP is served on: any, or with --stall-tcp-after one whose
// connections keep small receive buffers.
int tcpSocket() {
  if (options.stallAfter == 0) return RPC_ANYSOCK;
  int s = socket(AF_INET, SOCK_STREAM, 0);
  int size = 4096;
  if (s >= 0) setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return s;
}

// Every procedure but NULL carries a message: the tests see what is sent.
void dispatch(struct svc_req* rq, SVCXPRT* xprt) {
  TesselServiceMsg msg;
  if (!rpc_takeCall(rq, xprt, 0, &msg)) return;
  printMessageJson(rq, &msg);
  if (!options.silent) rpc_answerStatus(xprt, 0);
  if (options.stallAfter != 0 && stalled < 0 && xprt != udp &&
      ++carried[xprt->xp_fd] >= options.stallAfter)
    stalled = xprt->xp_fd;
}

int parseOptions(int argc, char** argv) {
  enum { kProg = CLI_LONG, kVers, kUdpOnly, kSilent, kStall };
  auto take = [](int c, const char* value) -> int {
    switch (c) {
      case kProg: return cli_parseUnsigned(value, UINT32_MAX, &options.prog);
      case kVers: return cli_parseUnsigned(value, UINT32_MAX, &options.vers);
      case kUdpOnly: options.udpOnly = true; break;
      case kSilent: options.silent = true; break;
      case kStall:
        return cli_parseUnsigned(value, UINT32_MAX, &options.stallAfter) && options.stallAfter > 0;
    }
    return CLI_TAKEN;
  };
  return cli_getOptions(kProgram, argc, argv, "", "prog= vers= udp-only silent stall-tcp-after=",
                        usage, take);
}

// Serves until SIGTERM, leaving the stalled connection unread.
void serveUntilStopped() {
  while (!cli_stopRequested) {
    fd_set ready = svc_fdset;
    if (stalled >= 0) FD_CLR(stalled, &ready);
    struct timeval tv = {0, 200000};
    if (select(FD_SETSIZE, &ready, nullptr, nullptr, &tv) > 0) svc_getreqset(&ready);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (int status = parseOptions(argc, argv); status >= 0) return status;
  cli_catchStopSignals();
  udp = svcudp_bufcreate(RPC_ANYSOCK, TESSEL_UDP_BUFSIZE, TESSEL_UDP_BUFSIZE);
  SVCXPRT* tcp = options.udpOnly ? nullptr : svctcp_create(tcpSocket(), 0, 0);
  if (udp == nullptr || (!options.udpOnly && tcp == nullptr)) {
    cli_error(kProgram, "cannot create the RPC transports");
    return 1;
  }
  RpcServer server;
  server.adopt(udp, tcp);
  if (!server.serveConsole(options.prog, options.vers, true, dispatch)) {
    cli_error(kProgram, "%s", tessel_sperror());
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  serveUntilStopped();
  return 0;
}
