// station_probe: load and bad input for end-to-end tests of a station.
//
//   station_probe reports [--to HOST] [--prog N] [--vers N] [--type N]
//                         [--from HOST] [--first N] [--count N] [--rate N]
//                         [--tag TEXT] [--pad BYTES]
//       Sends --count numbered reports (type 12 by default) by procedure 1,
//       each after the answer to the one before: the datum "seq" (int)
//       numbers them from --first (default 1), "tag" (string) carries --tag
//       when given and "pad" (string) --pad bytes.  --rate paces them to N a
//       second.  Prints "sent N failed M" at the end; exits 1 when a report
//       got no answer or a status other than 0.
//
//   station_probe flood [--to HOST] [--prog N] [--vers N] [--count N]
//       Opens --count TCP connections to the program and holds them, then
//       calls the NULL procedure over TCP and UDP and prints
//       "held N", "tcp null-during-flood RESULT" and "udp null-during-flood
//       RESULT".  Holds the connections until SIGTERM, then closes them and
//       prints "closed N".
//
//   station_probe garbage [--to HOST] [--prog N] [--vers N]
//       Sends bad input to the program over UDP and TCP: raw bytes that are
//       no RPC message, calls whose arguments are cut, oversized, damaged or
//       random, calls of an unknown procedure and version, and calls made
//       while idle and stalled connections are held open.  Prints one line a
//       case, "PROTOCOL CASE RESULT", RESULT being the RPC status of a call
//       or "sent" for raw bytes; the last lines are the NULL procedure over
//       both protocols once everything is closed.
//
// Ends on SIGTERM; exit status 2 on a usage error.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "cli.h"
#include "datum.h"
#include "pacer.h"
#include "station_calls.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_codec.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_xdr.h"

