// Bad input on the wire to the daemon's program 100139: messages that are
// no RPC, calls whose arguments are cut, oversized, damaged or random, more
// connections than a select loop can watch, and action requests with
// missing, oversized, empty or unterminated options.  The daemon (and
// qm.event, for the raw garbage) answers or ignores each as it should and
// goes on serving.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "harness/fault_station.h"

namespace {

using WireTest = FaultStation;

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

TEST_F(WireTest, GarbageIsRefusedOrIgnoredOverUdpAndTcp) {
  startStation();
  Console& c = addConsole("536873728", "3");
  ASSERT_GT(registerConsole(c), 0);
  std::string expected;
  for (const char* raw : {"empty", "one-byte", "random", "reply-not-call", "cut-header",
                          "cut-arguments"})
    expected += std::string("udp raw-") + raw + " sent\ntcp raw-" + raw + " sent\n";
  expected += "udp raw-oversized sent\ntcp raw-bad-records sent\ntcp raw-oversized sent\n";
  for (const char* proto : {"udp", "tcp"}) {
    for (const char* bad : {"no-arguments", "cut-envelope", "cut-body", "damaged-body",
                            "wrong-checksum", "oversized-envelope", "random-body",
                            "random-after-format", "bad-argument-list", "long-arguments"})
      expected += std::string(proto) + " " + bad + " RPC_CANTDECODEARGS\n";
    expected += std::string(proto) + " unknown-procedure RPC_PROCUNAVAIL\n";
    expected += std::string(proto) + " unknown-version RPC_PROGVERSMISMATCH\n";
  }
  expected += "udp null-while-held RPC_SUCCESS\ntcp null-while-held RPC_SUCCESS\n"
              "tcp held-connections 65\nudp null RPC_SUCCESS\ntcp null RPC_SUCCESS\n";
  // The daemon, and qm.event that forwards to it, refuse it alike.
  for (const char* prog : {"100139", "100101"})
    EXPECT_EQ(expected, runInStation({PROBE_BIN, "garbage", "--prog", prog, "--vers", "10"}, 120))
        << "program " << prog;
  ASSERT_TRUE(qm_.running());
  ASSERT_TRUE(daemon_.running());
  // Every connection the garbage opened is closed again.
  expectSettled();
  sendReports(1, 10);
  expectAll(c, 1, 10);
  EXPECT_EQ(10u, seqs(c).size()) << "nothing of the garbage was forwarded";
}

TEST_F(WireTest, MoreConnectionsThanASelectLoopWatchesLeaveTheServiceUp) {
  startStation();
  Console& c = addConsole("536873744", "3");
  ASSERT_GT(registerConsole(c), 0);
  Process flood;
  ASSERT_TRUE(two_.start(&flood, station(),
                         {PROBE_BIN, "flood", "--prog", "100139", "--vers", "10", "--count",
                          "1100"},
                         env_));
  ASSERT_TRUE(flood.waitForOutput("udp null-during-flood", 120)) << flood.errors();
  // The most idle connection gives way to a new one.
  EXPECT_NE(std::string::npos, flood.output().find("tcp null-during-flood RPC_SUCCESS\n"))
      << flood.output();
  EXPECT_NE(std::string::npos, flood.output().find("udp null-during-flood RPC_SUCCESS\n"));
  sendReports(1, 5, 0, "100139");
  expectAll(c, 1, 5);
  EXPECT_LE(descriptorsOf(daemon_.pid()).sockets + descriptorsOf(daemon_.pid()).pipes, 1024);
  EXPECT_EQ(0, flood.stop(SIGTERM, 30));
  EXPECT_NE(std::string::npos, flood.output().find("closed 1100\n"));
  // No connection is left behind, not even one it could not watch; the
  // most idle one, qm.event's, made room for the first of the flood.
  expectSettled(1);
  sendReports(6, 5, 0, "100139");
  expectAll(c, 1, 10);
}

TEST_F(WireTest, ActionRequestsWithBadOptionsAreAnsweredAndServiceGoesOn) {
  startStation();
  Console& c = addConsole("536873760", "3");
  // The trap a request brought, once it came.
  auto nextTrap = [&](size_t before) {
    EXPECT_TRUE(waitUntil([&] { return statusTraps(c).size() > before; }, 30));
    std::vector<std::string> traps = statusTraps(c);
    EXPECT_EQ(before + 1, traps.size());
    return traps.empty() ? std::string() : traps.back();
  };
  // Registers with the options, expects the trap, and when it succeeded, a
  // subprocess that delivers reports; then deletes the same way.
  int seq = 1;
  auto registerWith = [&](const std::vector<std::string>& options, const std::string& trap) {
    SCOPED_TRACE(trap);
    size_t before = statusTraps(c).size();
    EXPECT_EQ("0\n", request(c, "0x80", options));
    EXPECT_EQ(trap, nextTrap(before));
    if (trap != "succeeded/Running") {
      expectSettled();
      return;
    }
    pid_t sub = 0;
    ASSERT_TRUE(waitUntil([&] {
      std::set<pid_t> now = liveChildren(daemon_.pid());
      if (now.size() != 1) return false;
      sub = *now.begin();
      return true;
    }, 30));
    expected_.insert(sub);
    expectSettled();
    sendReports(seq, 3);
    expectAll(c, seq, seq + 2);
    seq += 3;
    EXPECT_EQ("0\n", request(c, "0x100", options));
    EXPECT_TRUE(waitUntil([&] { return !alive(sub); }, 30));
    expected_.erase(sub);
    expectSettled();
  };

  // A mandatory option missing: the request is ignored, no trap is sent.
  for (const char* missing : {"tessel_rendez_addr=", "tessel_rendez_prog=", "tessel_rendez_vers=",
                              "vant_filter_file=", "vant_orx_name="})
    EXPECT_EQ("0\n", request(c, "0x80", {missing}));
  sleepSeconds(1);
  EXPECT_TRUE(statusTraps(c).empty());
  expectSettled();

  // Texts longer than 254 characters are cut to 254, the same way for the
  // register and the delete request.
  std::string name254 = "f" + std::string(249, 'x') + ".flt";
  files_.writeData(name254, "default - - - pass all.tmpl\n");
  registerWith({"vant_filter_file=string:" + name254 + std::string(46, 'y')}, "succeeded/Running");
  registerWith({"receiving_orx=string:" + std::string(300, 'r')}, "succeeded/Running");
  registerWith({"vant_orx_name=string:" + std::string(300, 'd')}, "failed/Access denied");
  // Without a terminating NUL, and with one inside: the text ends there.
  registerWith({"vant_filter_file=octets:" + hex("f.filter"),
                "vant_orx_name=octets:" + hex(std::string("office\0junk", 11))},
               "succeeded/Running");
  registerWith({"vant_filter_file=string:"}, "failed/Can't open filter file");

  // A program given as text names one nobody serves: the subprocess cannot
  // make its clients and the registration goes.
  EXPECT_EQ("0\n", request(c, "0x80", {"tessel_rendez_prog=string:abc"}));
  // An address of two bytes is completed with zeros: 127.0.0.0 has no access.
  EXPECT_EQ("0\n", request(c, "0x80", {"tessel_rendez_addr=short:127"}));
  expectSettled();

  ASSERT_TRUE(daemon_.running());
  ASSERT_GT(registerConsole(c), 0);
  sendReports(seq, 5);
  expectAll(c, seq, seq + 4);
  deleteConsole(c);
  expectSettled();
}

}  // namespace
