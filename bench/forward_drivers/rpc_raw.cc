// bench_rpc_raw: the two floors under the forwarding road, measured with a
// minimal libtirpc server and client of this benchmark's own:
//   rpc_raw    synchronous UDP calls per second from one client, each with a
//              report-sized argument;
//   pipe_call  a report handed over pipes to a child with one-byte
//              handshakes (as the daemon hands reports to its subprocesses),
//              the child then making one such call, per second;
//   pipe_call_4  the same with every report handed to four children, per
//              second and child (the slowest).
//
//   bench_rpc_raw [--seconds S] [--size BYTES]
//
// Registers its program with the local rpcbind: run it inside a station.
// Prints "rpc_raw calls_per_s=N us_per_call=X", then "pipe_call per_s=N us=X"
// and "pipe_call_4 per_s=N us=X", each followed by "cpu_parent_us=U
// cpu_child_us=U cpu_server_us=U": the processor time one report handed to
// one child cost the parent, the child and the server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/pmap_clnt.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench_common.h"
#include "cli.h"

namespace {

const char kProgram[] = "bench_rpc_raw";
const unsigned long kProg = 0x20000ff0, kVers = 1, kProc = 1;
const int kHeader = 600;

struct Blob {
  u_int length;
  char* data;
};

bool_t xdrNothing(XDR*, void*) { return TRUE; }

bool_t xdrBlob(XDR* x, Blob* b) { return xdr_bytes(x, &b->data, &b->length, 65000); }

void serve(struct svc_req* rq, SVCXPRT* xprt) {
  if (rq->rq_proc == NULLPROC) {
    svc_sendreply(xprt, (xdrproc_t)xdrNothing, nullptr);
    return;
  }
  char buf[65000];
  Blob b = {0, buf};
  if (!svc_getargs(xprt, (xdrproc_t)xdrBlob, (char*)&b)) {
    svcerr_decode(xprt);
    return;
  }
  int status = 0;
  svc_sendreply(xprt, (xdrproc_t)xdr_int, (char*)&status);
}

pid_t startServer() {
  pid_t pid = fork();
  if (pid != 0) return pid;
  signal(SIGTERM, SIG_DFL);
  pmap_unset(kProg, kVers);
  SVCXPRT* udp = svcudp_bufcreate(RPC_ANYSOCK, 65000, 65000);
  if (udp == nullptr || !svc_register(udp, kProg, kVers, serve, IPPROTO_UDP)) {
    cli_error(kProgram, "cannot register program %lu (is rpcbind running?)", kProg);
    _exit(1);
  }
  svc_run();
  _exit(1);
}

CLIENT* makeClient() {
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int sock = RPC_ANYSOCK;
  return clntudp_bufcreate(&sin, kProg, kVers, {1, 0}, &sock, 65000, 65000);
}

bool call(CLIENT* c, Blob* arg) {
  int status = -1;
  struct timeval timeout = {5, 0};
  return clnt_call(c, kProc, (xdrproc_t)xdrBlob, (char*)arg, (xdrproc_t)xdr_int,
                   (char*)&status, timeout) == RPC_SUCCESS;
}

bool readFull(int fd, char* buf, size_t n) {
  while (n > 0) {
    ssize_t got = read(fd, buf, n);
    if (got <= 0) return false;
    buf += got;
    n -= got;
  }
  return true;
}

void waitReadable(int fd) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  select(fd + 1, &set, nullptr, nullptr, nullptr);
}

// The child of the hand-off: asks for a report, reads it, makes the call.
[[noreturn]] void forwarder(int askFd, int goFd, int dataFd, size_t size) {
  CLIENT* c = makeClient();
  if (c == nullptr) _exit(1);
  std::string header(kHeader, '\0'), body(size, '\0');
  Blob arg = {static_cast<u_int>(size), &body[0]};
  char byte = 1;
  for (;;) {
    if (write(askFd, &byte, 1) != 1) _exit(0);
    waitReadable(goFd);
    if (read(goFd, &byte, 1) != 1) _exit(0);
    waitReadable(dataFd);
    if (!readFull(dataFd, &header[0], kHeader) || !readFull(dataFd, &body[0], size)) _exit(0);
    if (!call(c, &arg)) _exit(1);
  }
}

// One child of the hand-off and the parent's ends of its three pipes.
struct Child {
  pid_t pid = -1;
  int ask = -1, go = -1, data = -1;
  uint64_t handed = 0;
};

// What one run of hand-offs measured: the reports a second the slowest
// child took (its first needs no call before it; 0 when the set-up failed),
// and the processor time a report cost the parent, each child (the mean)
// and the server, in microseconds.
struct HandOffResult {
  double perSecond = 0;
  double parentUs = 0, childUs = 0, serverUs = 0;
};

