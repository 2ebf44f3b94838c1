#include "bench_common.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

RunResult runOf(double target, uint64_t sent, uint64_t delivered, double sendSeconds,
                double deliverSeconds) {
  RunResult r;
  r.target = target;
  r.sent = sent;
  r.delivered = delivered;
  r.sendSeconds = sendSeconds;
  r.deliverSeconds = deliverSeconds;
  return r;
}

TEST(RunResultTest, CleanMeansNoLossAndNoGrowingBacklog) {
  EXPECT_TRUE(runOf(1000, 1000, 1000, 1.0, 1.01).clean());
  EXPECT_FALSE(runOf(1000, 1000, 999, 1.0, 1.01).clean());
  // Everything arrived, but the drain took twice the sending time.
  RunResult behind = runOf(1000, 1000, 1000, 1.0, 2.0);
  EXPECT_FALSE(behind.clean());
  EXPECT_EQ(0u, behind.lost());
  EXPECT_DOUBLE_EQ(500, behind.deliveredRate());
  EXPECT_FALSE(runOf(0, 0, 0, 0, 0).clean());
  EXPECT_EQ(0u, runOf(0, 10, 12, 1, 1).lost());
}

// A road that carries `capacity` per second and keeps up to `buffer`
// reports; the full-speed sender offers `fullSpeed` per second.
struct SimulatedRoad {
  double capacity;
  double fullSpeed;
  double buffer = 0;
  int calls = 0;
  RunResult operator()(double rate) {
    calls++;
    double offered = rate > 0 ? rate : fullSpeed;
    double seconds = 1.0;
    uint64_t sent = static_cast<uint64_t>(offered * seconds);
    if (offered <= capacity) return runOf(rate, sent, sent, seconds, seconds);
    double carried = capacity * seconds + buffer;
    if (carried >= sent) return runOf(rate, sent, sent, seconds, sent / capacity);
    return runOf(rate, sent, static_cast<uint64_t>(carried), seconds, carried / capacity);
  }
};

TEST(SearchTest, FindsTheCapacityFromBelowWithinTheStepsGiven) {
  for (double capacity : {700.0, 4000.0, 9000.0, 25000.0}) {
    SimulatedRoad road{capacity, 30000};
    SearchResult s = bench_searchRate(std::ref(road), 8, nullptr);
    EXPECT_LE(s.lossFree, capacity + 0.5) << capacity;
    EXPECT_GE(s.lossFree, 0.9 * capacity) << capacity;
    EXPECT_FALSE(s.full.clean());
    EXPECT_LE(s.runs, 9);
    EXPECT_EQ(road.calls, s.runs);
  }
}

TEST(SearchTest, ABufferThatHidesLossStillYieldsTheDeliveredRate) {
  SimulatedRoad road{5000, 30000, 1024};
  SearchResult s = bench_searchRate(std::ref(road), 8, nullptr);
  EXPECT_LE(s.lossFree, 5000.5);
  EXPECT_GE(s.lossFree, 4500);
}

// The processor-time readings that the per-process costs are made of: both
// grow with work done, and a process that is gone reads as unknown.
TEST(ProcessorTimeTest, GrowsWithWorkAndIsUnknownForAProcessThatIsGone) {
  double own0 = bench_processSeconds(), run0 = bench_runSeconds(getpid());
  ASSERT_GE(run0, 0);
  volatile unsigned long spin = 0;
  while (bench_processSeconds() - own0 < 0.02) spin = spin + 1;
  EXPECT_GE(bench_runSeconds(getpid()) - run0, 0.015);
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  ASSERT_GT(gone, 0);
  waitpid(gone, nullptr, 0);
  EXPECT_EQ(-1, bench_runSeconds(gone));
}

}  // namespace
