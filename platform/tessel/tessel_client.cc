#include "tessel/tessel_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <rpc/pmap_prot.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tessel/tessel_error.h"
#include "tessel/tessel_xdr.h"

TesselClient::TesselClient()
    : status(0), protocol_(0), handle_(nullptr), program_(0), version_(0), addr_(),
      timeoutSec_(0), timeoutUsec_(0), reserved_() {}

TesselClient::~TesselClient() { destroyClient(); }

void TesselClient::destroyClient() {
  if (handle_ != nullptr) clnt_destroy(handle_);
  handle_ = nullptr;
}

void TesselClient::loadInto(TesselServiceMsg* msg) const {
  memcpy(msg->client, static_cast<const void*>(this), TESSEL_CLIENT_SLOT);
}

CLIENT* TesselClient::handleIn(const TesselServiceMsg* msg) {
  CLIENT* handle;
  memcpy(&handle, msg->client + offsetof(TesselClient, handle_), sizeof handle);
  return handle;
}

static void createError(enum clnt_stat stat, int error) {
  rpc_createerr.cf_stat = stat;
  rpc_createerr.cf_error.re_errno = error;
}

unsigned short tessel_getport(struct in_addr host, unsigned long program, unsigned long version,
                              unsigned long protocol, struct timeval timeout) {
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_addr = host;
  sin.sin_port = htons(PMAPPORT);
  int sock = RPC_ANYSOCK;
  struct timeval retry = {1, 0};
  if (timeout.tv_sec == 0 && timeout.tv_usec < 500000) retry = timeout;
  CLIENT* pm = clntudp_bufcreate(&sin, PMAPPROG, PMAPVERS, retry, &sock, 400, 400);
  if (pm == nullptr) return 0;
  struct pmap query = {program, version, protocol, 0};
  u_long port = 0;
  enum clnt_stat stat = clnt_call(pm, PMAPPROC_GETPORT, (xdrproc_t)xdr_pmap, (char*)&query,
                                  (xdrproc_t)xdr_u_long, (char*)&port, timeout);
  clnt_destroy(pm);  // also closes the socket it made
  if (stat != RPC_SUCCESS) {
    createError(RPC_PMAPFAILURE, 0);
    rpc_createerr.cf_error.re_status = stat;
    return 0;
  }
  if (port == 0 || port > 65535) {
    createError(RPC_PROGNOTREGISTERED, 0);
    return 0;
  }
  return static_cast<unsigned short>(port);
}

// Connects a TCP socket within timeout; returns the socket or -1.
static int connectWithin(const struct sockaddr_in& sin, struct timeval timeout) {
  int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (sock < 0) return -1;
  int rc = connect(sock, reinterpret_cast<const struct sockaddr*>(&sin), sizeof sin);
  if (rc < 0 && errno == EINPROGRESS) {
    struct pollfd pfd = {sock, POLLOUT, 0};
    int ms = static_cast<int>(timeout.tv_sec * 1000 + timeout.tv_usec / 1000);
    do {
      rc = poll(&pfd, 1, ms);
    } while (rc < 0 && errno == EINTR);
    int err = 0;
    socklen_t len = sizeof err;
    if (rc == 0) {
      err = ETIMEDOUT;
    } else if (rc > 0 && getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &len) < 0) {
      err = errno;
    } else if (rc < 0) {
      err = errno;
    }
    rc = err == 0 ? 0 : -1;
    errno = err;
  }
  if (rc < 0) {
    int err = errno;
    close(sock);
    errno = err;
    return -1;
  }
  fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) & ~O_NONBLOCK);
  return sock;
}