// Hands reports over pipes to `n` children for `seconds`, each child making
// one call per report to `server`, as the daemon hands reports to n
// subprocesses: every report to every child.
HandOffResult handOffs(int n, double seconds, size_t size, const std::string& payload,
                       pid_t server) {
  std::vector<Child> children(n);
  bool failed = false;
  for (Child& c : children) {
    int ask[2], go[2], data[2];
    if (pipe(ask) != 0 || pipe(go) != 0 || pipe(data) != 0 || (c.pid = fork()) < 0) {
      failed = true;  // the children made so far are ended below
      break;
    }
    if (c.pid == 0) {
      close(ask[0]);
      close(go[1]);
      close(data[1]);
      // The parent's ends of the children made before: held here, they
      // would keep those children from seeing the parent close them.
      for (const Child& other : children)
        if (&other != &c && other.pid > 0)
          for (int fd : {other.ask, other.go, other.data}) close(fd);
      forwarder(ask[1], go[0], data[0], size);
    }
    close(ask[1]);
    close(go[0]);
    close(data[0]);
    c.ask = ask[0];
    c.go = go[1];
    c.data = data[1];
  }
  std::string header(kHeader, 'h');
  double cpu0 = bench_processSeconds(), server0 = bench_runSeconds(server);
  double t0 = cli_now(), elapsed = 0;
  while (!failed && (elapsed = cli_now() - t0) < seconds) {
    fd_set asking;
    FD_ZERO(&asking);
    int top = 0;
    for (const Child& c : children) {
      FD_SET(c.ask, &asking);
      if (c.ask > top) top = c.ask;
    }
    struct timeval tick = {0, 100000};
    if (select(top + 1, &asking, nullptr, nullptr, &tick) <= 0) continue;
    for (Child& c : children) {
      char byte;
      if (!FD_ISSET(c.ask, &asking)) continue;
      if (read(c.ask, &byte, 1) != 1 || write(c.data, header.data(), kHeader) != kHeader ||
          write(c.data, payload.data(), size) != static_cast<ssize_t>(size) ||
          write(c.go, &byte, 1) != 1) {
        failed = true;
        break;
      }
      c.handed++;
    }
  }
  HandOffResult result;
  double parentSeconds = bench_processSeconds() - cpu0;
  double serverSeconds = bench_runSeconds(server) - server0, childSeconds = 0;
  uint64_t slowest = UINT64_MAX, handed = 0;
  for (Child& c : children) {
    if (c.pid <= 0) continue;
    childSeconds += bench_runSeconds(c.pid);  // read while it is alive
    handed += c.handed;
    close(c.ask);
    close(c.go);
    close(c.data);
    waitpid(c.pid, nullptr, 0);
    if (c.handed < slowest) slowest = c.handed;
  }
  if (failed || slowest < 2 || handed == 0) return result;
  result.perSecond = (slowest - 1) / elapsed;
  // Per report handed to one child; the parent's and the server's time
  // serve every child, so they count per report and child too.
  result.parentUs = 1e6 * parentSeconds / handed;
  result.childUs = 1e6 * childSeconds / handed;
  result.serverUs = 1e6 * serverSeconds / handed;
  return result;
}

void usage(FILE* out) {
  fprintf(out,
          "usage: %s [--seconds S] [--size BYTES]\n"
          "Measures synchronous RPC calls and pipe hand-offs per second; run it inside a\n"
          "station (it registers its program with the local rpcbind).\n",
          kProgram);
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 2;
  size_t size = 200;
  enum { kSeconds = CLI_LONG, kSize };
  auto take = [&](int c, const char* value) -> int {
    if (c == kSeconds) {
      seconds = atof(value);
      return seconds > 0;
    }
    size = strtoul(value, nullptr, 10);
    return size <= 60000;
  };
  int parsed = cli_getOptions(kProgram, argc, argv, "", "seconds= size=", usage, take);
  if (parsed >= 0) return parsed;
  signal(SIGPIPE, SIG_IGN);
  pid_t server = startServer();
  CLIENT* client = nullptr;
  for (int i = 0; i < 100 && client == nullptr; i++) {
    client = makeClient();
    if (client == nullptr) usleep(50000);
  }
  std::string payload(size, 'r');
  Blob arg = {static_cast<u_int>(size), &payload[0]};
  int status = 1;
  if (client == nullptr || !call(client, &arg)) {
    cli_error(kProgram, "the server does not answer");
  } else {
    uint64_t calls = 0;
    double t0 = cli_now(), elapsed;
    while ((elapsed = cli_now() - t0) < seconds) {
      if (!call(client, &arg)) break;
      calls++;
    }
    printf("rpc_raw calls_per_s=%.0f us_per_call=%.1f\n", calls / elapsed, 1e6 * elapsed / calls);
    fflush(stdout);

    for (int children : {1, 4}) {
      HandOffResult r = handOffs(children, seconds, size, payload, server);
      if (r.perSecond <= 0) {
        status = 1;
        break;
      }
      printf("%s per_s=%.0f us=%.1f cpu_parent_us=%.1f cpu_child_us=%.1f cpu_server_us=%.1f\n",
             children == 1 ? "pipe_call" : "pipe_call_4", r.perSecond, 1e6 / r.perSecond,
             r.parentUs, r.childUs, r.serverUs);
      fflush(stdout);
      status = 0;
    }
    clnt_destroy(client);
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  pmap_unset(kProg, kVers);
  return status;
}
