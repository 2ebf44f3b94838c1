#include "vant/vant_agent.h"

#include <errno.h>
#include <fcntl.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <rpc/rpc_com.h>
#include <rpc/svc_mt.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <new>

#include "tessel/tessel_call.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_codec.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_object.h"
#include "tessel/tessel_trace.h"
#include "tessel/tessel_xdr.h"

int vant_debug = 0;
Tessel_error vant_error;
TesselServiceMsg* aTesselVantRendez = nullptr;

namespace {

struct Agent {
  unsigned long program = 0;
  unsigned long version = 0;
  int maxType = TESSEL_TYPE_MAX;
  vant_request_fn request = nullptr;
  vant_shutdown_fn shutdown = nullptr;
  SVCXPRT* udp = nullptr;
  SVCXPRT* tcp = nullptr;
  pid_t pid = 0;
  bool registered = false;
};

Agent agent;

// Self-pipe between the SIGTERM/SIGINT handler and the agent's loop.
int stopPipe[2] = {-1, -1};
volatile sig_atomic_t stopRequested = 0;

void vantTrace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void vantTrace(int level, const char* format, ...) {
  if (vant_debug < level) return;
  va_list ap;
  va_start(ap, format);
  tessel_vtraceLine("vant", format, ap);
  va_end(ap);
}

void catchStop(int signo) {
  if (getpid() != agent.pid) {
    // A forked child of the agent: end as the signal's default would.
    signal(signo, SIG_DFL);
    raise(signo);
    return;
  }
  int saved = errno;
  stopRequested = 1;
  ssize_t ignored = write(stopPipe[1], "x", 1);
  (void)ignored;
  errno = saved;
}

// The read end of the self-pipe is served like an RPC transport, so that the
// agent's own select loop wakes for it and svc_getreqset runs the shutdown.
bool_t stopRecv(SVCXPRT* xprt, struct rpc_msg*) {
  char drain[64];
  while (read(xprt->xp_fd, drain, sizeof drain) > 0) {
  }
  if (!stopRequested || getpid() != agent.pid) return FALSE;
  vantTrace(2, "shutting down on request\n");
  if (agent.shutdown != nullptr) agent.shutdown(0);
  _vant_shutdown_rendez(0);
  exit(0);
}
enum xprt_stat stopStat(SVCXPRT*) { return XPRT_IDLE; }
bool_t stopArgs(SVCXPRT*, xdrproc_t, void*) { return FALSE; }
bool_t stopReply(SVCXPRT*, struct rpc_msg*) { return FALSE; }
void stopDestroy(SVCXPRT*) {}
bool_t stopControl(SVCXPRT*, const u_int, void*) { return FALSE; }

const struct __rpc_svcxprt::xp_ops stopOps = {stopRecv, stopStat, stopArgs, stopReply, stopArgs, stopDestroy};
const struct __rpc_svcxprt::xp_ops2 stopOps2 = {stopControl};

int installStopHandler() {
  if (stopPipe[0] < 0) {
    if (pipe2(stopPipe, O_NONBLOCK | O_CLOEXEC) < 0) return 0;
    SVCXPRT* xprt = static_cast<SVCXPRT*>(calloc(1, sizeof(SVCXPRT)));
    SVCXPRT_EXT* ext = static_cast<SVCXPRT_EXT*>(calloc(1, sizeof(SVCXPRT_EXT)));
    if (xprt == nullptr || ext == nullptr) {
      free(xprt);
      free(ext);
      return 0;
    }
    xprt->xp_fd = stopPipe[0];
    xprt->xp_ops = &stopOps;
    xprt->xp_ops2 = &stopOps2;
    xprt->xp_p3 = ext;
    xprt_register(xprt);
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = catchStop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  return 1;
}

// True when every datum of msg has a type code the agent accepts.
bool typesAccepted(TesselServiceMsg* msg) {
  if (agent.maxType >= TESSEL_TYPE_MAX) return true;
  Tessel_event d;
  while (tessel_msgNextDatum(msg, &d) && d.type != 0)
    if (d.type > static_cast<uint32_t>(agent.maxType)) return false;
  tessel_msgRewind(msg);
  return true;
}

void dispatch(struct svc_req* rq, SVCXPRT* xprt) {
  if (rq->rq_proc == NULLPROC) {
    svc_sendreply(xprt, (xdrproc_t)tessel_xdrVoid, nullptr);
    return;
  }
  if (rq->rq_proc != TESSEL_PROC_MESSAGE) {
    svcerr_noproc(xprt);
    return;
  }
  TesselServiceMsg* msg = new (std::nothrow) TesselServiceMsg;
  if (msg == nullptr) {
    svcerr_systemerr(xprt);
    return;
  }
  if (!svc_getargs(xprt, (xdrproc_t)_tessel_serialMsg, (char*)msg) || !typesAccepted(msg)) {
    vantTrace(2, "refused a message that does not decode\n");
    svcerr_decode(xprt);
    delete msg;
    return;
  }
  vantTrace(3, "message type %u from %s, %u bytes of data\n", msg->type, msg->host,
            msg->arglistLength);
  memset(&tessel_requestStatus, 0, sizeof tessel_requestStatus);
  struct timeval interval = {msg->intervalSec, msg->intervalUsec};
  aTesselVantRendez = msg;
  agent.request(msg->type, msg->system, msg->group, msg->key, msg->count, &interval, msg->flags);
  aTesselVantRendez = nullptr;
  svc_sendreply(xprt, (xdrproc_t)_tessel_xdrStatus, (char*)&tessel_requestStatus);
  delete msg;
}

void destroyTransports() {
  if (agent.udp != nullptr) svc_destroy(agent.udp);
  if (agent.tcp != nullptr) svc_destroy(agent.tcp);
  agent.udp = agent.tcp = nullptr;
}

}  // namespace

// An agent that ends without shutting down (exit after a failure) still
// leaves rpcbind; its forked children, which run the same exit handlers,
// leave the registration alone.
static void releaseAtExit() { _vant_shutdown_rendez(0); }

int _vant_init_rpc_rendez(const char* name, int transports, unsigned long program,
                          unsigned long version, int maxType, struct timeval*, void* reserved,
                          vant_request_fn request, vant_shutdown_fn shutdown) {
  if (request == nullptr || reserved != nullptr || agent.registered ||
      (transports != VANT_UDP && transports != VANT_UDP_AND_TCP)) {
    tessel_setError("%s: invalid agent registration", name != nullptr ? name : "agent");
    return 0;
  }
  agent.program = program;
  agent.version = version;
  agent.maxType = maxType;
  agent.request = request;
  agent.shutdown = shutdown;
  agent.pid = getpid();

  // TCP connections are read without blocking, whole records at a time, so
  // that a client that stalls mid-request cannot hold the agent.
  int maxrec = TESSEL_MAX_ARGLIST + 64 * 1024;
  rpc_control(RPC_SVC_CONNMAXREC_SET, &maxrec);

  // A registration left behind by an agent that died would refuse ours; a
  // live agent keeps its program.
  if (!tessel_claimProgram(program, version)) return 0;
  agent.udp = svcudp_bufcreate(RPC_ANYSOCK, TESSEL_UDP_BUFSIZE, TESSEL_UDP_BUFSIZE);
  if (agent.udp == nullptr || !svc_register(agent.udp, program, version, dispatch, IPPROTO_UDP)) {
    tessel_setError("%s: cannot register program %lu version %lu over UDP with rpcbind", name,
                    program, version);
    destroyTransports();
    return 0;
  }
  if (transports == VANT_UDP_AND_TCP) {
    agent.tcp = svctcp_create(RPC_ANYSOCK, 0, 0);
    if (agent.tcp == nullptr || !svc_register(agent.tcp, program, version, dispatch, IPPROTO_TCP)) {
      tessel_setError("%s: cannot register program %lu version %lu over TCP with rpcbind", name,
                      program, version);
      svc_unregister(program, version);
      destroyTransports();
      return 0;
    }
  }
  if (!installStopHandler()) {
    tessel_setError("%s: cannot install the shutdown handler: %s", name, strerror(errno));
    svc_unregister(program, version);
    destroyTransports();
    return 0;
  }
  agent.registered = true;
  static bool exitHandler = atexit(releaseAtExit) == 0;
  (void)exitHandler;
  vantTrace(2, "%s serves program %lu version %lu\n", name, program, version);
  return 1;
}

int _vant_shutdown_rendez(int) {
  // A forked child never takes the agent's registration away from it.
  if (!agent.registered || getpid() != agent.pid) return 1;
  agent.registered = false;
  svc_unregister(agent.program, agent.version);
  destroyTransports();
  return 1;
}

int _vant_should_exit() { return 0; }

const Tessel_error* vant_requestStatus() { return &tessel_requestStatus; }
