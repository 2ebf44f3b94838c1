// bench_report_sender: how many reports per second reach the consoles of a
// running bench_report_receiver without loss.  Sends reports by procedure 1
// to a program (ovi_sender's 100139 version 10, or qm.event's 100101
// version 10), each call waiting for its answer as the station's senders
// do, first at full speed and then at paced rates (bench_common.h).
//
//   bench_report_sender --counters FILE [--to HOST] [--prog N] [--vers N]
//                       [--kind trap|forwarded|dbtrap] [--size BYTES] [--from HOST]
//                       [--element NAME] [--seconds S] [--steps N]
//                       [--label TEXT] [--count N [--rate R]]
//
// trap: a plain trap from --from whose argument list is --size bytes;
// forwarded: the same trap as another station forwarded it (it names a third
// host in "vant_forwarded_by");
// dbtrap: a database-manager trap (agent program 100110) announcing that
// --element was added.  --count N sends N reports (at full speed, or R a
// second with --rate), waits for their arrival and logs that one run (a
// warm-up, or a run at a fixed rate) and prints "cpu_sender_us=U", the
// processor time this sender spent per report.  Otherwise prints one line
// "result label=L consoles=N size=B loss_free=R full_rate=R full_loss_pct=P
// runs=N" and logs every run on standard error.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "bench_common.h"
#include "bench_report.h"
#include "cli.h"
#include "pacer.h"
#include "station_calls.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_service_msg.h"

namespace {

const char kProgram[] = "bench_report_sender";

struct Options {
  std::string counters;
  std::string to = "localhost";
  uint64_t prog = 100139, vers = 10;
  std::string kind = "trap";
  uint64_t size = 200;
  std::string from = "router7";
  std::string element = "router7";
  double seconds = 2;
  int steps = 5;
  std::string label = "forward";
  uint64_t count = 0;
  double rate = 0;
};

int buildMessage(const Options& o, TesselServiceMsg* msg) {
  if (o.kind == "dbtrap") return bench_buildDbTrap(msg, o.from, o.element);
  if (o.kind == "forwarded") return bench_buildForwardedTrap(msg, o.from, o.size);
  return bench_buildTrap(msg, o.from, o.size);
}

void usage(FILE* out) {
  fprintf(out,
          "usage: %s --counters FILE [--to HOST] [--prog N] [--vers N]\n"
          "       [--kind trap|forwarded|dbtrap] [--size BYTES] [--from HOST] [--element NAME]\n"
          "       [--seconds S] [--steps N] [--label TEXT] [--count N [--rate R]]\n"
          "Finds how many reports per second reach the consoles of a running\n"
          "bench_report_receiver without loss, or sends --count reports once.\n",
          kProgram);
}

// Reads the command line; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options* o) {
  enum { kCounters = CLI_LONG, kTo, kProg, kVers, kKind, kSize, kFrom, kElement, kSeconds, kSteps,
         kLabel, kCount, kRate };
  auto take = [o](int c, const char* value) -> int {
    uint64_t n;
    switch (c) {
      case kCounters: o->counters = value; break;
      case kTo: o->to = value; break;
      case kProg: return cli_parseUnsigned(value, UINT32_MAX, &o->prog);
      case kVers: return cli_parseUnsigned(value, UINT32_MAX, &o->vers);
      case kKind:
        o->kind = value;
        return o->kind == "trap" || o->kind == "forwarded" || o->kind == "dbtrap";
      case kSize: return cli_parseUnsigned(value, 512 * 1024, &o->size);
      case kFrom: o->from = value; break;
      case kElement: o->element = value; break;
      case kSeconds: o->seconds = atof(value); return o->seconds > 0;
      case kSteps:
        if (!cli_parseUnsigned(value, 50, &n)) return CLI_BAD_VALUE;
        o->steps = static_cast<int>(n);
        break;
      case kLabel: o->label = value; break;
      case kCount: return cli_parseUnsigned(value, 1000000, &o->count);
      case kRate: o->rate = atof(value); return o->rate >= 0;
    }
    return CLI_TAKEN;
  };
  int status = cli_getOptions(kProgram, argc, argv, "",
                              "counters= to= prog= vers= kind= size= from= element= seconds= "
                              "steps= label= count= rate=",
                              usage, take);
  if (status < 0 && !cli_needed(kProgram, !o->counters.empty(), "--counters FILE")) return 2;
  return status;
}

class Sender {
 public:
  Sender(const Options& o, BenchCounters* c, TesselServiceMsg* msg, TesselCaller* caller)
      : o_(o), c_(c), msg_(msg), caller_(caller) {}