namespace {

const char kProgram[] = "station_probe";

struct Options {
  std::string to = "localhost";
  uint64_t prog = QM_EVENT_PROG;
  uint64_t vers = QM_EVENT_VERS;
  uint64_t type = TESSEL_MSG_TRAP;
  std::string from = "probe";
  uint64_t first = 1;
  uint64_t count = 1;
  uint64_t rate = 0;
  std::string tag;
  uint64_t pad = 0;
};

// Makes msg a report of `type` from host `from` whose data are "seq" (int),
// "tag" (string) when tag is not empty and "pad" (string) when pad is not.
// Returns 0 when the message cannot hold them.
int buildNumberedReport(TesselServiceMsg* msg, uint32_t type, const char* from, int32_t seq,
                        const std::string& tag, const std::string& pad) {
  msg->type = type;
  msg->setHost(from);
  return msg->clearData() && tools_putWord(msg, "seq", TESSEL_INT, static_cast<uint32_t>(seq)) &&
         (tag.empty() || tools_putText(msg, "tag", tag)) &&
         (pad.empty() || tools_putText(msg, "pad", pad));
}

int sendReports(const Options& o) {
  TesselCaller caller;
  if (!tools_aimCaller(kProgram, o.to.c_str(), o.prog, o.vers, &caller)) return 1;
  std::string pad(o.pad, 'p');
  uint64_t sent = 0, failed = 0;
  Pacer pacer(static_cast<double>(o.rate));
  for (uint64_t i = 0; i < o.count && !cli_stopRequested; i++) {
    pacer.wait();
    TesselServiceMsg msg;
    int32_t seq = static_cast<int32_t>(o.first + i);
    if (!buildNumberedReport(&msg, static_cast<uint32_t>(o.type), o.from.c_str(), seq, o.tag,
                             pad)) {
      cli_error(kProgram, "report %d cannot be encoded", static_cast<int>(seq));
      return 1;
    }
    Tessel_error reply;
    if (caller.send(&msg, {25, 0}, &reply) && reply.status == 0) {
      sent++;
    } else {
      failed++;
      cli_error(kProgram, "report %d: %s", static_cast<int>(seq),
                reply.status != 0 ? reply.message : tessel_sperror());
    }
  }
  printf("sent %llu failed %llu\n", static_cast<unsigned long long>(sent),
         static_cast<unsigned long long>(failed));
  return failed == 0 ? 0 : 1;
}

// ---- garbage ----

const char* statName(enum clnt_stat stat) {
  switch (stat) {
    case RPC_SUCCESS: return "RPC_SUCCESS";
    case RPC_CANTDECODEARGS: return "RPC_CANTDECODEARGS";
    case RPC_PROCUNAVAIL: return "RPC_PROCUNAVAIL";
    case RPC_PROGVERSMISMATCH: return "RPC_PROGVERSMISMATCH";
    case RPC_TIMEDOUT: return "RPC_TIMEDOUT";
    case RPC_CANTRECV: return "RPC_CANTRECV";
    case RPC_CANTSEND: return "RPC_CANTSEND";
    case RPC_SYSTEMERROR: return "RPC_SYSTEMERROR";
    default: return "RPC_OTHER";
  }
}

void report(const char* proto, const std::string& name, const char* result) {
  printf("%s %s %s\n", proto, name.c_str(), result);
  fflush(stdout);
}

// Arguments that are the given bytes, as they are.
const std::string* rawArgs = nullptr;
bool_t xdrRaw(XDR* x, void*) {
  // xdr_opaque pads to four bytes; the bytes themselves go out unchanged.
  return xdr_opaque(x, const_cast<char*>(rawArgs->data()), rawArgs->size());
}

enum clnt_stat callRaw(CLIENT* handle, u_long proc, const std::string& bytes) {
  rawArgs = &bytes;
  Tessel_error reply;
  memset(&reply, 0, sizeof reply);
  struct timeval timeout = {5, 0};
  return clnt_call(handle, proc, (xdrproc_t)xdrRaw, nullptr, (xdrproc_t)_tessel_xdrStatus,
                   (char*)&reply, timeout);
}

enum clnt_stat callNull(CLIENT* handle) {
  struct timeval timeout = {5, 0};
  return clnt_call(handle, NULLPROC, (xdrproc_t)tessel_xdrVoid, nullptr,
                   (xdrproc_t)tessel_xdrVoid, nullptr, timeout);
}

std::string word(uint32_t w) {
  uint32_t net = htonl(w);
  return std::string(reinterpret_cast<const char*>(&net), 4);
}

// The envelope around a body: its size, the body padded, its checksum.
std::string envelope(const std::string& body) {
  std::string out = word(static_cast<uint32_t>(body.size())) + body;
  out.append((4 - body.size() % 4) % 4, '\0');
  return out + word(tessel_crc32(body.data(), body.size()));
}

// A trap whose encoding is valid, as the wire carries it.
std::string validMessage() {
  TesselServiceMsg msg;
  buildNumberedReport(&msg, TESSEL_MSG_TRAP, "garbage", 0, "", "");
  std::vector<char> buf(8192);
  XDR x;
  xdrmem_create(&x, buf.data(), buf.size(), XDR_ENCODE);
  bool_t ok = _tessel_serialMsg(&x, &msg);
  std::string out(buf.data(), ok ? xdr_getpos(&x) : 0);
  xdr_destroy(&x);
  return out;
}

std::string randomBytes(std::mt19937* rng, size_t n) {
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>((*rng)() & 0xff);
  return out;
}

struct sockaddr_in addressOf(struct in_addr host, unsigned short port) {
  struct sockaddr_in sin;
  memset(&sin, 0, sizeof sin);
  sin.sin_family = AF_INET;
  sin.sin_addr = host;
  sin.sin_port = htons(port);
  return sin;
}

void sendDatagram(struct in_addr host, unsigned short port, const std::string& bytes) {
  struct sockaddr_in sin = addressOf(host, port);
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return;
  sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<struct sockaddr*>(&sin), sizeof sin);
  close(s);
}

// A TCP connection to the port, or -1.
int connectTo(struct in_addr host, unsigned short port) {
  struct sockaddr_in sin = addressOf(host, port);
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s >= 0 && connect(s, reinterpret_cast<struct sockaddr*>(&sin), sizeof sin) != 0) {
    close(s);
    s = -1;
  }
  return s;
}

