// Subscription with the station's event dispatcher "qm.event", and the
// dispatcher's RPC program.
//
// qm.event serves program 100101 version 10:
//   procedure 1  one report (a whole message), answered with a status;
//   procedure 2  subscribe: a TesselSubscription, answered with a status;
//   procedure 3  unsubscribe: the same record.
// A subscriber then receives every report by procedure 1 of its program and
// version on its host.
#ifndef PLATFORM_TESSEL_TESSEL_RENDEZ_H_
#define PLATFORM_TESSEL_TESSEL_RENDEZ_H_

#include <rpc/rpc.h>
#include <sys/time.h>

enum : unsigned long { QM_EVENT_PROG = 100101, QM_EVENT_VERS = 10 };
enum { QM_EVENT_SUBSCRIBE = 2, QM_EVENT_UNSUBSCRIBE = 3 };

struct TesselSubscription {
  char host[256];       // subscriber host name or dotted address
  u_int prog;           // subscriber program
  u_int vers;           // subscriber version
  u_int agentProg;      // reports of this agent program only; 0 for all
  u_int mode;           // 1: every event, error and trap report
};

bool_t xdr_TesselSubscription(XDR* xdrs, TesselSubscription* sub);

// Asks the qm.event of dispatcherHost to send every report to program
// prog/vers on subscriberHost.  agentProg 0 asks for the reports of every
// agent; mode 1 asks for events, errors and traps.  Waits at most *timeout.
// Returns non-zero on success; otherwise 0 and tessel_sperror() says why.
int tessel_register_rendez(const char* dispatcherHost, const char* subscriberHost,
                           unsigned long prog, unsigned long vers, unsigned long agentProg,
                           int mode, struct timeval* timeout);

// Ends that subscription.  Same arguments, timeout by value.
int tessel_unregister_rendez(const char* dispatcherHost, const char* subscriberHost,
                             unsigned long prog, unsigned long vers, unsigned long agentProg,
                             int mode, struct timeval timeout);

#endif  // PLATFORM_TESSEL_TESSEL_RENDEZ_H_
