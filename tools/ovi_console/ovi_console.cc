// ovi_console: a receiving console.  It serves its rendezvous program (and
// with --event the Event program 100101), optionally subscribes to the local
// qm.event, sends one action request to ovi_sender, and prints the request's
// status and every message it receives as JSON lines.
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "cli.h"
#include "message_json.h"
#include "rpc_server.h"
#include "station_calls.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_rendez.h"

namespace {

const char kProgram[] = "ovi_console";

enum Action { kNone, kRegister, kSync, kDelete };

struct Options {
  std::string daemonHost = "localhost";
  uint64_t prog = 0x20000100;
  uint64_t vers = 1;
  bool event = false;
  bool subscribe = false;
  Action action = kNone;
  std::string filter, db, recvOrx;
  bool hasRecvOrx = false;
  std::string addr = "127.0.0.1";
  uint64_t count = 0;
  uint64_t timeout = 0;
};

uint64_t printed = 0;

void usage(FILE* out) {
  fprintf(out,
          "usage: ovi_console [--daemon HOST] [--prog N] [--vers N] [--event] [--subscribe]\n"
          "                   [--register | --sync | --delete] [--filter FILE] [--db NAME]\n"
          "                   [--recv-orx NAME] [--addr IPV4] [--count N] [--timeout SECONDS]\n"
          "Serves program --prog at versions --vers and 10, sends the action request to\n"
          "ovi_sender on --daemon, and prints its status and every message received as JSON\n"
          "lines until --count messages (0: no limit) or --timeout seconds (0: none).\n");
}

void dispatch(struct svc_req* rq, SVCXPRT* xprt) {
  TesselServiceMsg msg;
  if (!rpc_takeCall(rq, xprt, TESSEL_PROC_MESSAGE, &msg)) return;
  rpc_answerStatus(xprt, 0);
  if (printMessageJson(rq, &msg)) printed++;
}

// Takes one of --register, --sync and --delete; a second, different one is
// a usage error.
int takeAction(Options* o, Action action) {
  if (o->action != kNone && o->action != action) {
    cli_error(kProgram, "give only one of --register, --sync and --delete");
    return CLI_REFUSED;
  }
  o->action = action;
  return CLI_TAKEN;
}

// Parses the options; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options* o) {
  enum { kDaemon = CLI_LONG, kProg, kVers, kEvent, kSubscribe, kReg, kSyn, kDel, kFilter, kDb,
         kRecvOrx, kAddr, kCount, kTimeout };
  auto take = [o](int c, const char* value) -> int {
    struct in_addr a;
    switch (c) {
      case kDaemon: o->daemonHost = value; break;
      case kProg: return cli_parseUnsigned(value, UINT32_MAX, &o->prog);
      case kVers: return cli_parseUnsigned(value, UINT32_MAX, &o->vers);
      case kEvent: o->event = true; break;
      case kSubscribe: o->subscribe = true; break;
      case kReg: return takeAction(o, kRegister);
      case kSyn: return takeAction(o, kSync);
      case kDel: return takeAction(o, kDelete);
      case kFilter: o->filter = value; break;
      case kDb: o->db = value; break;
      case kRecvOrx: o->recvOrx = value; o->hasRecvOrx = true; break;
      case kAddr: o->addr = value; return inet_aton(value, &a) != 0;
      case kCount: return cli_parseUnsigned(value, UINT32_MAX, &o->count);
      case kTimeout: return cli_parseUnsigned(value, 86400 * 365, &o->timeout);
    }
    return CLI_TAKEN;
  };
  int status = cli_getOptions(kProgram, argc, argv, "",
                              "daemon= prog= vers= event subscribe register sync delete filter= "
                              "db= recv-orx= addr= count= timeout=",
                              usage, take);
  if (status >= 0) return status;
  return cli_noOperands(kProgram, argc, argv) ? -1 : 2;
}

// Sends the action request; prints its status line.  Returns 1 when the
// daemon answered.
int sendRequest(const Options& o) {
  static const char* const names[] = {"", "register", "sync", "delete"};
  static const uint32_t flags[] = {0, ACTION_REGISTER, ACTION_SYNC, ACTION_DELETE};
  ActionRequest request;
  request.flags = flags[o.action];
  inet_aton(o.addr.c_str(), &request.addr);
  request.prog = static_cast<uint32_t>(o.prog);
  request.vers = static_cast<uint32_t>(o.vers);
  request.filter = o.filter;
  request.db = o.db;
  if (o.hasRecvOrx) request.receivingOrx = o.recvOrx.c_str();
  TesselServiceMsg msg;
  if (!tools_buildActionRequest(request, &msg)) {
    cli_error(kProgram, "request options too long");
    return 0;
  }
  TesselCaller caller;
  if (!tools_aimCaller(kProgram, o.daemonHost.c_str(), OVI_SENDER_PROG, OVI_SENDER_VERS, &caller))
    return 0;
  Tessel_error reply;
  if (!caller.send(&msg, {25, 0}, &reply)) {
    cli_error(kProgram, "ovi_sender on %s: %s", o.daemonHost.c_str(), tessel_sperror());
    return 0;
  }
  printf("{\"request\":\"%s\",\"status\":%d}\n", names[o.action], reply.status);
  fflush(stdout);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int status = parseOptions(argc, argv, &o); status >= 0) return status;
  cli_catchStopSignals();
  RpcServer server;
  // Status traps always come to version 10 of the rendezvous program.
  if (!server.serveConsole(o.prog, o.vers, o.event, dispatch)) {
    cli_error(kProgram, "%s", tessel_sperror());
    return 1;
  }
  struct timeval subscribeTimeout = {10, 0};
  if (o.subscribe && !tessel_register_rendez("localhost", "", o.prog, o.vers, 0, 1,
                                             &subscribeTimeout)) {
    cli_error(kProgram, "cannot subscribe: %s", tessel_sperror());
    return 1;
  }
  int result = 0;
  if (o.action != kNone && !sendRequest(o)) result = 1;
  if (result == 0)
    server.run(static_cast<double>(o.timeout), [&o] { return o.count > 0 && printed >= o.count; });
  if (o.subscribe) tessel_unregister_rendez("localhost", "", o.prog, o.vers, 0, 1, subscribeTimeout);
  return result;
}
