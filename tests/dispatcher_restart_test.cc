// qm.event stopped and started again: the daemon subscribes once, at its own
// start, so the dispatcher must come back with the subscribers its file
// keeps, or every report is lost until the daemon restarts.  And a
// subscriptions file that cannot be read or written must be reported,
// never keep the dispatcher from serving.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "harness/fault_station.h"

namespace {

const char kFile[] = "/var/opt/ZEPHline/orx/qm.event.subscriptions";

class DispatcherRestartTest : public FaultStation {
 protected:
  void TearDown() override {
    // The daemon unsubscribes as it ends: the dispatchers go after it.
    FaultStation::TearDown();
    for (auto& qm : dispatchers_)
      if (qm->running()) qm->stop(SIGTERM, 10);
  }

  // Starts another qm.event in the station, as startStation does, and waits
  // until it serves.
  Process& startDispatcher(const std::vector<std::string>& env) {
    dispatchers_.push_back(std::make_unique<Process>());
    Process& qm = *dispatchers_.back();
    EXPECT_TRUE(two_.start(&qm, station(), {QM_EVENT_BIN, "-d", "1"}, env));
    EXPECT_TRUE(qm.waitForOutput("serving program", 20)) << qm.errors();
    return qm;
  }

  // The subscriber lines of the station's file.
  std::vector<std::string> storedSubscribers() const {
    std::vector<std::string> out;
    std::string text = files_.read(kFile);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
      end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      if (text[at] != '#') out.push_back(text.substr(at, end - at));
    }
    return out;
  }

  // The daemon starts and subscribes through qm, the console registers and
  // gets reports first to first + 9; then the daemon ends (unsubscribing).
  void serveThrough(Process& qm, Console& c, int first) {
    // Only the daemon subscribes live here; qm may have served one before.
    const std::string subscribed = ": subscribed ";
    const int before = countLines(qm.output(), subscribed);
    ASSERT_TRUE(two_.start(&daemon_, station(), {OVI_SENDER_BIN, "-d", "1"}, env_));
    ASSERT_TRUE(waitUntil([&] { return countLines(qm.output(), subscribed) > before; }, 30))
        << qm.output() << daemon_.errors();
    ASSERT_GT(registerConsole(c), 0);
    sendReports(first, 10);
    expectAll(c, first, first + 9);
    EXPECT_EQ(0, daemon_.stop(SIGTERM, 30)) << daemon_.errors();
    EXPECT_TRUE(qm.waitForOutput("unsubscribed", 30)) << qm.output();
    forget(c);
  }

  std::vector<std::unique_ptr<Process>> dispatchers_;
};

// Lines of standard error, each of which must be the dispatcher's own.
std::vector<std::string> complaints(const Process& qm) {
  std::vector<std::string> out;
  std::string text = qm.errors();
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    EXPECT_EQ(0u, out.back().rfind("qm.event: ", 0)) << out.back();
  }
  return out;
}

TEST_F(DispatcherRestartTest, KilledOrStoppedDispatcherServesTheDaemonAgainFromItsFile) {
  startStation();
  Console& c = addConsole("536873600", "3");
  ASSERT_GT(registerConsole(c), 0);
  sendReports(1, 10);
  expectAll(c, 1, 10);
  const pid_t daemon = daemon_.pid();

  Process* qm = &qm_;
  int last = 10;
  for (int signo : {SIGKILL, SIGTERM}) {
    SCOPED_TRACE(signo == SIGKILL ? "after SIGKILL" : "after SIGTERM");
    qm->stop(signo, 10);
    qm = &startDispatcher(env_);
    // The daemon's subscription came back from the file, not from the
    // daemon subscribing again.
    int daemonLines = 0;
    for (const std::string& l : qm->lines())
      if (l.find("program 100139 version 10") != std::string::npos) {
        daemonLines++;
        EXPECT_NE(std::string::npos, l.find(": restored ")) << l;
      }
    ASSERT_EQ(1, daemonLines) << qm->output();
    sendReports(last + 1, 100);
    last += 100;
    expectAll(c, 1, last);
    EXPECT_TRUE(daemon_.running());
    EXPECT_EQ(daemon, daemon_.pid());
  }
  EXPECT_EQ("", qm->errors());

  // A daemon killed cannot unsubscribe: dropped after its failed reports, it
  // leaves the file too, and no later start would call it.
  ASSERT_EQ(1u, storedSubscribers().size());
  daemon_.stop(SIGKILL, 10);
  expected_.clear();
  sendReports(last + 1, 3);
  ASSERT_TRUE(qm->waitForOutput("dropped subscriber", 30)) << qm->output();
  EXPECT_TRUE(storedSubscribers().empty()) << files_.read(kFile);
  EXPECT_TRUE(qm->running());
}

