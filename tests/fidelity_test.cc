// Behaviour an operator or a console sees of the daemon, checked in a station
// of its own: how the command line ends, the loop check against a receiver's
// current host name, and what SIGUSR1 and a hanging TCP call do to a
// subprocess's clients.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness/fault_station.h"

namespace {

class FidelityTest : public FaultStation {
 protected:
  // The station's /etc/hosts, a file bind-mounted into it: rewritten in
  // place, since a file renamed over it would not be seen there.
  std::string hostsPath() const { return two_.dir() + "/" + station() + "/hosts"; }
  void setHostsLine(const std::string& address, const std::string& names) {
    std::ifstream in(hostsPath());
    std::stringstream kept;
    for (std::string line; std::getline(in, line);)
      if (line.compare(0, address.size() + 1, address + " ") != 0) kept << line << "\n";
    if (!names.empty()) kept << address << " " << names << "\n";
    in.close();
    std::ofstream(hostsPath(), std::ios::trunc) << kept.str();
  }

  // Sends one trap numbered seq, through qm.event, with the given data.
  void sendTrap(int seq, const std::vector<std::string>& data = {}) {
    std::vector<std::string> argv = {TESSEL_SEND_BIN, "--type", "trap",
                                     "seq=int:" + std::to_string(seq)};
    argv.insert(argv.end(), data.begin(), data.end());
    EXPECT_EQ("0\n", runInStation(argv));
  }

