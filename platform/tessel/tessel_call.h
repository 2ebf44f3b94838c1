// Calls to one destination program: a UDP and a TCP client made when first
// needed, and the choice between them by message length.
#ifndef PLATFORM_TESSEL_TESSEL_CALL_H_
#define PLATFORM_TESSEL_TESSEL_CALL_H_

#include <netinet/in.h>
#include <rpc/rpc.h>
#include <sys/time.h>

#include "tessel/tessel_client.h"
#include "tessel/tessel_service_msg.h"
#include "tessel/tessel_types.h"

// Procedure that carries one message, on every program of the framework.
enum { TESSEL_PROC_MESSAGE = 1 };

class TesselCaller {
 public:
  TesselCaller();

  // Records the destination; clients are made by the first call that needs
  // them, each within createTimeout.
  void setDestination(struct in_addr addr, unsigned long program, unsigned long version,
                      struct timeval createTimeout);

  // Sets the destination and makes its UDP client now, so that an
  // unreachable destination is noticed at once.  Returns 1 on success.
  int open(struct in_addr addr, unsigned long program, unsigned long version,
           struct timeval createTimeout);

  // Sends msg by procedure 1 and waits at most timeout for the status the
  // receiver answers (into *reply).  protocol 0 chooses UDP for argument
  // lists of at most TESSEL_UDP_LIMIT bytes and TCP above; 17 or 6 forces
  // one.  Each call is made once: a UDP request is not sent again within
  // the call, so a slow receiver never sees a message twice.  Returns 1 when
  // a reply came, 0 otherwise; then lastStat() holds the RPC status and
  // tessel_sperror() the text.  A client that failed for any reason but a
  // time-out is closed and made anew by the next call.
  int send(TesselServiceMsg* msg, struct timeval timeout, Tessel_error* reply, int protocol = 0);

  enum clnt_stat lastStat() const { return lastStat_; }

 private:
  TesselClient* clientFor(int protocol);

  TesselClient udp_;
  TesselClient tcp_;
  struct in_addr addr_;
  unsigned long program_;
  unsigned long version_;
  struct timeval createTimeout_;
  enum clnt_stat lastStat_;
};

#endif  // PLATFORM_TESSEL_TESSEL_CALL_H_
