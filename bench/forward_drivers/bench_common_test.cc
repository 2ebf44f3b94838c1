#include "bench_common.h"

#include <gtest/gtest.h>
#include <stdlib.h>
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

TEST(RunResultTest, SpansCountOneIntervalPerEvent) {
  // 11 events 0.1 s apart are 1.1 s of sending at 10 a second.
  EXPECT_DOUBLE_EQ(1.1, bench_span(11, 5.0, 6.0));
  EXPECT_DOUBLE_EQ(10, 11 / bench_span(11, 5.0, 6.0));
  EXPECT_EQ(0, bench_span(1, 5.0, 6.0));
  EXPECT_EQ(0, bench_span(0, 5.0, 6.0));
  EXPECT_EQ(0, bench_span(5, 6.0, 6.0));  // no time passed: no rate
  EXPECT_EQ(0, bench_span(5, 6.0, 5.0));
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

TEST(SearchTest, AFullSpeedRunWithoutLossEndsTheSearch) {
  SimulatedRoad road{50000, 30000};
  int logged = 0;
  SearchResult s = bench_searchRate(std::ref(road), 8, [&logged](const RunResult&) { logged++; });
  EXPECT_EQ(1, s.runs);
  EXPECT_EQ(1, logged);
  EXPECT_DOUBLE_EQ(30000, s.lossFree);
}

TEST(SearchTest, ARoadThatAlwaysLosesHasNoLossFreeRate) {
  int calls = 0;
  auto lossy = [&calls](double rate) {
    calls++;
    double offered = rate > 0 ? rate : 10000;
    return runOf(rate, static_cast<uint64_t>(offered), static_cast<uint64_t>(offered / 2), 1, 1);
  };
  SearchResult s = bench_searchRate(lossy, 6, nullptr);
  EXPECT_EQ(0, s.lossFree);
  EXPECT_EQ(7, calls);
}

TEST(CountersTest, TwoMappingsOfOneFileShareTheCounters) {
  char dir[] = "/tmp/bench_counters_XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  std::string path = std::string(dir) + "/counters";
  BenchCounters* receiver = bench_mapCounters(path.c_str(), true);
  ASSERT_NE(nullptr, receiver);
  BenchCounters* sender = bench_mapCounters(path.c_str(), false);
  ASSERT_NE(nullptr, sender);
  receiver->consoles = 3;
  receiver->received[2].store(41);
  receiver->ready.store(1);
  EXPECT_EQ(3u, sender->consoles);
  EXPECT_EQ(41u, sender->received[2].load());
  bench_startRun(sender, 9);
  EXPECT_EQ(0u, receiver->received[2].load());
  EXPECT_EQ(9u, receiver->run.load());
  EXPECT_EQ(1u, receiver->ready.load());
  EXPECT_EQ(nullptr, bench_mapCounters((std::string(dir) + "/missing").c_str(), false));
  unlink(path.c_str());
  rmdir(dir);
}

}  // namespace
