// What an operator sees: the status that ovi_status reads after a console's
// cache overflowed, and one line on standard error for every reason the
// daemon cannot start, at every trace level.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness/fault_station.h"

namespace {

class OperatorTest : public FaultStation {
 protected:
  // The value of a per-console series of `ovi_status --prometheus`, or -1.
  static long long seriesOf(const std::string& text, const std::string& name,
                            const std::string& console) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, name.size() + 1, name + "{") != 0) continue;
      if (line.find("recv_orx=\"" + console + "\"") == std::string::npos) continue;
      return atoll(line.c_str() + line.rfind(' ') + 1);
    }
    return -1;
  }

  // Runs the daemon with these arguments and environment to its end;
  // returns its wait status and what it wrote on standard error.
  int runDaemon(const std::vector<std::string>& args, const std::vector<std::string>& env,
                std::string* err) {
    std::vector<std::string> argv = {OVI_SENDER_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    // A sanitized build's leak check would add its report to standard error.
    std::vector<std::string> withEnv = env;
    withEnv.push_back("ASAN_OPTIONS=detect_leaks=0");
    std::string out;
    return two_.run(station(), argv, &out, 60, withEnv, err);
  }
};

TEST_F(OperatorTest, StatusShowsExactlyTheReportsAFullCacheLost) {
  startStation();
  std::vector<Console*> consoles;
  ASSERT_NO_FATAL_FAILURE(addRegisteredConsoles(536873712, 3, &consoles));
  Console &a = *consoles[0], &b = *consoles[1], &stopped = *consoles[2];

  ASSERT_TRUE(stopped.proc.signal(SIGSTOP));
  // In pieces smaller than a cache, each taken by the others before the next.
  for (int first = 1; first <= 3000; first += 1000) {
    sendReports(first, 1000);
    ASSERT_TRUE(waitForReport(a, first + 999));
    ASSERT_TRUE(waitForReport(b, first + 999));
  }
  ASSERT_TRUE(stopped.proc.signal(SIGCONT));
  // Delivered in order: once a report sent now arrives, the cached ones did.
  int last = 3000;
  ASSERT_TRUE(waitUntil([&] {
    sendReports(++last, 1);
    return waitForReport(stopped, last, 1);
  }, 120));
  expectAll(a, 1, last);
  expectAll(b, 1, last);
  long long lost = last - static_cast<long long>(seqs(stopped).size());
  ASSERT_GT(lost, 0);

  // New counts are written within a second.
  std::string metrics;
  EXPECT_TRUE(waitUntil([&] {
    metrics = runInStation({OVI_STATUS_BIN, "--prometheus"});
    return seriesOf(metrics, "ovi_sender_reports_handed_total", stopped.name) ==
           static_cast<long long>(seqs(stopped).size());
  }, 20)) << metrics;
  EXPECT_EQ(lost, seriesOf(metrics, "ovi_sender_reports_dropped_total", stopped.name)) << metrics;
  for (Console* x : {&a, &b}) {
    EXPECT_EQ(0, seriesOf(metrics, "ovi_sender_reports_dropped_total", x->name)) << x->name;
    EXPECT_EQ(last, seriesOf(metrics, "ovi_sender_reports_handed_total", x->name)) << x->name;
  }
  EXPECT_NE(std::string::npos, metrics.find("ovi_sender_registrations 3\n")) << metrics;
  EXPECT_NE(std::string::npos, metrics.find("ovi_sender_up 1\n")) << metrics;

  // The table names each console, with the same counts.
  std::string table = runInStation({OVI_STATUS_BIN});
  for (Console* x : {&a, &b, &stopped})
    EXPECT_NE(std::string::npos, table.find(" " + x->name + " ")) << table;
  EXPECT_NE(std::string::npos, table.find(" " + std::to_string(lost) + " ")) << table;
  expectSettled();

  // A daemon that ended leaves no status behind.
  daemon_.stop(SIGTERM, 30);
  std::string out, err;
  EXPECT_EQ(1 << 8, two_.run(station(), {OVI_STATUS_BIN}, &out, 30, env_, &err));
  EXPECT_EQ(0u, err.rfind("ovi_status: no status file ", 0)) << err;
}

TEST_F(OperatorTest, EveryReasonNotToStartIsOneLineOnStandardErrorAtEveryTraceLevel) {
  std::string err;
  for (std::vector<std::string> level : {std::vector<std::string>{}, {"-d", "3"}}) {
    SCOPED_TRACE(level.empty() ? "no trace" : "trace level 3");
    const std::string missingRoot = files_.root() + "/missing";
    // No dispatcher to subscribe to.
    EXPECT_EQ(1 << 8, runDaemon(level, env_, &err));
    EXPECT_EQ(0u, err.rfind("ovi_sender: cannot subscribe to the event dispatcher qm.event: ", 0))
        << err;
    EXPECT_EQ(err.size() - 1, err.find('\n')) << err;
    // Another daemon serves program 100139.
    startStation();
    EXPECT_EQ(1 << 8, runDaemon(level, env_, &err));
    EXPECT_EQ(0u, err.rfind("ovi_sender: cannot initialize: ", 0)) << err;
    EXPECT_EQ(err.size() - 1, err.find('\n')) << err;
    daemon_.stop(SIGTERM, 30);
    qm_.stop(SIGTERM, 10);
    // OVI_ROOT names nothing.
    EXPECT_EQ(1 << 8, runDaemon(level, {"OVI_ROOT=" + missingRoot}, &err));
    EXPECT_EQ("ovi_sender: OVI_ROOT " + missingRoot + " is not a directory\n", err);
  }
  // The installation check fails (its reason spans lines; the line does not).
  files_.write("/opt/ZEPHline/orx/struct/elements.schema", "record component.router ( )\n");
  for (std::vector<std::string> level : {std::vector<std::string>{}, {"-d", "3"}}) {
    EXPECT_EQ(1 << 8, runDaemon(level, env_, &err));
    EXPECT_EQ(0u, err.rfind("ovi_sender: cannot be started: The management console was installed", 0))
        << err;
    EXPECT_EQ(err.size() - 1, err.find('\n')) << err;
  }
}

}  // namespace
