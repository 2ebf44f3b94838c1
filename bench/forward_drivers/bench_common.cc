#include "bench_common.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

uint64_t bench_nowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + ts.tv_nsec;
}

BenchCounters* bench_mapCounters(const char* path, bool create) {
  int fd = open(path, create ? O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC : O_RDWR | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "bench: cannot open %s: %s\n", path, strerror(errno));
    return nullptr;
  }
  if (create && ftruncate(fd, sizeof(BenchCounters)) != 0) {
    fprintf(stderr, "bench: cannot size %s: %s\n", path, strerror(errno));
    close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, sizeof(BenchCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    fprintf(stderr, "bench: cannot map %s: %s\n", path, strerror(errno));
    return nullptr;
  }
  return static_cast<BenchCounters*>(p);
}

void bench_startRun(BenchCounters* c, uint32_t run) {
  // Stop counting first, so that no report lands in a half-cleared slot.
  c->run.store(0);
  for (int i = 0; i < BENCH_MAX_CONSOLES; i++) {
    c->received[i].store(0);
    c->firstNs[i].store(0);
    c->lastNs[i].store(0);
  }
  c->run.store(run);
}

double bench_processSeconds() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double bench_runSeconds(int pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/schedstat", pid);
  FILE* f = fopen(path, "r");
  if (f == nullptr) return -1;
  unsigned long long ns = 0;
  int got = fscanf(f, "%llu", &ns);
  fclose(f);
  return got == 1 ? ns / 1e9 : -1;
}

double bench_span(uint64_t n, double first, double last) {
  if (n < 2 || last <= first) return 0;
  return (last - first) * n / (n - 1);
}

// Below this the search stops: a slower road is reported as having no
// loss-free rate.
static const double kMinRate = 20;

SearchResult bench_searchRate(const std::function<RunResult(double)>& measure, int steps,
                              const std::function<void(const RunResult&)>& log) {
  SearchResult s;
  auto run = [&](double rate) {
    RunResult r = measure(rate);
    s.runs++;
    if (log) log(r);
    if (r.clean() && r.deliveredRate() > s.lossFree) s.lossFree = r.deliveredRate();
    return r;
  };
  s.full = run(0);
  if (s.full.clean()) return s;

  // Anything as fast as the full-speed run loses.  What it delivered is a
  // floor for what the road carries (the full-speed sender took its share
  // of the machine), so the first guess lies between the two.
  double hi = s.full.offered();
  double lo = 0;
  double delivered = s.full.deliveredRate();
  double rate = delivered > 0 && delivered < hi ? sqrt(delivered * hi) : hi / 2;
  if (delivered > 0 && rate > 2 * delivered) rate = 2 * delivered;
  for (int i = 0; i < steps && rate >= kMinRate; i++) {
    RunResult r = run(rate);
    if (r.clean()) {
      lo = rate;
      // A sender that could not reach the rate has found its own ceiling.
      if (r.offered() < 0.85 * rate) hi = rate;
    } else {
      hi = rate;
    }
    if (lo > 0 && hi / lo < 1.05) break;
    rate = lo > 0 ? sqrt(lo * hi) : rate * 0.6;
  }
  return s;
}

std::string bench_describe(const RunResult& r) {
  char line[256];
  snprintf(line, sizeof line,
           "target=%.0f sent=%llu delivered=%llu offered=%.0f/s delivered_rate=%.0f/s %s",
           r.target, static_cast<unsigned long long>(r.sent),
           static_cast<unsigned long long>(r.delivered), r.offered(), r.deliveredRate(),
           r.clean() ? "clean" : (r.lost() > 0 ? "LOSS" : "behind"));
  return line;
}
