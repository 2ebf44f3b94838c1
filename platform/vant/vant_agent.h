// The forwarding library's agent service: an agent registers one RPC
// program, and every message that reaches it is decoded and handed to the
// agent's request callback while it is the current message
// (aTesselVantRendez).  The library runs no loop of its own: the agent's
// loop selects on svc_fdset and calls svc_getreqset.
//
// SIGTERM and SIGINT make the library call the agent's shutdown callback and
// end the process with status 0, from the agent's loop rather than from the
// signal handler.  This holds only in the process that registered the
// agent; a forked child that receives them simply ends.
#ifndef PLATFORM_VANT_VANT_AGENT_H_
#define PLATFORM_VANT_VANT_AGENT_H_

#include <sys/time.h>

#include "tessel/tessel_service_msg.h"
#include "tessel/tessel_types.h"

// Request callback: type, target system, schema group, table key, reporting
// count and interval, flags of the current message.
typedef void (*vant_request_fn)(unsigned int type, char* system, char* group, char* key,
                                unsigned int count, struct timeval* interval, unsigned int flags);
typedef void (*vant_shutdown_fn)(int reason);

// Transports an agent serves.
enum { VANT_UDP = 1, VANT_UDP_AND_TCP = 2 };

// The debug level of the forwarding library: at 2 and above it traces to
// standard output with the prefix "[pid] vant: ".
extern int vant_debug;
// The status a delivery's receiver answered.
extern Tessel_error vant_error;
// The message being handled, null outside the request callback.
extern TesselServiceMsg* aTesselVantRendez;

// Registers the agent `name`: serves program/version over UDP (transports
// VANT_UDP) or UDP and TCP (VANT_UDP_AND_TCP), registered with rpcbind, and
// accepts data of type codes up to maxType.  timeout bounds the reading of a
// request from a TCP connection; `reserved` must be null.  Returns non-zero
// on success, 0 with tessel_sperror() set otherwise.
int _vant_init_rpc_rendez(const char* name, int transports, unsigned long program,
                          unsigned long version, int maxType, struct timeval* timeout,
                          void* reserved, vant_request_fn request, vant_shutdown_fn shutdown);

// Releases the agent registration: the program leaves rpcbind and its
// transports are closed.  Returns 1.
int _vant_shutdown_rendez(int reason);

// Told that the agent's last receiver is gone.  The library keeps the agent
// running: returns 0.
int _vant_should_exit();

// Status answered to the sender of the current request (0 unless the agent
// recorded one with TesselObject::formatStatus).
const Tessel_error* vant_requestStatus();

#endif  // PLATFORM_VANT_VANT_AGENT_H_
