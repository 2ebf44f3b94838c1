// bench_trap_peer: the peer forwarder's loss-free rate.  Sends SNMPv2c traps
// to a trap daemon (snmptrapd with a "forward" line) at paced rates and
// counts what it forwards to this process's own UDP port.
//
//   bench_trap_peer --to IP:PORT --listen IP:PORT [--size BYTES] [--seconds S]
//                   [--steps N]
//
// Prints one line "peer loss_free=N full_rate=N full_loss_pct=P runs=N";
// every run is logged on standard error.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "bench_common.h"
#include "cli.h"
#include "pacer.h"
#include "snmp_trap.h"

namespace {

const char kProgram[] = "bench_trap_peer";

// Each trap's text begins with this and the run number, so that traps of
// an earlier run that arrive late are not counted.
const char kRunTag[] = "run=";

std::atomic<uint32_t> currentRun{0};
std::atomic<uint64_t> received{0};
std::atomic<uint64_t> firstNs{0};
std::atomic<uint64_t> lastNs{0};
std::atomic<uint64_t> anyNs{0};
std::atomic<bool> quit{false};

bool parseAddress(const char* text, struct sockaddr_in* sin) {
  std::string s = text;
  size_t colon = s.rfind(':');
  if (colon == std::string::npos) return false;
  memset(sin, 0, sizeof *sin);
  sin->sin_family = AF_INET;
  int port = atoi(s.c_str() + colon + 1);
  if (port <= 0 || port > 65535 || !inet_aton(s.substr(0, colon).c_str(), &sin->sin_addr))
    return false;
  sin->sin_port = htons(static_cast<uint16_t>(port));
  return true;
}

uint32_t runOf(const char* data, size_t n) {
  const char* at = static_cast<const char*>(memmem(data, n, kRunTag, sizeof kRunTag - 1));
  if (at == nullptr) return 0;
  return static_cast<uint32_t>(strtoul(at + sizeof kRunTag - 1, nullptr, 10));
}

void countLoop(int sock) {
  char buf[65536];
  while (!quit.load()) {
    struct pollfd p = {sock, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n;
    while ((n = recv(sock, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
      uint64_t now = bench_nowNs();
      anyNs.store(now);
      if (buf[0] == 0x30 && runOf(buf, n) == currentRun.load()) {
        if (received.fetch_add(1) == 0) firstNs.store(now);
        lastNs.store(now);
      }
    }
  }
}

// Waits until nothing has arrived for `quiet` seconds (at most `limit`).
void settle(double quiet, double limit) {
  double start = cli_now();
  while (cli_now() - start < limit) {
    double last = anyNs.load() / 1e9;
    if (cli_now() - last >= quiet) return;
    usleep(10000);
  }
}

void usage(FILE* out) {
  fprintf(out,
          "usage: %s --to IP:PORT --listen IP:PORT [--size BYTES] [--seconds S] [--steps N]\n"
          "Finds the loss-free rate of a trap forwarder at --to that forwards to --listen.\n",
          kProgram);
}

struct Options {
  struct sockaddr_in to, listen;
  bool haveTo = false, haveListen = false;
  size_t size = 200;
  double seconds = 2;
  int steps = 6;
};

// Reads the command line; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options* o) {
  enum { kTo = CLI_LONG, kListen, kSize, kSeconds, kSteps };
  auto take = [o](int c, const char* value) -> int {
    switch (c) {
      case kTo: o->haveTo = parseAddress(value, &o->to); return o->haveTo;
      case kListen: o->haveListen = parseAddress(value, &o->listen); return o->haveListen;
      case kSize:
        o->size = strtoul(value, nullptr, 10);
        return o->size >= 64 && o->size <= 60000;
      case kSeconds: o->seconds = atof(value); return o->seconds > 0;
      case kSteps: o->steps = atoi(value); break;
    }
    return CLI_TAKEN;
  };
  int status = cli_getOptions(kProgram, argc, argv, "", "to= listen= size= seconds= steps=",
                              usage, take);
  if (status < 0 && (!cli_needed(kProgram, o->haveTo, "--to IP:PORT") ||
                     !cli_needed(kProgram, o->haveListen, "--listen IP:PORT")))
    return 2;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int status = parseOptions(argc, argv, &o); status >= 0) return status;

  int in = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  // A deep buffer: whatever is lost must be lost by the forwarder, not here.
  int deep = 16 << 20;
  if (setsockopt(in, SOL_SOCKET, SO_RCVBUFFORCE, &deep, sizeof deep) != 0)
    setsockopt(in, SOL_SOCKET, SO_RCVBUF, &deep, sizeof deep);
  if (bind(in, reinterpret_cast<struct sockaddr*>(&o.listen), sizeof o.listen) != 0) {
    cli_error(kProgram, "bind: %s", strerror(errno));
    return 1;
  }
  int out = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (connect(out, reinterpret_cast<struct sockaddr*>(&o.to), sizeof o.to) != 0) {
    cli_error(kProgram, "connect: %s", strerror(errno));
    return 1;
  }
  std::thread counter(countLoop, in);

  uint32_t run = 0;
  auto measure = [&](double rate) {
    settle(0.1, 3);
    run++;
    currentRun.store(0);
    received.store(0);
    firstNs.store(0);
    lastNs.store(0);
    currentRun.store(run);
    // The run number goes into the text varbind, which the forwarder keeps.
    std::string trap = snmp_v2cTrap("public", static_cast<int32_t>(run), run * 100,
                                    kRunTag + std::to_string(run) + ";", o.size);
    RunResult r;
    r.target = rate;
    Pacer pacer(rate);
    double t0 = cli_now(), lastSend = t0;
    uint64_t want = rate > 0 ? static_cast<uint64_t>(rate * o.seconds) : 0;
    if (rate > 0 && want < 10) want = 10;
    for (uint64_t attempts = 0;; attempts++) {
      if (rate > 0 ? attempts >= want : cli_now() - t0 >= o.seconds) break;
      pacer.wait();
      lastSend = cli_now();
      // A send the kernel refused never reached the forwarder.
      if (send(out, trap.data(), trap.size(), 0) > 0) r.sent++;
    }
    r.sendSeconds = bench_span(r.sent, t0, lastSend);
    // Drain: until everything arrived or nothing more comes for 0.3 s.
    uint64_t seen = received.load();
    double quietSince = cli_now();
    while (received.load() < r.sent && cli_now() - quietSince < 0.3) {
      usleep(5000);
      uint64_t now = received.load();
      if (now != seen) {
        seen = now;
        quietSince = cli_now();
      }
    }
    r.delivered = received.load();
    r.deliverSeconds = bench_span(r.delivered, firstNs.load() / 1e9, lastNs.load() / 1e9);
    return r;
  };
  SearchResult s = bench_searchRate(measure, o.steps, [](const RunResult& r) {
    fprintf(stderr, "peer: %s\n", bench_describe(r).c_str());
  });
  quit.store(true);
  counter.join();
  double lossPct = s.full.sent > 0 ? 100.0 * s.full.lost() / s.full.sent : 0;
  printf("peer loss_free=%.0f full_rate=%.0f full_loss_pct=%.1f runs=%d\n", s.lossFree,
         s.full.offered(), lossPct, s.runs);
  return 0;
}
