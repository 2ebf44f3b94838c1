// What one hostile or unlucky request, a burst of requests, a replaced
// database or the descriptor ceiling must not do to a running station: hold
// the daemon, leave a console registered twice, feed consoles stale element
// information, or tell a console it runs when nothing will reach it.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "harness/fault_station.h"
#include "orxdb/orxdb.h"

namespace {

class ResilienceTest : public FaultStation {
 protected:
  // The lines a console received on its own program (database-manager traps).
  static std::vector<std::string> ownLines(const Console& c) {
    std::vector<std::string> out;
    for (const std::string& l : c.proc.lines())
      if (l.find("\"prog\":" + c.prog + ",") != std::string::npos) out.push_back(l);
    return out;
  }

  // Sends `count` copies of an action request for the console, back to back.
  void requestTimes(const Console& c, const char* flags, int count,
                    const std::vector<std::string>& options = {}) {
    std::vector<std::string> all = options;
    all.insert(all.end(), {"--count", std::to_string(count)});
    std::string want;
    for (int i = 0; i < count; i++) want += "0\n";
    EXPECT_EQ(want, request(c, flags, all));
  }

  // Waits until the daemon has `n` children (its forwarding subprocesses,
  // once every short-lived child has ended) holding three pipes each.
  void expectSubprocesses(size_t n) {
    pid_t d = daemon_.pid();
    EXPECT_TRUE(waitUntil([&] {
      return liveChildren(d).size() == n && noZombies(d) &&
             descriptorsOf(d).pipes == base_.pipes + 3 * static_cast<int>(n);
    }, 120)) << liveChildren(d).size() << " children, " << descriptorsOf(d).pipes << " pipes";
  }
};

TEST_F(ResilienceTest, FilesThatAreNotTextFilesNeverHoldTheDaemon) {
  startStation();
  Console& listed = addConsole("536873600", "3");
  ASSERT_GT(registerConsole(listed), 0);
  // Not in the access list: only the filter check runs for it.
  Console& stranger = addConsole("536873601", "4");
  stranger.addr = "127.0.0.3";

  std::string fifo = files_.root() + "/fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  std::string huge = files_.writeData("huge.filter", "");
  ASSERT_EQ(0, truncate(huge.c_str(), 50 << 20));
  files_.writeData("fifo-template.filter", "default - - - pass " + fifo + "\n");
  files_.writeData("fifo-traps.filter", "default - - - pass all.tmpl traps " + fifo + "\n");
  const struct {
    std::string filter, reason;
  } cases[] = {
      {"/dev/zero", "Can't open filter file"},
      {"/dev/urandom", "Can't open filter file"},
      {fifo, "Can't open filter file"},
      {files_.root(), "Can't open filter file"},
      {huge, "Can't open filter file"},
      {"fifo-template.filter", "Can't open db template file"},
      {"fifo-traps.filter", "Can't open trap template file"},
  };
  long before = residentKb(daemon_.pid());
  int first = 1;
  for (const auto& c : cases) {
    size_t traps = statusTraps(stranger).size();
    // The answer itself shows that the daemon did not stop at the file.
    EXPECT_EQ("0\n", request(stranger, "0x80", {"vant_filter_file=string:" + c.filter}))
        << c.filter;
    ASSERT_TRUE(waitUntil([&] { return statusTraps(stranger).size() > traps; }, 30)) << c.filter;
    EXPECT_EQ("failed/" + c.reason, statusTraps(stranger).back()) << c.filter;
    sendReports(first, 5);
    expectAll(listed, 1, first + 4);
    first += 5;
  }
#ifndef __SANITIZE_ADDRESS__
  EXPECT_LT(residentKb(daemon_.pid()) - before, 2048) << "kB";
#else
  (void)before;
#endif
  expectSettled();
}

TEST_F(ResilienceTest, RequestsThatMatchOneAnotherLeaveOneRegistrationWhileReportsFlow) {
  // A database of one element, so that fifty synchronisations end soon.
  ASSERT_EQ(0, unlink((std::string(orxdb_dir()) + "/db.office").c_str()));
  files_.loadDatabase("office", "element Home view.home\nelement s1 component.router\n"
                                "member s1 Home\n");
  startStation();
  std::vector<Console*> consoles;
  ASSERT_NO_FATAL_FAILURE(addRegisteredConsoles(536873616, 3, &consoles));
  Console &a = *consoles[0], &b = *consoles[1], &c = *consoles[2];

  Process sender;
  startReports(&sender, 1, 600, 100);
  ASSERT_TRUE(waitForReport(a, 10, 60));
  // Back to back: five registrations of one console, fifty synchronisations
  // of another, and registrations and synchronisations of a third mixed.
  requestTimes(a, "0x80", 5);
  requestTimes(b, "0x200", 50);
  for (int i = 0; i < 3; i++) {
    requestTimes(c, "0x80", 2);
    requestTimes(c, "0x200", 2);
  }
  ASSERT_EQ(0, sender.wait(120)) << sender.errors();
  expectSubprocesses(3);

  // Each console now gets every report exactly once; none ever got one twice.
  sendReports(601, 50);
  for (Console* x : {&a, &b, &c}) {
    expectAll(*x, 601, 650);
    expectIncreasing(seqs(*x), x->name);
  }
}

TEST_F(ResilienceTest, ADatabaseReplacedUnderARunningSubprocessIsReadAnew) {
  startStation();
  Console& c = addConsole("536873632", "3");
  ASSERT_GT(registerConsole(c), 0);
  // The view that the console's next database-manager trap names for n1.
  auto viewOfN1 = [&]() -> std::string {
    size_t seen = ownLines(c).size();
    runInStation({TESSEL_SEND_BIN, "--type", "trap", "--agent-prog", "100110", "--group",
                  "tessel_db_config", "added=string:n1"});
    if (!waitUntil([&] { return ownLines(c).size() > seen; }, 30)) return "(no trap)";
    const std::string line = ownLines(c).back();
    const std::string key = "{\"name\":\"view\",\"type\":9,\"length\":";
    size_t at = line.find(key);
    if (at == std::string::npos) return "(no view)";
    at = line.find("\"value\":\"", at) + 9;
    return line.substr(at, line.find('"', at) - at);
  };
  EXPECT_EQ("Home", viewOfN1());

  // Dropped and loaded again.
  std::string moved = files_.writeData(
      "moved.db", "element Lab view.lab\nelement n1 component.router\nmember n1 Lab\n");
  runInStation({ORXDB_BIN, "drop", "office"});
  runInStation({ORXDB_BIN, "load", "office", moved});
  EXPECT_EQ("Lab", viewOfN1());

  // Another file renamed over it.
  files_.loadDatabase("next", "element Attic view.attic\nelement n1 component.router\n"
                              "member n1 Attic\n");
  std::string dir = orxdb_dir();
  ASSERT_EQ(0, rename((dir + "/db.next").c_str(), (dir + "/db.office").c_str()));
  EXPECT_EQ("Attic", viewOfN1());
  expectSettled();
}

TEST_F(ResilienceTest, ARegistrationPastTheDescriptorCeilingIsRefusedNotToldItRuns) {
  // A low limit puts the ceiling a few consoles away.
  startStation("1", {}, 48);
  std::vector<Console*> running;
  Console* refused = nullptr;
  for (int i = 0; i < 20 && refused == nullptr; i++) {
    // Version 10 of the Event program is qm.event's own.
    Console& c = addConsole(std::to_string(536873648 + i), std::to_string(11 + i));
    ASSERT_EQ("0\n", request(c, "0x80"));
    ASSERT_TRUE(waitUntil([&] { return !statusTraps(c).empty(); }, 30)) << c.name;
    if (statusTraps(c)[0] == "succeeded/Running") {
      running.push_back(&c);
    } else {
      EXPECT_EQ("failed/Cannot create subprocess to send reports: Too many open files",
                statusTraps(c)[0]);
      refused = &c;
    }
  }
  ASSERT_NE(nullptr, refused) << "no ceiling met";
  ASSERT_FALSE(running.empty());
  EXPECT_TRUE(daemon_.waitForOutput(
      "ovi_sender: Cannot create subprocess to send reports: Too many open files\n", 10));
  expectSubprocesses(running.size());
  sendReports(1, 10);
  for (Console* c : running) expectAll(*c, 1, 10);

  // Room made by a delete is room for the refused console.
  EXPECT_EQ("0\n", request(*running.back(), "0x100"));
  running.pop_back();
  expectSubprocesses(running.size());
  EXPECT_EQ("0\n", request(*refused, "0x80"));
  ASSERT_TRUE(waitUntil([&] { return statusTraps(*refused).size() == 2; }, 30));
  EXPECT_EQ("succeeded/Running", statusTraps(*refused)[1]);
  running.push_back(refused);
  expectSubprocesses(running.size());
  sendReports(11, 10);
  for (Console* c : running) expectAll(*c, 11, 20);
}

}  // namespace
