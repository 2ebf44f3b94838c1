// What the forwarding benchmark's drivers share: the counters a receiving
// process shares with the sending one through a mapped file, and the search
// for the highest rate that loses nothing.  The clock (cli_now, cli.h) and
// the pacer (pacer.h) are the test programs' too.
#ifndef BENCH_FORWARD_BENCH_COMMON_H_
#define BENCH_FORWARD_BENCH_COMMON_H_

#include <stdint.h>

#include <atomic>
#include <functional>
#include <string>

// Counters of one receiving process, in a file that both processes map.
// One slot per console; `run` names the measurement whose reports count, so
// that late arrivals of an earlier one are not taken for this one's.
enum { BENCH_MAX_CONSOLES = 64 };

struct BenchCounters {
  std::atomic<uint32_t> ready;       // 1 once every console is registered, 2 on failure
  std::atomic<uint32_t> stop;        // set by the sender: the receiver may end
  std::atomic<uint32_t> run;         // the measurement now counted
  uint32_t consoles;
  std::atomic<uint64_t> received[BENCH_MAX_CONSOLES];  // reports of `run`
  std::atomic<uint64_t> firstNs[BENCH_MAX_CONSOLES];   // arrival of the first one
  std::atomic<uint64_t> lastNs[BENCH_MAX_CONSOLES];    // arrival of the last one
  std::atomic<uint64_t> anyNs;       // arrival of the last report of any run
  std::atomic<uint64_t> stale;       // reports of other runs
  std::atomic<uint64_t> statusTraps; // registration status traps that said "succeeded"
  char failure[256];                 // why ready is 2
};

// Maps the counters file, creating it (zeroed) when `create`.  Returns null
// with a message on standard error when it cannot.  The mapping is never
// unmapped: it lives as long as the process.
BenchCounters* bench_mapCounters(const char* path, bool create);

// Zeroes the per-run counters and makes `run` the counted measurement.
void bench_startRun(BenchCounters* c, uint32_t run);

// Nanoseconds on the monotonic clock, as the counters hold them (the clock
// of cli_now).
uint64_t bench_nowNs();

// One measured run: how many were sent and in how long, how many the
// slowest receiver got and in how long.  A span of n events counts n
// intervals (bench_span), so that n events evenly spaced at rate R make
// n / span = R.
struct RunResult {
  double target = 0;       // asked rate; 0 at full speed
  uint64_t sent = 0;       // sends attempted
  uint64_t delivered = 0;  // the slowest receiver's count
  double sendSeconds = 0;     // span of the sends
  double deliverSeconds = 0;  // span of the arrivals at the slowest receiver

  uint64_t lost() const { return sent > delivered ? sent - delivered : 0; }
  double offered() const { return sendSeconds > 0 ? sent / sendSeconds : 0; }
  // Arrivals per second, from the first to the last (a backlog that drains
  // after the sends have ended lengthens the span).
  double deliveredRate() const { return deliverSeconds > 0 ? delivered / deliverSeconds : 0; }
  // No loss, and the receivers kept up with the sender: a backlog that grew
  // all run long would overflow in a longer one.
  bool clean() const { return sent > 0 && lost() == 0 && deliveredRate() >= 0.9 * offered(); }
};

// The search for the highest loss-free rate around one measurement
// function (rate 0: full speed).
struct SearchResult {
  RunResult full;          // the full-speed run
  double lossFree = 0;     // highest delivered rate of a clean run; 0 if none
  int runs = 0;
};

// The span of n events from the first at `first` to the last at `last`
// (seconds), counted as n intervals; 0 for fewer than two events.
double bench_span(uint64_t n, double first, double last);

// Runs at full speed first; when that loses nothing, its rate is the
// answer.  Otherwise paced runs start between the rate the full-speed run
// delivered and the rate it sent (at most twice the first), go down until
// one is clean, then bisect (geometrically)
// between the fastest clean rate and the slowest failed one, at most
// `steps` runs, until the two are within 5%.  Rates under 20/s are not
// tried.  `log` (may be empty) sees every run.
SearchResult bench_searchRate(const std::function<RunResult(double)>& measure, int steps,
                              const std::function<void(const RunResult&)>& log);

// Processor time the calling process has used, in seconds.
double bench_processSeconds();

// Processor time process `pid` has used, in seconds (its run time from
// /proc/PID/schedstat); -1 when it cannot be read.
double bench_runSeconds(int pid);

// One line describing a run, for logs.
std::string bench_describe(const RunResult& r);

#endif  // BENCH_FORWARD_BENCH_COMMON_H_