int TesselClient::getClient(struct in_addr host, unsigned long protocol, unsigned long program,
                            unsigned long version, unsigned int reserved, struct timeval timeout) {
  destroyClient();
  if (reserved != 0 || (protocol != TESSEL_PROTO_UDP && protocol != TESSEL_PROTO_TCP)) {
    createError(RPC_UNKNOWNPROTO, 0);
    return 0;
  }
  protocol_ = static_cast<int32_t>(protocol);
  program_ = static_cast<uint32_t>(program);
  version_ = static_cast<uint32_t>(version);
  addr_ = host;
  timeoutSec_ = static_cast<int32_t>(timeout.tv_sec);
  timeoutUsec_ = static_cast<int32_t>(timeout.tv_usec);

  unsigned short port = tessel_getport(host, program, version,
                                       protocol == TESSEL_PROTO_UDP ? IPPROTO_UDP : IPPROTO_TCP,
                                       timeout);
  if (port == 0) return 0;
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_addr = host;
  sin.sin_port = htons(port);

  int sock = RPC_ANYSOCK;
  if (protocol == TESSEL_PROTO_UDP) {
    struct timeval retry = {1, 0};
    handle_ = clntudp_bufcreate(&sin, program, version, retry, &sock, TESSEL_UDP_BUFSIZE,
                                TESSEL_UDP_BUFSIZE);
  } else {
    sock = connectWithin(sin, timeout);
    if (sock < 0) {
      createError(RPC_SYSTEMERROR, errno);
      return 0;
    }
    handle_ = clnttcp_create(&sin, program, version, &sock, 0, 0);
    if (handle_ == nullptr) close(sock);
  }
  if (handle_ == nullptr) return 0;
  // The handle closes its socket when it is destroyed.
  clnt_control(handle_, CLSET_FD_CLOSE, nullptr);
  fcntl(sock, F_SETFD, FD_CLOEXEC);
  // rpcbind answers a look-up of a missing version with the port of another
  // version of the program: make sure this one is served.  A server that
  // does not answer in time is given the benefit of the doubt.
  clnt_control(handle_, CLSET_RETRY_TIMEOUT, (char*)&timeout);
  enum clnt_stat stat = clnt_call(handle_, NULLPROC, (xdrproc_t)tessel_xdrVoid, nullptr,
                                  (xdrproc_t)tessel_xdrVoid, nullptr, timeout);
  if (stat == RPC_PROGVERSMISMATCH || stat == RPC_PROGUNAVAIL) {
    destroyClient();
    createError(stat, 0);
    return 0;
  }
  return 1;
}

int tessel_resolve(const char* host, struct in_addr* addr) {
  if (host == nullptr || host[0] == '\0') return 0;
  if (inet_aton(host, addr)) return 1;
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  struct addrinfo* res = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &res) != 0 || res == nullptr) {
    tessel_setError("cannot resolve host %s", host);
    return 0;
  }
  *addr = reinterpret_cast<struct sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return 1;
}

// True when a server answers the NULL procedure of program/version at port.
static bool answers(struct in_addr addr, unsigned short port, unsigned long program,
                    unsigned long version, int protocol) {
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_addr = addr;
  sin.sin_port = htons(port);
  struct timeval timeout = {1, 0};
  int sock = RPC_ANYSOCK;
  CLIENT* client;
  if (protocol == IPPROTO_UDP) {
    client = clntudp_bufcreate(&sin, program, version, timeout, &sock, 400, 400);
  } else {
    sock = connectWithin(sin, timeout);
    if (sock < 0) return false;
    client = clnttcp_create(&sin, program, version, &sock, 0, 0);
    if (client == nullptr) {
      close(sock);
      return false;
    }
    clnt_control(client, CLSET_FD_CLOSE, nullptr);
  }
  if (client == nullptr) return false;
  enum clnt_stat stat = clnt_call(client, NULLPROC, (xdrproc_t)tessel_xdrVoid, nullptr,
                                  (xdrproc_t)tessel_xdrVoid, nullptr, timeout);
  clnt_destroy(client);
  return stat == RPC_SUCCESS;
}

// The port registered for exactly program/version/protocol with the local
// rpcbind, or 0.  (A port look-up answers with another version of the same
// program when the asked one is missing.)
static unsigned short exactPort(unsigned long program, unsigned long version, int protocol) {
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sin.sin_port = htons(PMAPPORT);
  struct pmaplist* maps = pmap_getmaps(&sin);
  unsigned short port = 0;
  for (struct pmaplist* m = maps; m != nullptr && port == 0; m = m->pml_next)
    if (m->pml_map.pm_prog == program && m->pml_map.pm_vers == version &&
        m->pml_map.pm_prot == static_cast<u_long>(protocol))
      port = static_cast<unsigned short>(m->pml_map.pm_port);
  xdr_free((xdrproc_t)xdr_pmaplist, (char*)&maps);
  return port;
}

int tessel_claimProgram(unsigned long program, unsigned long version) {
  struct in_addr local;
  local.s_addr = htonl(INADDR_LOOPBACK);
  const int protocols[] = {IPPROTO_UDP, IPPROTO_TCP};
  bool registered = false;
  for (int protocol : protocols) {
    unsigned short port = exactPort(program, version, protocol);
    if (port == 0) continue;
    registered = true;
    if (answers(local, port, program, version, protocol)) {
      tessel_setError("program %lu version %lu is served by a running process", program, version);
      return 0;
    }
  }
  if (registered) pmap_unset(program, version);
  return 1;
}
