// bench_report_receiver: the consoles of the forwarding benchmark, in one
// process.  Console i serves its rendezvous program P+i at versions V+i and
// 10 and the Event program 100101 at version V+i, registers with ovi_sender,
// and counts the reports it receives in a counters file that the sender
// maps (bench_common.h).  It decodes every message, as a console does, but
// prints nothing.
//
//   bench_report_receiver --counters FILE [--consoles N] [--daemon HOST]
//                         [--addr IPV4] [--prog P] [--vers V] [--filter FILE]
//                         [--db NAME] [--timeout S]
// (one console, ovi_sender on localhost, unless told)
//
// A report counts for the run whose number its key field carries
// ("bench-RUN").  Sets the counters' ready flag once every console's status
// trap said "succeeded" (2 with the reason on failure); runs until SIGTERM,
// SIGINT or the counters' stop flag.
#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "bench_common.h"
#include "bench_report.h"
#include "cli.h"
#include "rpc_server.h"
#include "station_calls.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_rendez.h"

namespace {

const char kProgram[] = "bench_report_receiver";

// The command line, which dispatch reads too.
struct Options {
  std::string countersPath, daemonHost = "localhost";
  struct in_addr addr = {htonl(INADDR_LOOPBACK)};
  uint64_t progBase = 0x20000200, versBase = 100;
  uint64_t consoles = 1;
  std::string filter = "bench.filter", db = "office";
  double timeout = 60;
} options;

BenchCounters* counters = nullptr;
bool registered[BENCH_MAX_CONSOLES];

// The console a call is for; -1 when none.
int consoleOf(const struct svc_req* rq) {
  uint64_t i = rq->rq_prog == QM_EVENT_PROG ? rq->rq_vers - options.versBase
                                            : rq->rq_prog - options.progBase;
  return i < options.consoles ? static_cast<int>(i) : -1;
}

void statusTrap(int console, TesselServiceMsg* msg) {
  Tessel_event status, reason;
  if (!tessel_msgFindDatum(msg, "vant_register_status", &status)) return;
  std::string said(static_cast<const char*>(status.value), status.length);
  if (said == "succeeded") {
    if (!registered[console]) counters->statusTraps.fetch_add(1);
    registered[console] = true;
    return;
  }
  std::string why = tessel_msgFindDatum(msg, "vant_register_reason", &reason)
                        ? std::string(static_cast<const char*>(reason.value), reason.length)
                        : said;
  snprintf(counters->failure, sizeof counters->failure, "console %d: %s", console, why.c_str());
  counters->ready.store(2);
}

// Every procedure but NULL carries a message, as at test_receiver.
void dispatch(struct svc_req* rq, SVCXPRT* xprt) {
  TesselServiceMsg msg;
  if (!rpc_takeCall(rq, xprt, 0, &msg)) return;
  int console = consoleOf(rq);
  if (console >= 0 && rq->rq_prog != QM_EVENT_PROG && rq->rq_vers == 10) {
    statusTrap(console, &msg);
  } else if (console >= 0) {
    uint64_t now = bench_nowNs();
    counters->anyNs.store(now);
    uint32_t run = bench_runOfKey(msg.key);
    if (run != 0 && run == counters->run.load()) {
      if (counters->received[console].fetch_add(1) == 0) counters->firstNs[console].store(now);
      counters->lastNs[console].store(now);
    } else {
      counters->stale.fetch_add(1);
    }
  }
  rpc_answerStatus(xprt, 0);
}

// Sends console i's register request; 1 when the daemon accepted it.
int registerConsole(TesselCaller* daemon, unsigned i) {
  ActionRequest request;
  request.addr = options.addr;
  request.prog = static_cast<uint32_t>(options.progBase + i);
  request.vers = static_cast<uint32_t>(options.versBase + i);
  request.filter = options.filter;
  request.db = options.db;
  std::string receivingOrx = "bench" + std::to_string(i);
  request.receivingOrx = receivingOrx.c_str();
  TesselServiceMsg msg;
  Tessel_error reply;
  if (!tools_buildActionRequest(request, &msg) || !daemon->send(&msg, {25, 0}, &reply)) {
    cli_error(kProgram, "register console %u: %s", i, tessel_sperror());
    return 0;
  }
  if (reply.status != 0) {
    cli_error(kProgram, "register console %u: status %d %s", i, reply.status, reply.message);
    return 0;
  }
  return 1;
}

void usage(FILE* out) {
  fprintf(out,
          "usage: %s --counters FILE [--consoles N] [--daemon HOST] [--addr IPV4]\n"
          "       [--prog P] [--vers V] [--filter FILE] [--db NAME] [--timeout S]\n"
          "Serves N consoles (1), registers them with ovi_sender on --daemon (localhost)\n"
          "and counts the reports they receive in the counters file, until the sender\n"
          "says stop.\n",
          kProgram);
}

// Reads the command line; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv) {
  enum { kCounters = CLI_LONG, kConsoles, kDaemon, kAddr, kProg, kVers, kFilter, kDb, kTimeout };
  auto take = [](int c, const char* value) -> int {
    Options& o = options;
    switch (c) {
      case kCounters: o.countersPath = value; break;
      case kConsoles:
        return cli_parseUnsigned(value, BENCH_MAX_CONSOLES, &o.consoles) && o.consoles > 0;
      case kDaemon: o.daemonHost = value; break;
      case kAddr: return inet_aton(value, &o.addr) != 0;
      case kProg: return cli_parseUnsigned(value, UINT32_MAX, &o.progBase);
      case kVers: return cli_parseUnsigned(value, UINT32_MAX, &o.versBase) && o.versBase > 10;
      case kFilter: o.filter = value; break;
      case kDb: o.db = value; break;
      case kTimeout: o.timeout = atof(value); break;
    }
    return CLI_TAKEN;
  };
  int status = cli_getOptions(kProgram, argc, argv, "",
                              "counters= consoles= daemon= addr= prog= vers= filter= db= timeout=",
                              usage, take);
  if (status < 0 && !cli_needed(kProgram, !options.countersPath.empty(), "--counters FILE"))
    return 2;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (int status = parseOptions(argc, argv); status >= 0) return status;
  cli_catchStopSignals();
  counters = bench_mapCounters(options.countersPath.c_str(), true);
  if (counters == nullptr) return 1;
  const unsigned consoles = static_cast<unsigned>(options.consoles);
  counters->consoles = consoles;

