// The RPC service side of the station's tools: programs served over UDP and
// TCP and registered with rpcbind, and a select loop that ends on SIGTERM,
// SIGINT or a deadline.
#ifndef TOOLS_COMMON_RPC_SERVER_H_
#define TOOLS_COMMON_RPC_SERVER_H_

#include <rpc/rpc.h>

#include "cli.h"

#include <utility>
#include <vector>

#include "tessel/tessel_service_msg.h"

typedef void (*rpc_dispatch_fn)(struct svc_req*, SVCXPRT*);

// Decodes the message a procedure-1 call carries into a freshly constructed
// msg; answers the caller itself when it does not decode.  1 on success.
int rpc_takeMessage(SVCXPRT* xprt, TesselServiceMsg* msg);

// Answers the current call with a status (0: accepted) and a text.
void rpc_answerStatus(SVCXPRT* xprt, int status, const char* text = "");

class RpcServer {
 public:
  RpcServer();
  ~RpcServer();  // unregisters every program it registered
  RpcServer(const RpcServer&) = delete;
  RpcServer& operator=(const RpcServer&) = delete;

  // Serves program/version with dispatch over UDP and TCP.  A registration
  // left by a dead server is taken over; one held by a live server is not.
  // Returns 1 on success, 0 (with tessel_sperror() set) otherwise.
  int serve(unsigned long program, unsigned long version, rpc_dispatch_fn dispatch);

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
