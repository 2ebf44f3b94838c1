// qm.event: the station's event dispatcher.
//
// Serves program 100101 version 10 over UDP and TCP.  A report sent to it by
// procedure 1 is handed to every subscriber (procedure 1 of the subscriber's
// program and version on its host, over TCP) before the sender gets its
// answer, so a sender that waits for each answer never outruns the
// subscribers.  A subscriber is given a bounded time per report and is
// dropped after it has failed several reports in a row.
#include <arpa/inet.h>
#include <getopt.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "rpc_server.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_types.h"
#include "tessel/tessel_xdr.h"

namespace {

const char kProgram[] = "qm.event";
const struct timeval kDeliveryTimeout = {2, 0};
const int kMaxFailures = 3;

int traceLevel = 0;

void trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void trace(int level, const char* format, ...) {
  if (traceLevel < level) return;
  printf("[%d] %s: ", static_cast<int>(getpid()), kProgram);
  va_list ap;
  va_start(ap, format);
  vprintf(format, ap);
  va_end(ap);
  fflush(stdout);
}

struct Subscriber {
  std::string host;
  struct in_addr addr;
  u_int prog;
  u_int vers;
  u_int agentProg;
  int failures = 0;
  TesselCaller caller;
};

std::vector<std::unique_ptr<Subscriber>> subscribers;

Subscriber* findSubscriber(struct in_addr addr, u_int prog, u_int vers) {
  for (auto& s : subscribers)
    if (s->addr.s_addr == addr.s_addr && s->prog == prog && s->vers == vers) return s.get();
  return nullptr;
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
  Subscriber* s = findSubscriber(addr, sub.prog, sub.vers);
  if (add) {
    if (s == nullptr) {
      auto fresh = std::make_unique<Subscriber>();
      fresh->host = sub.host;
      fresh->addr = addr;
      fresh->prog = sub.prog;
      fresh->vers = sub.vers;
      fresh->caller.setDestination(addr, sub.prog, sub.vers, kDeliveryTimeout);
      s = fresh.get();
      subscribers.push_back(std::move(fresh));
    }
    s->agentProg = sub.agentProg;
    s->failures = 0;
    trace(1, "subscribed %s (%s) program %u version %u\n", sub.host, inet_ntoa(addr), sub.prog,
          sub.vers);
  } else if (s != nullptr) {
    trace(1, "unsubscribed %s (%s) program %u version %u\n", sub.host, inet_ntoa(addr), sub.prog,
          sub.vers);
    for (auto it = subscribers.begin(); it != subscribers.end(); ++it)
      if (it->get() == s) {
        subscribers.erase(it);
        break;
      }
  }
  rpc_answerStatus(xprt, 0);
}

void forward(TesselServiceMsg* msg) {
  for (auto it = subscribers.begin(); it != subscribers.end();) {
    Subscriber& s = **it;
    if (s.agentProg != 0 && s.agentProg != msg->agentProg) {
      ++it;
      continue;
    }
    Tessel_error answer;
    if (s.caller.send(msg, kDeliveryTimeout, &answer, TESSEL_PROTO_TCP)) {
      s.failures = 0;
      trace(3, "delivered to %s program %u version %u\n", inet_ntoa(s.addr), s.prog, s.vers);
      ++it;
      continue;
    }
    trace(1, "cannot deliver to %s program %u version %u: %s\n", inet_ntoa(s.addr), s.prog,
          s.vers, tessel_sperror());
    if (++s.failures >= kMaxFailures) {
      trace(1, "dropped subscriber %s program %u version %u after %d failures\n",
            inet_ntoa(s.addr), s.prog, s.vers, s.failures);
      it = subscribers.erase(it);
    } else {
      ++it;
    }
  }
}

void dispatch(struct svc_req* rq, SVCXPRT* xprt) {
  switch (rq->rq_proc) {
    case NULLPROC:
      svc_sendreply(xprt, (xdrproc_t)tessel_xdrVoid, nullptr);
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
          "2 reports, 3 deliveries).\n");
}

}  // namespace

int main(int argc, char** argv) {
  static const struct option options[] = {{"help", no_argument, nullptr, 'h'},
                                          {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "d:h", options, nullptr)) != -1) {
    switch (c) {
      case 'd': {
        int64_t level;
        if (!cli_parseSigned(optarg, 0, 9, &level)) {
          cli_error(kProgram, "bad trace level: %s", optarg);
          return 2;
        }
        traceLevel = static_cast<int>(level);
        break;
      }
      case 'h':
        usage(stdout);
        return 0;
      default:
        usage(stderr);
        return 2;
    }
  }
  if (optind != argc) {
    usage(stderr);
    return 2;
  }
  cli_catchStopSignals();
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