  RpcServer server;
  for (unsigned i = 0; i < consoles; i++) {
    if (!server.serveConsole(options.progBase + i, options.versBase + i, true, dispatch)) {
      snprintf(counters->failure, sizeof counters->failure, "%s", tessel_sperror());
      counters->ready.store(2);
      cli_error(kProgram, "%s", tessel_sperror());
      return 1;
    }
  }
  TesselCaller daemon;
  if (!tools_aimCaller(kProgram, options.daemonHost.c_str(), OVI_SENDER_PROG, OVI_SENDER_VERS,
                       &daemon))
    return 1;
  for (unsigned i = 0; i < consoles; i++) {
    if (!registerConsole(&daemon, i)) {
      snprintf(counters->failure, sizeof counters->failure, "register request %u refused", i);
      counters->ready.store(2);
      return 1;
    }
    // Serve this console's status trap before the next request, so that the
    // daemon's status-trap children never wait on each other.
    double start = cli_now();
    server.run(0, [&] {
      return registered[i] || counters->ready.load() == 2 || cli_now() - start > options.timeout;
    });
    if (!registered[i]) {
      if (counters->ready.load() != 2) {
        snprintf(counters->failure, sizeof counters->failure, "no status trap for console %u", i);
        counters->ready.store(2);
      }
      cli_error(kProgram, "%s", counters->failure);
      return 1;
    }
  }
  counters->ready.store(1);
  server.run(0, [] { return counters->stop.load() != 0; });
  return 0;
}
