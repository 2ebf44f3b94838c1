// End-to-end tests of forwarding on one station: reports reach a receiver
// through qm.event, ovi_sender and its subprocess, filtered, enriched and
// delivered by UDP or TCP; receivers that fail cost what they should.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <string>
#include <vector>

#include "harness/daemon_fixture.h"

namespace {

class DeliveryTest : public DaemonTest {
 protected:
  // Starts the station and a receiver registered with filter `filter`; waits
  // for the status trap and for the subprocess.
  void startWith(const std::string& filter, const char* level = "2",
                 std::vector<std::string> receiverOptions = {}) {
    prepareRegistration();
    station_.writeData("f.filter", filter);
    ASSERT_NO_FATAL_FAILURE(startDispatcher());
    ASSERT_NO_FATAL_FAILURE(startDaemon(level));
    std::vector<std::string> argv = {TEST_RECEIVER_BIN, "--prog", kProg, "--vers", "3"};
    argv.insert(argv.end(), receiverOptions.begin(), receiverOptions.end());
    ASSERT_TRUE(receiver_.start(argv));
    ASSERT_TRUE(receiver_.waitForOutput("ready", 10)) << receiver_.errors();
    EXPECT_EQ("0\n", sendToDaemon(registration("0x80", kProg, "f.filter", "office")));
    ASSERT_TRUE(receiver_.waitForOutput("succeeded", 20)) << daemon_.output();
    ASSERT_TRUE(waitUntil([&] { return liveChildren(daemon_.pid()).size() == 1; }, 10));
    subprocess_ = *liveChildren(daemon_.pid()).begin();
  }
  void TearDown() override {
    receiver_.stop();
    DaemonTest::TearDown();
  }
  // Sends a report to the station's qm.event.
  void send(std::vector<std::string> args) {
    std::vector<std::string> argv = {TESSEL_SEND_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    EXPECT_EQ(0, runProgram(argv, &out)) << out;
  }
  // The receiver's lines for program 100101 (forwarded reports), waiting
  // for at least n.
  std::vector<std::string> forwarded(size_t n, double seconds = 20) {
    std::vector<std::string> lines;
    waitUntil([&] {
      lines.clear();
      for (const std::string& l : receiver_.lines())
        if (l.find("\"prog\":100101") != std::string::npos) lines.push_back(l);
      return lines.size() >= n;
    }, seconds);
    return lines;
  }

  static constexpr const char* kProg = "0x20000700";
  Process receiver_;
  pid_t subprocess_ = 0;
};

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(DeliveryTest, EventArrivesWithThresholdTextsEnumNamesAndTheForwardingHost) {
  ASSERT_NO_FATAL_FAILURE(startWith("default - - - pass all.tmpl\n"));
  send({"--type", "event", "--from", "node7", "load=int:95/5:90:3", "adminState=enum:2"});
  std::vector<std::string> got = forwarded(1);
  ASSERT_EQ(1u, got.size()) << daemon_.output();
  EXPECT_EQ("{\"prog\":100101,\"vers\":3,\"proc\":1,\"type\":12,\"agent_prog\":0,\"host\":\"node7\","
            "\"group\":\"\",\"priority\":3,\"data\":["
            "{\"name\":\"vant_forwarded_by\",\"type\":9,\"length\":" +
                std::to_string(hostName().size()) + ",\"value\":\"" + hostName() + "\"},"
            "{\"name\":\"load\",\"type\":3,\"length\":4,\"value\":95},"
            "{\"name\":\"trap_reason\",\"type\":9,\"length\":21,"
            "\"value\":\"load Greater Than  90\"},"
            "{\"name\":\"trap_priority\",\"type\":9,\"length\":4,\"value\":\"High\"},"
            "{\"name\":\"adminState\",\"type\":9,\"length\":4,\"value\":\"down\"}]}",
            got[0]);
}

TEST_F(DeliveryTest, FilterRecordsPassAndDropByHostElementViewAndDefault) {
  ASSERT_NO_FATAL_FAILURE(startWith("hostname blocked - - drop all.tmpl\n"
            "component component.switch - - drop all.tmpl\n"
            "viewname Lab - - drop all.tmpl\n"
            "viewtype secure - - drop all.tmpl\n"
            "hostname urgent med high pass all.tmpl\n"
            "default - - - pass all.tmpl\n"));
  station_.loadDatabase("office",
                        "element sw1 component.switch\n"
                        "element Lab view.lab\n"
                        "element Vault view.secure\n"
                        "element Inner view.inner\n"
                        "member Lab Home\n"
                        "member Inner Lab\n"
                        "element deep component.router\n"
                        "member deep Inner\n"
                        "element safe component.router\n"
                        "member safe Vault\n");
  for (const char* host : {"blocked", "sw1", "deep", "safe"})
    send({"--type", "trap", "--from", host, "n=int:1"});
  // Below the record's least priority, then at it, with its new priority.
  send({"--type", "trap", "--from", "urgent", "priority=string:low"});
  send({"--type", "trap", "--from", "urgent", "priority=string:med"});
  send({"--type", "trap", "--from", "other", "n=int:2"});
  std::vector<std::string> got = forwarded(2);
  ASSERT_EQ(2u, got.size()) << daemon_.output();
  EXPECT_TRUE(has(got[0], "\"host\":\"urgent\"")) << got[0];
  EXPECT_TRUE(has(got[0], "{\"name\":\"priority\",\"type\":9,\"length\":5,\"value\":\"high\"}"))
      << got[0];
  EXPECT_TRUE(has(got[1], "\"host\":\"other\"")) << got[1];
}

TEST_F(DeliveryTest, FilterFileEditedInPlaceAppliesToTheNextReport) {
  ASSERT_NO_FATAL_FAILURE(startWith("default - - - pass all.tmpl\n"));
  send({"--type", "trap", "--from", "a", "n=int:1"});
  ASSERT_EQ(1u, forwarded(1).size());
  std::string path = station_.writeData("f.filter", "default - - - drop all.tmpl\n");
  // A modification time clearly after the cached one.
  struct utimbuf times = {time(nullptr) + 5, time(nullptr) + 5};
  utime(path.c_str(), &times);
  send({"--type", "trap", "--from", "b", "n=int:2"});
  station_.writeData("f.filter", "hostname c - - pass all.tmpl\n");
  times = {time(nullptr) + 10, time(nullptr) + 10};
  utime(path.c_str(), &times);
  send({"--type", "trap", "--from", "c", "n=int:3"});
  std::vector<std::string> got = forwarded(2);
  ASSERT_EQ(2u, got.size());
  EXPECT_TRUE(has(got[1], "\"host\":\"c\"")) << got[1];
  EXPECT_EQ(1u, liveChildren(daemon_.pid()).count(subprocess_)) << "no restart";
}

TEST_F(DeliveryTest, LongReportsGoByTcp) {
  ASSERT_NO_FATAL_FAILURE(startWith("default - - - pass all.tmpl\n"));
  std::string big(7000, 'x');
  send({"--type", "trap", "--tcp", "big=string:" + big});
  std::vector<std::string> got = forwarded(1);
  ASSERT_EQ(1u, got.size());
  EXPECT_TRUE(has(got[0], "{\"name\":\"big\",\"type\":9,\"length\":7000,")) << got[0];
  EXPECT_TRUE(has(daemon_.output(), "restored TCP Event client\n"));
}

TEST_F(DeliveryTest, LongReportsAreSkippedWithoutTcpAndTheSubprocessGoesOn) {
  ASSERT_NO_FATAL_FAILURE(startWith("default - - - pass all.tmpl\n", "2", {"--udp-only"}));
  EXPECT_TRUE(daemon_.waitForOutput("cannot create TCP Event client: ", 10));
  send({"--type", "trap", "--tcp", "big=string:" + std::string(7000, 'x')});
  send({"--type", "trap", "small=int:1"});
  std::vector<std::string> got = forwarded(1);
  ASSERT_EQ(1u, got.size());
  EXPECT_TRUE(has(got[0], "small"));
  EXPECT_TRUE(has(daemon_.output(), "cannot get a client; skipping this report\n"));
  EXPECT_EQ(1u, liveChildren(daemon_.pid()).count(subprocess_));
}

TEST_F(DeliveryTest, SilentReceiverCostsATimeOutPerReportAndNothingMore) {
  ASSERT_NO_FATAL_FAILURE(startWith("default - - - pass all.tmpl\n", "2", {"--silent"}));
  for (int i = 0; i < 3; i++) send({"--type", "trap", "n=int:" + std::to_string(i)});
  EXPECT_EQ(3u, forwarded(3).size());
  EXPECT_TRUE(waitUntil([&] {
    return countLines(daemon_.output(), "; continuing\n") == 3;
  }, 20)) << daemon_.output();
  EXPECT_EQ(1u, liveChildren(daemon_.pid()).count(subprocess_));
}

TEST_F(DeliveryTest, ReceiverThatIsGoneEndsItsSubprocessWhichIsRestarted) {
  ASSERT_NO_FATAL_FAILURE(startWith("default - - - pass all.tmpl\n"));
  receiver_.stop();
  send({"--type", "trap", "n=int:1"});
  std::string ended = "subprocess " + std::to_string(subprocess_) + " terminated, exit code 1\n";
  EXPECT_TRUE(daemon_.waitForOutput(ended, 20)) << daemon_.output() << daemon_.errors();
  // The new subprocess finds no receiver to make clients for, and ends for good.
  EXPECT_TRUE(daemon_.waitForOutput("Client Creates failed -- exiting.\n", 20));
  EXPECT_TRUE(waitUntil([&] { return liveChildren(daemon_.pid()).empty(); }, 20));
}

}  // namespace

namespace {

TEST_F(DaemonTest, SynchronisationSendsEveryElementThenSynched) {
  prepareRegistration();
  station_.loadDatabase("office",
                        "element Lab view.lab\nelement r1 component.router\n"
                        "element r2 component.router\nelement inner view.inner\n"
                        "element r3 component.router\n"
                        "member Lab Home\nmember r1 Home\nmember r2 Lab\nmember inner Lab\n"
                        "member r3 inner\n");
  ASSERT_NO_FATAL_FAILURE(startDispatcher());
  ASSERT_NO_FATAL_FAILURE(startDaemon("1"));
  std::string out;
  ASSERT_EQ(0, runProgram({OVI_CONSOLE_BIN, "--sync", "--event", "--prog", "0x20000701",
                           "--vers", "3", "--filter", "f.filter", "--db", "office", "--count", "7",
                           "--timeout", "60"},
                          &out));
  std::vector<std::string> added;
  std::string last;
  for (size_t at = 0, nl; (nl = out.find('\n', at)) != std::string::npos; at = nl + 1) {
    std::string line = out.substr(at, nl - at);
    size_t a = line.find("{\"name\":\"added\",\"type\":9,");
    if (a != std::string::npos) {
      size_t v = line.find("\"value\":\"", a) + 9;
      added.push_back(line.substr(v, line.find('"', v) - v));
    }
    last = line;
  }
  // Home's elements, then Lab's, then inner's; "Home" itself is not announced.
  EXPECT_EQ((std::vector<std::string>{"Lab", "r1", "r2", "inner", "r3"}), added) << out;
  EXPECT_NE(std::string::npos, last.find("\"value\":\"synched\"")) << out;
  EXPECT_NE(std::string::npos, last.find("\"value\":\"Running\"")) << out;
  // Once the synchronisation has ended and been reaped, a delete signals no
  // pid that the system may have given to another process since.
  sleepSeconds(1);
  EXPECT_EQ("0\n", sendToDaemon(registration("0x100", "0x20000701", "f.filter", "office")));
  EXPECT_TRUE(daemon_.waitForOutput("sending SIGTERM signal to sync subprocess 0\n", 10))
      << daemon_.output();
}

}  // namespace
