#include "tessel/tessel_rendez.h"

#include <string.h>

#include "tessel/tessel_client.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_xdr.h"

bool_t xdr_TesselSubscription(XDR* x, TesselSubscription* sub) {
  if (x->x_op == XDR_FREE) return TRUE;
  char* host = sub->host;
  if (x->x_op == XDR_ENCODE) sub->host[sizeof sub->host - 1] = '\0';
  return xdr_string(x, &host, sizeof sub->host - 1) && xdr_u_int(x, &sub->prog) &&
         xdr_u_int(x, &sub->vers) && xdr_u_int(x, &sub->agentProg) && xdr_u_int(x, &sub->mode);
}

static int subscription(u_long proc, const char* dispatcherHost, const char* subscriberHost,
                        unsigned long prog, unsigned long vers, unsigned long agentProg, int mode,
                        struct timeval timeout) {
  struct in_addr addr;
  if (!tessel_resolve(dispatcherHost, &addr)) return 0;
  TesselClient client;
  if (!client.getClient(addr, TESSEL_PROTO_UDP, QM_EVENT_PROG, QM_EVENT_VERS, 0, timeout)) {
    tessel_setError("qm.event on %s: %s", dispatcherHost, clnt_spcreateerror(""));
    return 0;
  }
  TesselSubscription sub;
  memset(&sub, 0, sizeof sub);
  strncpy(sub.host, subscriberHost != nullptr ? subscriberHost : "", sizeof sub.host - 1);
  sub.prog = static_cast<u_int>(prog);
  sub.vers = static_cast<u_int>(vers);
  sub.agentProg = static_cast<u_int>(agentProg);
  sub.mode = static_cast<u_int>(mode);
  Tessel_error reply;
  memset(&reply, 0, sizeof reply);
  clnt_control(client.handle(), CLSET_RETRY_TIMEOUT, (char*)&timeout);
  enum clnt_stat stat = clnt_call(client.handle(), proc, (xdrproc_t)xdr_TesselSubscription,
                                  (char*)&sub, (xdrproc_t)_tessel_xdrStatus, (char*)&reply, timeout);
  if (stat != RPC_SUCCESS) {
    tessel_setError("qm.event on %s: %s", dispatcherHost, clnt_sperror(client.handle(), ""));
    return 0;
  }
  if (reply.status != 0) {
    tessel_setError("qm.event on %s refused: %s", dispatcherHost, reply.message);
    return 0;
  }
  return 1;
}

int tessel_register_rendez(const char* dispatcherHost, const char* subscriberHost,
                           unsigned long prog, unsigned long vers, unsigned long agentProg,
                           int mode, struct timeval* timeout) {
  struct timeval t = timeout != nullptr ? *timeout : (struct timeval){30, 0};
  return subscription(QM_EVENT_SUBSCRIBE, dispatcherHost, subscriberHost, prog, vers, agentProg,
                      mode, t);
}

int tessel_unregister_rendez(const char* dispatcherHost, const char* subscriberHost,
                             unsigned long prog, unsigned long vers, unsigned long agentProg,
                             int mode, struct timeval timeout) {
  return subscription(QM_EVENT_UNSUBSCRIBE, dispatcherHost, subscriberHost, prog, vers, agentProg,
                      mode, timeout);
}
