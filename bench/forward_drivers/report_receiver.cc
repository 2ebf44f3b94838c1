// bench_report_receiver: the consoles of the forwarding benchmark, in one
// process.  Console i serves its rendezvous program P+i at versions V+i and
// 10 and the Event program 100101 at version V+i, registers with ovi_sender,
// and counts the reports it receives in a counters file that the sender
// maps (bench_common.h).  It decodes every message, as a console does, but
// prints nothing.
//
//   bench_report_receiver --counters FILE --consoles N --daemon HOST
//                         [--addr IPV4] [--prog P] [--vers V] [--filter FILE]
//                         [--db NAME] [--timeout S]
//
// A report counts for the run whose number its key field carries
// ("bench-RUN").  Sets the counters' ready flag once every console's status
// trap said "succeeded" (2 with the reason on failure); runs until SIGTERM,
// SIGINT or the counters' stop flag.
#include <arpa/inet.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "bench_common.h"
#include "bench_report.h"
#include "cli.h"
#include "rpc_server.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_xdr.h"

namespace {

const char kProgram[] = "bench_report_receiver";
const unsigned long kAgentProg = 100139, kAgentVers = 10;

BenchCounters* counters = nullptr;
unsigned long progBase = 0x20000200, versBase = 100;
unsigned consoles = 1;
bool registered[BENCH_MAX_CONSOLES];

// The console a call is for; -1 when none.
int consoleOf(const struct svc_req* rq) {
  unsigned long i = rq->rq_prog == QM_EVENT_PROG ? rq->rq_vers - versBase : rq->rq_prog - progBase;
  return i < consoles ? static_cast<int>(i) : -1;
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

void dispatch(struct svc_req* rq, SVCXPRT* xprt) {
  if (rq->rq_proc == NULLPROC) {
    svc_sendreply(xprt, (xdrproc_t)tessel_xdrVoid, nullptr);
    return;
  }
  TesselServiceMsg msg;
  if (!rpc_takeMessage(xprt, &msg)) return;
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

int putWord(TesselServiceMsg* msg, const char* name, uint32_t type, uint32_t word) {
  Tessel_data d;
  memset(&d, 0, sizeof d);
  snprintf(d.name, sizeof d.name, "%s", name);
  d.type = type;
  d.length = 4;
  d.value = &word;
  return TesselGeneric().putData(&d, msg);
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

// Sends console i's register request; 1 when the daemon accepted it.
int registerConsole(TesselCaller* daemon, struct in_addr addr, unsigned i,
                    const std::string& filter, const std::string& db) {
  TesselServiceMsg msg;
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  msg.type = TESSEL_MSG_ACTION;
  msg.flags = 0x80;
  msg.setHost(host);
  bool ok = msg.clearData() && putWord(&msg, "tessel_rendez_addr", TESSEL_IPADDR, addr.s_addr) &&
            putWord(&msg, "tessel_rendez_prog", TESSEL_UINT, progBase + i) &&
            putWord(&msg, "tessel_rendez_vers", TESSEL_UINT, versBase + i) &&
            putText(&msg, "vant_filter_file", filter) && putText(&msg, "vant_orx_name", db) &&
            putText(&msg, "receiving_orx", "bench" + std::to_string(i));
  Tessel_error reply;
  if (!ok || !daemon->send(&msg, {25, 0}, &reply)) {
    cli_error(kProgram, "register console %u: %s", i, tessel_sperror());
    return 0;
  }
  if (reply.status != 0) {
    cli_error(kProgram, "register console %u: status %d %s", i, reply.status, reply.message);
    return 0;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string countersPath, daemonHost = "localhost", addrText = "127.0.0.1";
  std::string filter = "bench.filter", db = "office";
  double timeout = 60;
  uint64_t n;
  static const struct option options[] = {{"counters", required_argument, nullptr, 'c'},
                                          {"consoles", required_argument, nullptr, 'n'},
                                          {"daemon", required_argument, nullptr, 'd'},
                                          {"addr", required_argument, nullptr, 'a'},
                                          {"prog", required_argument, nullptr, 'p'},
                                          {"vers", required_argument, nullptr, 'v'},
                                          {"filter", required_argument, nullptr, 'f'},
                                          {"db", required_argument, nullptr, 'b'},
                                          {"timeout", required_argument, nullptr, 't'},
                                          {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "", options, nullptr)) != -1) {
    bool ok = true;
    switch (c) {
      case 'c': countersPath = optarg; break;
      case 'n':
        ok = cli_parseUnsigned(optarg, BENCH_MAX_CONSOLES, &n) && n > 0;
        consoles = static_cast<unsigned>(n);
        break;
      case 'd': daemonHost = optarg; break;
      case 'a': addrText = optarg; break;
      case 'p': ok = cli_parseUnsigned(optarg, UINT32_MAX, &n); progBase = n; break;
      case 'v': ok = cli_parseUnsigned(optarg, UINT32_MAX, &n) && n > 10; versBase = n; break;
      case 'f': filter = optarg; break;
      case 'b': db = optarg; break;
      case 't': timeout = atof(optarg); break;
      default: ok = false;
    }
    if (!ok) {
      cli_error(kProgram, "bad option");
      return 2;
    }
  }
  struct in_addr addr, daemonAddr;
  if (countersPath.empty() || !inet_aton(addrText.c_str(), &addr)) {
    fprintf(stderr, "usage: %s --counters FILE --consoles N --daemon HOST [--addr IPV4] "
                    "[--prog P] [--vers V] [--filter FILE] [--db NAME] [--timeout S]\n", kProgram);
    return 2;
  }
  cli_catchStopSignals();
  counters = bench_mapCounters(countersPath.c_str(), true);
  if (counters == nullptr) return 1;
  counters->consoles = consoles;

  RpcServer server;
  for (unsigned i = 0; i < consoles; i++) {
    if (!server.serve(progBase + i, versBase + i, dispatch) ||
        !server.serve(progBase + i, 10, dispatch) ||
        !server.serve(QM_EVENT_PROG, versBase + i, dispatch)) {
      snprintf(counters->failure, sizeof counters->failure, "%s", tessel_sperror());
      counters->ready.store(2);
      cli_error(kProgram, "%s", tessel_sperror());
      return 1;
    }
  }
  if (!tessel_resolve(daemonHost.c_str(), &daemonAddr)) {
    cli_error(kProgram, "%s", tessel_sperror());
    return 1;
  }
  TesselCaller daemon;
  daemon.setDestination(daemonAddr, kAgentProg, kAgentVers, {10, 0});
  for (unsigned i = 0; i < consoles; i++) {
    if (!registerConsole(&daemon, addr, i, filter, db)) {
      snprintf(counters->failure, sizeof counters->failure, "register request %u refused", i);
      counters->ready.store(2);
      return 1;
    }
    // Serve this console's status trap before the next request, so that the
    // daemon's status-trap children never wait on each other.
    double start = bench_now();
    server.run(0, [&] {
      return registered[i] || counters->ready.load() == 2 || bench_now() - start > timeout;
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
