// The RPC service side of the station's tools: the first steps of a
// dispatch function, programs served over UDP and TCP and registered with
// rpcbind, and a select loop that ends on SIGTERM, SIGINT or a deadline.
#ifndef TOOLS_COMMON_RPC_SERVER_H_
#define TOOLS_COMMON_RPC_SERVER_H_

#include <rpc/rpc.h>

#include "cli.h"

#include <utility>
#include <vector>

#include "tessel/tessel_service_msg.h"

typedef void (*rpc_dispatch_fn)(struct svc_req*, SVCXPRT*);

// Answers a call of the NULL procedure.
void rpc_answerNull(SVCXPRT* xprt);

// Decodes the message a procedure-1 call carries into a freshly constructed
// msg; answers the caller itself when it does not decode.  1 on success.
int rpc_takeMessage(SVCXPRT* xprt, TesselServiceMsg* msg);

// The start of a receiver's dispatch: answers the NULL procedure, refuses
// every procedure but `proc` (0: every procedure carries a message) and a
// message that does not decode.  Returns 1 with *msg decoded when the
// caller is to answer the call, 0 when it has been answered.
int rpc_takeCall(const struct svc_req* rq, SVCXPRT* xprt, unsigned long proc,
                 TesselServiceMsg* msg);

// Answers the current call with a status (0: accepted) and a text.
void rpc_answerStatus(SVCXPRT* xprt, int status, const char* text = "");

class RpcServer {
 public:
  RpcServer();
  ~RpcServer();  // unregisters every program it registered, destroys its transports
  RpcServer(const RpcServer&) = delete;
  RpcServer& operator=(const RpcServer&) = delete;

  // Serves on these transports instead of making its own (tcp null: UDP
  // only); given before the first serve().  udp must not be null.  The
  // server owns them from then on.
  void adopt(SVCXPRT* udp, SVCXPRT* tcp);

  // Serves program/version with dispatch over UDP and TCP.  A registration
  // left by a dead server is taken over; one held by a live server is not.
  // Returns 1 on success, 0 (with tessel_sperror() set) otherwise.
  int serve(unsigned long program, unsigned long version, rpc_dispatch_fn dispatch);

  // Serves what a console serves: its rendezvous program at `version` and at
  // 10 (where status traps come), and with `event` the Event program 100101
  // at `version`.  Returns 1 on success, like serve().
  int serveConsole(unsigned long program, unsigned long version, bool event,
                   rpc_dispatch_fn dispatch);

  // Serves requests until cli_stopRequested, done() returns true, or
  // timeoutSeconds (0: none) have passed.
  template <typename Done>
  void run(double timeoutSeconds, Done done) {
    while (!cli_stopRequested && !done() && pollOnce(timeoutSeconds)) {
    }
  }

 private:
  // One select pass; false once the deadline has passed.
  bool pollOnce(double timeoutSeconds);

  SVCXPRT* udp_;
  SVCXPRT* tcp_;
  std::vector<std::pair<unsigned long, unsigned long>> registered_;
  double started_;
};

#endif  // TOOLS_COMMON_RPC_SERVER_H_
