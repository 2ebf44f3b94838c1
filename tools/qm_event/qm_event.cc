// qm.event: the station's event dispatcher.
//
// Serves program 100101 version 10 over UDP and TCP.  A report sent to it by
// procedure 1 is handed to every subscriber (procedure 1 of the subscriber's
// program and version on its host, over TCP) before the sender gets its
// answer, so a sender that waits for each answer never outruns the
// subscribers.  A subscriber is given a bounded time per report and is
// dropped after it has failed several reports in a row.
//
// The subscribers are kept in a file (subscription_file.h), rewritten on
// every change and read at start: those who subscribe do so once, at their
// own start, so a dispatcher that comes back empty-handed after a stop or a
// crash would lose every report until they are all restarted.
#include <arpa/inet.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "rpc_server.h"
#include "subscription_file.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_config.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_trace.h"
#include "tessel/tessel_types.h"

namespace {

const char kProgram[] = "qm.event";
const struct timeval kDeliveryTimeout = {2, 0};
const int kMaxFailures = 3;

int traceLevel = 0;

void trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void trace(int level, const char* format, ...) {
  if (traceLevel < level) return;
  va_list ap;
  va_start(ap, format);
  tessel_vtraceLine(kProgram, format, ap);
  va_end(ap);
}

struct Subscriber {
  StoredSubscription sub;  // what the file keeps of it
  int failures = 0;        // reports failed in a row
  TesselCaller caller;
};

using Subscribers = std::vector<std::unique_ptr<Subscriber>>;
Subscribers subscribers;

// The subscriber at that address, program and version, or subscribers.end().
Subscribers::iterator findSubscriber(struct in_addr addr, u_int prog, u_int vers) {
  return std::find_if(subscribers.begin(), subscribers.end(), [&](const auto& s) {
    return s->sub.addr.s_addr == addr.s_addr && s->sub.prog == prog && s->sub.vers == vers;
  });
}

// Writes the subscriber set to the file.  The dispatcher serves on when it
// cannot: the subscribers it has are still served, only a restart would
// forget them.
void saveSubscribers() {
  std::vector<StoredSubscription> all;
  for (const auto& s : subscribers) all.push_back(s->sub);
  std::string error;
  if (!subscriptions_write(tessel_path(QM_EVENT_SUBSCRIPTIONS), all, &error))
    cli_error(kProgram, "subscriptions not saved: %s", error.c_str());
}

// Adds a subscriber, or updates the one at the same address, program and
// version (of which only the agent program changes: the host name first
// given stays).  `how` names where it came from in the trace.  Returns 1 when
// what the file keeps has changed.
int addSubscriber(const StoredSubscription& wanted, const char* how) {
  auto it = findSubscriber(wanted.addr, wanted.prog, wanted.vers);
  Subscriber* s;
  int changed = 1;
  if (it == subscribers.end()) {
    subscribers.push_back(std::make_unique<Subscriber>());
    s = subscribers.back().get();
    s->sub = wanted;
    s->caller.setDestination(wanted.addr, wanted.prog, wanted.vers, kDeliveryTimeout);
  } else {
    s = it->get();
    changed = s->sub.agentProg != wanted.agentProg;
    s->sub.agentProg = wanted.agentProg;
  }
  s->failures = 0;
  trace(1, "%s %s (%s) program %u version %u\n", how, wanted.host.c_str(),
        inet_ntoa(wanted.addr), wanted.prog, wanted.vers);
  return changed;
}

void subscribe(SVCXPRT* xprt, bool add) {
  TesselSubscription sub;
  memset(&sub, 0, sizeof sub);
  if (!svc_getargs(xprt, (xdrproc_t)xdr_TesselSubscription, (char*)&sub)) {
    svcerr_decode(xprt);
    return;
  }
  struct in_addr addr;
  if (sub.host[0] != '\0') {
    if (!tessel_resolve(sub.host, &addr)) {
      rpc_answerStatus(xprt, 1, tessel_sperror());
      return;
    }
  } else {
    // No host given: the subscriber is the caller.
    const struct netbuf* caller = svc_getrpccaller(xprt);
    const struct sockaddr_in* sin = reinterpret_cast<const struct sockaddr_in*>(caller->buf);
    if (caller->len < sizeof *sin || sin->sin_family != AF_INET) {
      rpc_answerStatus(xprt, 1, "subscriber address unknown");
      return;
    }
    addr = sin->sin_addr;
  }
  bool changed = false;
  if (add) {
    changed = addSubscriber({sub.host, addr, sub.prog, sub.vers, sub.agentProg}, "subscribed");
  } else if (auto it = findSubscriber(addr, sub.prog, sub.vers); it != subscribers.end()) {
    trace(1, "unsubscribed %s (%s) program %u version %u\n", sub.host, inet_ntoa(addr), sub.prog,
          sub.vers);
    subscribers.erase(it);
    changed = true;
  }
  // The file is written before the answer, so that a subscriber told "yes"
  // is already one that a restart keeps.
  if (changed) saveSubscribers();
  rpc_answerStatus(xprt, 0);
}

// Subscribes everyone the file holds, by the rules of a live subscription;
// the stored address is used as it stands.  What is wrong with the file is
// said on standard error and skipped.
void restoreSubscribers() {
  std::vector<StoredSubscription> stored;
  std::vector<std::string> complaints;
  subscriptions_read(tessel_path(QM_EVENT_SUBSCRIPTIONS), &stored, &complaints);
  for (const std::string& c : complaints) cli_error(kProgram, "%s", c.c_str());
  for (const StoredSubscription& s : stored) addSubscriber(s, "restored");
}

void forward(TesselServiceMsg* msg) {
  bool dropped = false;
  for (auto it = subscribers.begin(); it != subscribers.end();) {
    Subscriber& s = **it;
    const StoredSubscription& to = s.sub;
    if (to.agentProg != 0 && to.agentProg != msg->agentProg) {
      ++it;
      continue;
    }
    Tessel_error answer;
    if (s.caller.send(msg, kDeliveryTimeout, &answer, TESSEL_PROTO_TCP)) {
      s.failures = 0;
      trace(3, "delivered to %s program %u version %u\n", inet_ntoa(to.addr), to.prog, to.vers);
      ++it;
      continue;
    }
    trace(1, "cannot deliver to %s program %u version %u: %s\n", inet_ntoa(to.addr), to.prog,
          to.vers, tessel_sperror());
    if (++s.failures >= kMaxFailures) {
      trace(1, "dropped subscriber %s program %u version %u after %d failures\n",
            inet_ntoa(to.addr), to.prog, to.vers, s.failures);
      it = subscribers.erase(it);
      dropped = true;
    } else {
      ++it;
    }
  }
  if (dropped) saveSubscribers();
}

void dispatch(struct svc_req* rq, SVCXPRT* xprt) {
  switch (rq->rq_proc) {
    case NULLPROC:
      rpc_answerNull(xprt);
      return;
    case TESSEL_PROC_MESSAGE: {
      TesselServiceMsg msg;
      if (!rpc_takeMessage(xprt, &msg)) {
        trace(2, "refused a report that does not decode\n");
        return;
      }
      trace(2, "report type %u from %s, agent %u, %u bytes of data\n", msg.type, msg.host,
            msg.agentProg, msg.arglistLength);
      forward(&msg);
      rpc_answerStatus(xprt, 0);
      return;
    }
    case QM_EVENT_SUBSCRIBE:
    case QM_EVENT_UNSUBSCRIBE:
      subscribe(xprt, rq->rq_proc == QM_EVENT_SUBSCRIBE);
      return;
    default:
      svcerr_noproc(xprt);
  }
}

void usage(FILE* out) {
  fprintf(out,
          "usage: qm.event [-d LEVEL]\n"
          "Serves the station's event dispatcher (RPC program 100101, version 10) until\n"
          "SIGTERM or SIGINT.  -d LEVEL traces to standard output (1 subscriptions,\n"
          "2 reports, 3 deliveries).  The subscribers are kept in the file\n"
          "%s (below $OVI_ROOT when set),\n"
          "rewritten on every change and read at start.\n",
          QM_EVENT_SUBSCRIPTIONS);
}

// Takes -d LEVEL.
int takeTraceLevel(int, const char* value) {
  int64_t level;
  if (!cli_parseSigned(value, 0, 9, &level)) {
    cli_error(kProgram, "bad trace level: %s", value);
    return CLI_REFUSED;
  }
  traceLevel = static_cast<int>(level);
  return CLI_TAKEN;
}

// Reads the command line; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv) {
  int status = cli_getOptions(kProgram, argc, argv, "d:", "", usage, takeTraceLevel);
  if (status >= 0) return status;
  return cli_noOperands(kProgram, argc, argv) ? -1 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (int status = parseOptions(argc, argv); status >= 0) return status;
  cli_catchStopSignals();
  restoreSubscribers();
  RpcServer server;
  if (!server.serve(QM_EVENT_PROG, QM_EVENT_VERS, dispatch)) {
    cli_error(kProgram, "%s", tessel_sperror());
    return 1;
  }
  trace(1, "serving program %lu version %lu\n", static_cast<unsigned long>(QM_EVENT_PROG),
        static_cast<unsigned long>(QM_EVENT_VERS));
  server.run(0, [] { return false; });
  trace(1, "stopping\n");
  return 0;
}