void writeAll(int s, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(s, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// An RPC call header for program/version/procedure with no credentials.
std::string callHeader(uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc) {
  return word(xid) + word(0) + word(2) + word(prog) + word(vers) + word(proc) + word(0) + word(0) +
         word(0) + word(0);
}

// A TCP record mark: last fragment, n bytes.
std::string recordMark(uint32_t n) { return word(0x80000000u | n); }

int sendGarbage(const Options& o) {
  struct in_addr host;
  if (!tools_resolve(kProgram, o.to.c_str(), &host)) return 1;
  unsigned short udpPort = tessel_getport(host, o.prog, o.vers, IPPROTO_UDP, {5, 0});
  unsigned short tcpPort = tessel_getport(host, o.prog, o.vers, IPPROTO_TCP, {5, 0});
  if (udpPort == 0 || tcpPort == 0) {
    cli_error(kProgram, "program %llu version %llu is not served", (unsigned long long)o.prog,
              (unsigned long long)o.vers);
    return 1;
  }
  std::mt19937 rng(20240611);
  const uint32_t prog = static_cast<uint32_t>(o.prog), vers = static_cast<uint32_t>(o.vers);
  const std::string valid = validMessage();
  const std::string call = callHeader(7, prog, vers, TESSEL_PROC_MESSAGE);

  // Bytes that are no RPC message at all.
  std::vector<std::pair<std::string, std::string>> raw = {
      {"empty", ""},
      {"one-byte", std::string(1, '\0')},
      {"random", randomBytes(&rng, 4096)},
      {"reply-not-call", word(7) + word(1) + word(0)},
      {"cut-header", call.substr(0, 10)},
      {"cut-arguments", call + valid.substr(0, valid.size() / 2)},
  };
  for (const auto& r : raw) {
    sendDatagram(host, udpPort, r.second);
    report("udp", "raw-" + r.first, "sent");
    int s = connectTo(host, tcpPort);
    if (s >= 0) {
      writeAll(s, recordMark(static_cast<uint32_t>(r.second.size())) + r.second);
      close(s);
    }
    report("tcp", "raw-" + r.first, "sent");
  }
  sendDatagram(host, udpPort, randomBytes(&rng, 65000));
  report("udp", "raw-oversized", "sent");
  // Records the service must refuse: a length past its limit, then a record
  // cut short, then a stream of fragments that never ends in a last one.
  for (auto bytes : {word(0x7fffffff), recordMark(64) + call.substr(0, 20),
                     word(4096) + randomBytes(&rng, 4096) + word(4096) + randomBytes(&rng, 4096)}) {
    int s = connectTo(host, tcpPort);
    if (s >= 0) {
      writeAll(s, bytes);
      close(s);
    }
  }
  report("tcp", "raw-bad-records", "sent");
  std::string huge = randomBytes(&rng, 2 << 20);
  int s = connectTo(host, tcpPort);
  if (s >= 0) {
    struct timeval limit = {5, 0};
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    writeAll(s, recordMark(static_cast<uint32_t>(huge.size())) + huge);
    close(s);
  }
  report("tcp", "raw-oversized", "sent");

  // Calls whose arguments do not decode.
  std::string body = valid.substr(4, valid.size() - 8);
  std::vector<std::pair<std::string, std::string>> bad = {
      {"no-arguments", ""},
      {"cut-envelope", valid.substr(0, valid.size() - 4)},
      {"cut-body", valid.substr(0, 40)},
      {"damaged-body", [&] { std::string v = valid; v[60] ^= 0x20; return v; }()},
      {"wrong-checksum", [&] { std::string v = valid; v[v.size() - 1] ^= 1; return v; }()},
      {"oversized-envelope", word(TESSEL_MAX_ARGLIST + 8192) + randomBytes(&rng, 1024)},
      {"random-body", envelope(randomBytes(&rng, 512))},
      {"random-after-format", envelope(word(1) + randomBytes(&rng, 512))},
      {"bad-argument-list", envelope(body.substr(0, body.size() - 8) + word(0xffffffffu) +
                                     word(0x7fffffff))},
      {"long-arguments", envelope(randomBytes(&rng, 60000))},
  };
  for (int protocol : {TESSEL_PROTO_UDP, TESSEL_PROTO_TCP}) {
    const char* proto = protocol == TESSEL_PROTO_UDP ? "udp" : "tcp";
    TesselClient client;
    if (!client.getClient(host, protocol, prog, vers, 0, {5, 0})) {
      report(proto, "client", "none");
      continue;
    }
    for (const auto& b : bad) {
      enum clnt_stat stat = callRaw(client.handle(), TESSEL_PROC_MESSAGE, b.second);
      report(proto, b.first, statName(stat));
      // A call the service could not answer leaves a TCP client unusable.
      if (stat != RPC_CANTDECODEARGS && stat != RPC_SUCCESS)
        client.getClient(host, protocol, prog, vers, 0, {5, 0});
    }
    report(proto, "unknown-procedure", statName(callRaw(client.handle(), 9, valid)));
    TesselClient other;
    if (other.getClient(host, protocol, prog, vers, 0, {5, 0})) {
      // Another version of the same program, on the same port.
      uint32_t wrong = vers + 1;
      clnt_control(other.handle(), CLSET_VERS, reinterpret_cast<char*>(&wrong));
      report(proto, "unknown-version", statName(callNull(other.handle())));
    }
  }

  // Connections held open: idle ones, and one that stopped halfway through
  // a request.  The service answers others meanwhile.
  std::vector<int> held;
  for (int i = 0; i < 64; i++) {
    int c = connectTo(host, tcpPort);
    if (c >= 0) held.push_back(c);
  }
  int stalled = connectTo(host, tcpPort);
  if (stalled >= 0) {
    std::string request = call + valid;
    writeAll(stalled, recordMark(static_cast<uint32_t>(request.size())) +
                          request.substr(0, request.size() / 2));
    held.push_back(stalled);
  }
  for (int protocol : {TESSEL_PROTO_UDP, TESSEL_PROTO_TCP}) {
    TesselClient client;
    const char* proto = protocol == TESSEL_PROTO_UDP ? "udp" : "tcp";
    bool ok = client.getClient(host, protocol, prog, vers, 0, {5, 0});
    report(proto, "null-while-held", ok ? statName(callNull(client.handle())) : "none");
  }
  for (int c : held) close(c);
  report("tcp", "held-connections", std::to_string(held.size()).c_str());

  for (int protocol : {TESSEL_PROTO_UDP, TESSEL_PROTO_TCP}) {
    TesselClient client;
    const char* proto = protocol == TESSEL_PROTO_UDP ? "udp" : "tcp";
    bool ok = client.getClient(host, protocol, prog, vers, 0, {5, 0});
    report(proto, "null", ok ? statName(callNull(client.handle())) : "none");
  }
  return 0;
}

int flood(const Options& o) {
  struct in_addr host;
  if (!tools_resolve(kProgram, o.to.c_str(), &host)) return 1;
  // More connections than a select loop can watch: this process needs the
  // descriptors.
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < o.count + 64) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  unsigned short tcpPort = tessel_getport(host, o.prog, o.vers, IPPROTO_TCP, {5, 0});
  if (tcpPort == 0) {
    cli_error(kProgram, "program %llu version %llu is not served", (unsigned long long)o.prog,
              (unsigned long long)o.vers);
    return 1;
  }
  std::vector<int> held;
  for (uint64_t i = 0; i < o.count; i++) {
    int c = connectTo(host, tcpPort);
    if (c < 0) break;
    held.push_back(c);
  }
  printf("held %zu\n", held.size());
  fflush(stdout);
  const uint32_t prog = static_cast<uint32_t>(o.prog), vers = static_cast<uint32_t>(o.vers);
  for (int protocol : {TESSEL_PROTO_TCP, TESSEL_PROTO_UDP}) {
    TesselClient client;
    const char* proto = protocol == TESSEL_PROTO_UDP ? "udp" : "tcp";
    bool ok = client.getClient(host, protocol, prog, vers, 0, {10, 0});
    report(proto, "null-during-flood", ok ? statName(callNull(client.handle())) : "none");
  }
  while (!cli_stopRequested) {
    struct timespec nap = {0, 50 * 1000 * 1000};
    nanosleep(&nap, nullptr);
  }
  for (int c : held) close(c);
  printf("closed %zu\n", held.size());
  return 0;
}

void usage(FILE* out) {
  fprintf(out,
          "usage: station_probe reports [--to HOST] [--prog N] [--vers N] [--type N]\n"
          "                             [--from HOST] [--first N] [--count N] [--rate N]\n"
          "                             [--tag TEXT] [--pad BYTES]\n"
          "       station_probe flood [--to HOST] [--prog N] [--vers N] [--count N]\n"
          "       station_probe garbage [--to HOST] [--prog N] [--vers N]\n"
          "Sends numbered reports, holds a flood of TCP connections, or sends bad input to\n"
          "program --prog (100101) version --vers (10) on --to (localhost).\n");
}

// Reads the options after the command word; returns -1 to go on, else the
// exit status.
int parseOptions(int argc, char** argv, Options* o) {
  enum { kTo = CLI_LONG, kProg, kVers, kType, kFrom, kFirst, kCount, kRate, kTag, kPad };
  auto take = [o](int c, const char* value) -> int {
    switch (c) {
      case kTo: o->to = value; break;
      case kProg: return cli_parseUnsigned(value, UINT32_MAX, &o->prog);
      case kVers: return cli_parseUnsigned(value, UINT32_MAX, &o->vers);
      case kType: return cli_parseUnsigned(value, UINT32_MAX, &o->type);
      case kFrom: o->from = value; break;
      case kFirst: return cli_parseUnsigned(value, INT32_MAX, &o->first);
      case kCount: return cli_parseUnsigned(value, INT32_MAX, &o->count);
      case kRate: return cli_parseUnsigned(value, 1000000, &o->rate);
      case kTag: o->tag = value; break;
      case kPad: return cli_parseUnsigned(value, TESSEL_MAX_ARGLIST / 2, &o->pad);
    }
    return CLI_TAKEN;
  };
  return cli_getOptions(kProgram, argc, argv, "",
                        "to= prog= vers= type= from= first= count= rate= tag= pad=", usage, take);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    cli_error(kProgram, "usage: station_probe reports|garbage|flood [OPTION...]");
    return 2;
  }
  std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    usage(stdout);
    return 0;
  }
  Options o;
  int status = parseOptions(argc - 1, argv + 1, &o);
  if (status >= 0) return status;
  cli_catchStopSignals();
  if (command == "reports") return sendReports(o);
  if (command == "garbage") return sendGarbage(o);
  if (command == "flood") return flood(o);
  cli_error(kProgram, "unknown command %s", command.c_str());
  return 2;
}
