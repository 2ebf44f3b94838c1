// ovi_console: a receiving console.  It serves its rendezvous program (and
// with --event the Event program 100101), optionally subscribes to the local
// qm.event, sends one action request to ovi_sender, and prints the request's
// status and every message it receives as JSON lines.
#include <arpa/inet.h>
#include <getopt.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "cli.h"
#include "message_json.h"
#include "rpc_server.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_xdr.h"

namespace {

const char kProgram[] = "ovi_console";
const unsigned long kAgentProg = 100139, kAgentVers = 10;

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
  if (rq->rq_proc == NULLPROC) {
    svc_sendreply(xprt, (xdrproc_t)tessel_xdrVoid, nullptr);
    return;
  }
  if (rq->rq_proc != TESSEL_PROC_MESSAGE) {
    svcerr_noproc(xprt);
    return;
  }
  TesselServiceMsg msg;
  if (!rpc_takeMessage(xprt, &msg)) return;
  rpc_answerStatus(xprt, 0);
  std::string line;
  if (messageJson(rq->rq_prog, rq->rq_vers, rq->rq_proc, &msg, &line)) {
    printf("%s\n", line.c_str());
    fflush(stdout);
    printed++;
  }
}

int parseOptions(int argc, char** argv, Options* o) {
  enum { kDaemon = 256, kProg, kVers, kEvent, kSubscribe, kReg, kSyn, kDel, kFilter, kDb,
         kRecvOrx, kAddr, kCount, kTimeout };
  static const struct option options[] = {
      {"daemon", required_argument, nullptr, kDaemon},
      {"prog", required_argument, nullptr, kProg},
      {"vers", required_argument, nullptr, kVers},
      {"event", no_argument, nullptr, kEvent},
      {"subscribe", no_argument, nullptr, kSubscribe},
      {"register", no_argument, nullptr, kReg},
      {"sync", no_argument, nullptr, kSyn},
      {"delete", no_argument, nullptr, kDel},
      {"filter", required_argument, nullptr, kFilter},
      {"db", required_argument, nullptr, kDb},
      {"recv-orx", required_argument, nullptr, kRecvOrx},
      {"addr", required_argument, nullptr, kAddr},
      {"count", required_argument, nullptr, kCount},
      {"timeout", required_argument, nullptr, kTimeout},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, cli_quietOptions("h"), options, nullptr)) != -1) {
    bool ok = true;
    Action action = kNone;
    switch (c) {
      case kDaemon: o->daemonHost = optarg; break;
      case kProg: ok = cli_parseUnsigned(optarg, UINT32_MAX, &o->prog); break;
      case kVers: ok = cli_parseUnsigned(optarg, UINT32_MAX, &o->vers); break;
      case kEvent: o->event = true; break;
      case kSubscribe: o->subscribe = true; break;
      case kReg: action = kRegister; break;
      case kSyn: action = kSync; break;
      case kDel: action = kDelete; break;
      case kFilter: o->filter = optarg; break;
      case kDb: o->db = optarg; break;
      case kRecvOrx: o->recvOrx = optarg; o->hasRecvOrx = true; break;
      case kAddr: {
        struct in_addr a;
        ok = inet_aton(optarg, &a) != 0;
        o->addr = optarg;
        break;
      }
      case kCount: ok = cli_parseUnsigned(optarg, UINT32_MAX, &o->count); break;
      case kTimeout: ok = cli_parseUnsigned(optarg, 86400 * 365, &o->timeout); break;
      case 'h': usage(stdout); return 0;
      default: cli_optionError(kProgram, c, argv); return 2;
    }
    if (!ok) {
      cli_error(kProgram, "bad value for --%s: %s", options[c - kDaemon].name, optarg);
      return 2;
    }
    if (action != kNone) {
      if (o->action != kNone && o->action != action) {
        cli_error(kProgram, "give only one of --register, --sync and --delete");
        return 2;
      }
      o->action = action;
    }
  }
  if (optind != argc) {
    cli_error(kProgram, "unexpected argument %s (see --help)", argv[optind]);
    return 2;
  }
  return -1;
}

int putText(TesselServiceMsg* msg, const char* name, const std::string& text) {
  Tessel_data d;
  memset(&d, 0, sizeof d);
  snprintf(d.name, sizeof d.name, "%s", name);
  d.type = TESSEL_STRING;
  d.length = static_cast<uint32_t>(text.size());
  d.value = const_cast<char*>(text.data());
  return TesselGeneric().putData(&d, msg);
}

int putWord(TesselServiceMsg* msg, const char* name, uint32_t type, uint32_t word) {
  Tessel_data d;
  memset(&d, 0, sizeof d);
  snprintf(d.name, sizeof d.name, "%s", name);
  d.type = type;
  d.length = 4;
  d.value = &word;
  return TesselGeneric().putData(&d, msg);
}

// Sends the action request; prints its status line.  Returns 1 when the
// daemon answered.
int sendRequest(const Options& o) {
  static const char* const names[] = {"", "register", "sync", "delete"};
  static const uint32_t flags[] = {0, 0x80, 0x200, 0x100};
  TesselServiceMsg msg;
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  msg.type = TESSEL_MSG_ACTION;
  msg.flags = flags[o.action];
  msg.setHost(host);
  struct in_addr addr;
  inet_aton(o.addr.c_str(), &addr);
  bool ok = msg.clearData() && putWord(&msg, "tessel_rendez_addr", TESSEL_IPADDR, addr.s_addr) &&
            putWord(&msg, "tessel_rendez_prog", TESSEL_UINT, static_cast<uint32_t>(o.prog)) &&
            putWord(&msg, "tessel_rendez_vers", TESSEL_UINT, static_cast<uint32_t>(o.vers)) &&
            putText(&msg, "vant_filter_file", o.filter) && putText(&msg, "vant_orx_name", o.db) &&
            (!o.hasRecvOrx || putText(&msg, "receiving_orx", o.recvOrx));
  if (!ok) {
    cli_error(kProgram, "request options too long");
    return 0;
  }
  struct in_addr daemonAddr;
  if (!tessel_resolve(o.daemonHost.c_str(), &daemonAddr)) {
    cli_error(kProgram, "%s", tessel_sperror());
    return 0;
  }
  TesselCaller caller;
  caller.setDestination(daemonAddr, kAgentProg, kAgentVers, {10, 0});
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
  int status = parseOptions(argc, argv, &o);
  if (status >= 0) return status;
  cli_catchStopSignals();
  RpcServer server;
  // Status traps always come to version 10 of the rendezvous program.
  if (!server.serve(o.prog, o.vers, dispatch) ||
      (o.vers != 10 && !server.serve(o.prog, 10, dispatch)) ||
      (o.event && !server.serve(QM_EVENT_PROG, o.vers, dispatch))) {
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