  // One run at `rate` (0: full speed for the run's seconds, or `count`
  // reports when count is given).
  RunResult measure(double rate, uint64_t count = 0) {
    settle();
    run_++;
    bench_startRun(c_, run_);
    bench_setRun(msg_, run_);
    RunResult r;
    r.target = rate;
    Pacer pacer(rate);
    uint64_t want = count;
    if (rate > 0 && count == 0) {
      want = static_cast<uint64_t>(rate * o_.seconds);
      if (want < 10) want = 10;
    }
    double t0 = cli_now(), lastSend = t0;
    for (;;) {
      if (want > 0 ? r.sent >= want : cli_now() - t0 >= o_.seconds) break;
      pacer.wait();
      lastSend = cli_now();
      Tessel_error reply;
      r.sent++;
      if (!caller_->send(msg_, {5, 0}, &reply)) failures_++;
    }
    r.sendSeconds = bench_span(r.sent, t0, lastSend);
    drain(r.sent);
    // The slowest console decides: the fewest reports, the longest span.
    r.delivered = UINT64_MAX;
    for (uint32_t i = 0; i < c_->consoles; i++) {
      uint64_t got = c_->received[i].load();
      if (got < r.delivered) r.delivered = got;
      double span = bench_span(got, c_->firstNs[i].load() / 1e9, c_->lastNs[i].load() / 1e9);
      if (span > r.deliverSeconds) r.deliverSeconds = span;
    }
    return r;
  }

  uint64_t failures() const { return failures_; }

 private:
  // Waits until the reports of earlier runs have stopped arriving.
  void settle() {
    double start = cli_now();
    while (cli_now() - start < 5 && cli_now() - c_->anyNs.load() / 1e9 < 0.15) usleep(10000);
  }

  // Waits until every console has them all, or nothing has arrived for
  // 0.5 s (a lost report is not coming), at most 30 s.
  void drain(uint64_t sent) {
    double start = cli_now(), quietSince = start;
    uint64_t seen = total();
    while (cli_now() - start < 30) {
      bool all = true;
      for (uint32_t i = 0; i < c_->consoles; i++) all = all && c_->received[i].load() >= sent;
      if (all) return;
      usleep(2000);
      uint64_t now = total();
      if (now != seen) {
        seen = now;
        quietSince = cli_now();
      } else if (cli_now() - quietSince > 0.5) {
        return;
      }
    }
  }

  uint64_t total() const {
    uint64_t sum = 0;
    for (uint32_t i = 0; i < c_->consoles; i++) sum += c_->received[i].load();
    return sum;
  }

  const Options& o_;
  BenchCounters* c_;
  TesselServiceMsg* msg_;
  TesselCaller* caller_;
  uint32_t run_ = 0;
  uint64_t failures_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int status = parseOptions(argc, argv, &o); status >= 0) return status;
  // The receiver may still be making the file.
  double start = cli_now();
  struct stat st;
  const off_t whole = static_cast<off_t>(sizeof(BenchCounters));
  while ((stat(o.counters.c_str(), &st) != 0 || st.st_size < whole) && cli_now() - start < 60)
    usleep(20000);
  BenchCounters* c = bench_mapCounters(o.counters.c_str(), false);
  if (c == nullptr) return 1;
  while (c->ready.load() == 0 && cli_now() - start < 120) usleep(20000);
  if (c->ready.load() != 1) {
    cli_error(kProgram, "the consoles are not registered: %s",
              c->ready.load() == 2 ? c->failure : "no answer in 120 s");
    return 1;
  }
  TesselServiceMsg msg;
  if (!buildMessage(o, &msg)) {
    cli_error(kProgram, "cannot build the report");
    return 1;
  }
  TesselCaller caller;
  if (!tools_aimCaller(kProgram, o.to.c_str(), o.prog, o.vers, &caller)) return 1;
  Sender sender(o, c, &msg, &caller);

  if (o.count > 0) {
    double cpu0 = bench_processSeconds();
    RunResult r = sender.measure(o.rate, o.count);
    double cpu = bench_processSeconds() - cpu0;
    fprintf(stderr, "%s (one run): %s\n", o.label.c_str(), bench_describe(r).c_str());
    printf("cpu_sender_us=%.1f\n", r.sent > 0 ? 1e6 * cpu / r.sent : 0.0);
    return r.lost() == 0 ? 0 : 1;
  }
  SearchResult s = bench_searchRate(
      [&sender](double rate) { return sender.measure(rate); }, o.steps,
      [&o](const RunResult& r) {
        fprintf(stderr, "%s: %s\n", o.label.c_str(), bench_describe(r).c_str());
      });
  double lossPct = s.full.sent > 0 ? 100.0 * s.full.lost() / s.full.sent : 0;
  printf("result label=%s consoles=%u size=%u loss_free=%.0f full_rate=%.0f full_loss_pct=%.1f "
         "runs=%d send_failures=%llu\n",
         o.label.c_str(), c->consoles, msg.arglistLength, s.lossFree, s.full.offered(), lossPct,
         s.runs, static_cast<unsigned long long>(sender.failures()));
  return 0;
}