  // The daemon's trace lines written by process pid.
  std::string traceOf(pid_t pid) const {
    std::string prefix = "[" + std::to_string(pid) + "] ovi_sender: ", out;
    std::istringstream in(daemon_.output());
    for (std::string line; std::getline(in, line);)
      if (line.compare(0, prefix.size(), prefix) == 0) out += line.substr(prefix.size()) + "\n";
    return out;
  }
};

TEST_F(FidelityTest, OptionsEndAtTheFirstArgumentThatIsNotAnOption) {
  ASSERT_TRUE(two_.start(&qm_, station(), {QM_EVENT_BIN, "-d", "1"}, env_));
  ASSERT_TRUE(qm_.waitForOutput("serving program", 20)) << qm_.errors();
  const std::vector<std::vector<std::string>> lines = {{"stray", "-q"}, {"foo", "-d", "3"}};
  int subscribed = 0;
  for (const auto& args : lines) {
    std::vector<std::string> argv = {OVI_SENDER_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    Process daemon;
    ASSERT_TRUE(two_.start(&daemon, station(), argv, env_));
    // It starts as with no option at all: it serves, and traces nothing.
    EXPECT_TRUE(waitUntil([&] {
      return countLines(qm_.output(), ": subscribed ") > subscribed;
    }, 30)) << args[0] << ": " << daemon.output() << daemon.errors();
    subscribed = countLines(qm_.output(), ": subscribed ");
    int status = daemon.stop(SIGTERM, 30);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[0] << ": " << status;
    EXPECT_EQ("", daemon.output()) << args[0];
  }
}

TEST_F(FidelityTest, TheLoopCheckNamesTheReceiverAsItsHostIsNamedNow) {
  startStation();
  // 127.0.0.2 has no name when its subprocess starts.
  Console& c = addConsole("536873664", "3");
  c.addr = "127.0.0.2";
  ASSERT_GT(registerConsole(c), 0);
  sendTrap(1, {"vant_forwarded_by=string:first"});
  setHostsLine("127.0.0.2", "first");
  sendTrap(2, {"vant_forwarded_by=string:first"});  // came from the receiver: not sent back
  setHostsLine("127.0.0.2", "second");
  sendTrap(3, {"vant_forwarded_by=string:second"});
  sendTrap(4, {"vant_forwarded_by=string:first"});
  setHostsLine("127.0.0.2", "");
  ASSERT_TRUE(waitForReport(c, 4));
  EXPECT_EQ((std::vector<int>{1, 4}), seqs(c));
  expectSettled();
}

TEST_F(FidelityTest, SigusrOneBetweenCallsMakesNewClientsBeforeTheNextReport) {
  startStation("2");
  Console& c = addConsole("536873680", "3");
  pid_t sub = registerConsole(c);
  ASSERT_GT(sub, 0);
  sendTrap(1);
  ASSERT_TRUE(waitForReport(c, 1));
  size_t made = countLines(traceOf(sub), "created UDP client\n");
  ASSERT_TRUE(signalChildOf(daemon_.pid(), sub, SIGUSR1));
  // Made anew while the subprocess waits, not after its next call.
  EXPECT_TRUE(waitUntil([&] {
    return countLines(traceOf(sub), "created UDP client\n") > static_cast<int>(made);
  }, 30)) << traceOf(sub);
  sendTrap(2);
  expectAll(c, 1, 2);

  // Clients that cannot be made end the subprocess for good.
  for (const std::string& vers : {c.vers, std::string("10")})
    runInStation({"/usr/sbin/rpcinfo", "-d", c.prog, vers});
  runInStation({"/usr/sbin/rpcinfo", "-d", "100101", c.vers});
  ASSERT_TRUE(signalChildOf(daemon_.pid(), sub, SIGUSR1));
  EXPECT_TRUE(daemon_.waitForOutput("[" + std::to_string(sub) +
                                    "] ovi_sender: create Clients failed exiting.\n", 30));
  EXPECT_TRUE(daemon_.waitForOutput("subprocess " + std::to_string(sub) +
                                    " terminated, exit code 0\n", 30));
  forget(c);
  expectSettled();
}

TEST_F(FidelityTest, ATcpCallThatHangsIsAbandonedAndTheNextReportGoesOverNewClients) {
  startStation("2");
  // Send buffers that stay small make a stalled connection fill soon.
  runInStation({"/bin/sh", "-c", "echo 4096 16384 65536 >/proc/sys/net/ipv4/tcp_wmem"});
  // The console reads one report over a connection, then never reads it again.
  Console& c = addConsole("536873696", "3", {"--stall-tcp-after", "1"});
  pid_t sub = registerConsole(c);
  ASSERT_GT(sub, 0);
  // One report too large for UDP, sent once the subprocess took the one
  // before: a request that comes while the daemon hands a report over in
  // chunks would end the transfer.
  auto sendLarge = [&](int seq) {
    int taken = countLines(traceOf(sub), "got report from parent\n");
    EXPECT_EQ("sent 1 failed 0\n", runInStation({PROBE_BIN, "reports", "--first",
                                                  std::to_string(seq), "--count", "1", "--pad",
                                                  "20000"}));
    EXPECT_TRUE(waitUntil([&] {
      return countLines(traceOf(sub), "got report from parent\n") > taken;
    }, 30)) << traceOf(sub);
  };
  sendLarge(1);
  ASSERT_TRUE(waitForReport(c, 1));
  // The next ones fill the stalled connection until a call blocks; its abort
  // timer ends the call after 5 s.
  const std::string alarm = "[" + std::to_string(sub) + "] ovi_sender: catch_sigalrm: caught SIGALRM\n";
  for (int seq = 2; seq < 40 && daemon_.output().find(alarm) == std::string::npos; seq++)
    sendLarge(seq);
  ASSERT_TRUE(daemon_.waitForOutput(alarm, 30)) << traceOf(sub);
  // The report is dropped quietly and the clients are made anew...
  EXPECT_TRUE(daemon_.waitForOutput(
      "[" + std::to_string(sub) + "] ovi_sender: destroyed TCP Event client client\n", 30));
  // ...so the next report goes over a new connection, from the same subprocess.
  sendLarge(100);
  EXPECT_TRUE(waitForReport(c, 100, 30)) << traceOf(sub);
  EXPECT_TRUE(alive(sub));
  std::string trace = traceOf(sub);
  EXPECT_EQ(std::string::npos, trace.find("exiting (with restart)")) << trace;
  expectSettled();
}

}  // namespace