TEST_F(DispatcherRestartTest, BadSubscriptionsFileIsReportedAndTheDispatcherServes) {
  Console& c = addConsole("536873616", "3");
  const std::string path = files_.root() + kFile;

  // Garbage around one good line: every bad line named by its number, none
  // of them taken (all would subscribe version 5), the good one restored
  // (the console's Event program at version 4 gets the reports straight
  // from qm.event), and the file rewritten clean.
  Console& direct = addConsole("536873617", "4");
  files_.write(kFile, "# written by hand\n"
                      "garbage\n"
                      "alpha 10.201.0.1 100101 5\n"
                      "- 127.0.0.1 100101 4 0\n"
                      "- 300.1.2.3 100101 5 0\n"
                      "- 127.0.0.1 100101 99999999999 0\n" +
                      std::string("- 127.0.0.1\0 100101 5 0\n", 24) + "\n \t\n" +
                      std::string(300, 'h') + " 127.0.0.1 100101 5 0\n");
  {
    Process& qm = startDispatcher(env_);
    std::vector<std::string> said = complaints(qm);
    const std::vector<std::string> bad = {":2: ", ":3: ", ":5: ", ":6: ", ":7: ", ":10: "};
    ASSERT_EQ(bad.size(), said.size()) << qm.errors();
    for (size_t i = 0; i < said.size(); i++)
      EXPECT_EQ(0u, said[i].find("qm.event: " + path + bad[i])) << said[i];
    EXPECT_NE(std::string::npos, qm.output().find("(127.0.0.1) program 100101 version 4\n"));
    serveThrough(qm, c, 1);
    expectAll(direct, 1, 10);
    EXPECT_EQ(std::string::npos, qm.output().find("version 5")) << qm.output();
    EXPECT_EQ(bad.size(), complaints(qm).size()) << qm.errors();
    std::vector<std::string> stored = storedSubscribers();
    EXPECT_TRUE(stored == std::vector<std::string>{"- 127.0.0.1 100101 4 0"}) << stored.size();
    qm.stop(SIGTERM, 10);
  }

  // A directory in the file's place: neither read nor replaced.
  std::filesystem::remove(path);
  ASSERT_EQ(0, mkdir(path.c_str(), 0755));
  {
    Process& qm = startDispatcher(env_);
    ASSERT_EQ(1u, complaints(qm).size()) << qm.errors();
    EXPECT_NE(std::string::npos, qm.errors().find(path + ": Is a directory"));
    serveThrough(qm, c, 11);
    std::vector<std::string> said = complaints(qm);
    ASSERT_EQ(3u, said.size()) << qm.errors();  // the subscription and the unsubscription
    EXPECT_NE(std::string::npos, said[1].find(": Is a directory")) << said[1];
    qm.stop(SIGTERM, 10);
  }

  // A location where nothing can be made: a file where a directory belongs.
  // Once it is gone, the next change makes the missing directories.
  const std::string other = files_.root() + "/unwritable";
  files_.write("/unwritable/var/opt/ZEPHline", "not a directory\n");
  {
    Process& qm = startDispatcher({"OVI_ROOT=" + other});
    ASSERT_EQ(1u, complaints(qm).size()) << qm.errors();
    EXPECT_NE(std::string::npos, qm.errors().find(other + kFile + ": Not a directory"));
    serveThrough(qm, c, 21);
    std::vector<std::string> said = complaints(qm);
    ASSERT_EQ(3u, said.size()) << qm.errors();
    EXPECT_NE(std::string::npos, said[1].find(": Not a directory")) << said[1];

    ASSERT_TRUE(std::filesystem::remove(other + "/var/opt/ZEPHline"));
    serveThrough(qm, c, 31);
    EXPECT_EQ(3u, complaints(qm).size()) << qm.errors();
    EXPECT_EQ('#', files_.read("/unwritable" + std::string(kFile))[0]);
    qm.stop(SIGTERM, 10);
  }
  expectAll(c, 1, 40);
}

}  // namespace
