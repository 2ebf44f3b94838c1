// End-to-end tests of ovi_sender with qm.event, consoles and the host's
// rpcbind: start-up, requests, registration and its status traps, the
// registry of subprocesses, and the caching of reports.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/daemon_fixture.h"

namespace {

TEST(DaemonCommandLineTest, UnknownOptionPrintsTheUsageLines) {
  for (std::vector<std::string> argv : {std::vector<std::string>{OVI_SENDER_BIN, "-q"},
                                         std::vector<std::string>{OVI_SENDER_BIN, "-d"}}) {
    std::string out;
    int status = runProgram(argv, &out);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));
    EXPECT_EQ("Usage: ovi_sender [-d <debugging-level>\n                [-t <RPC-timeout>]\n", out);
  }
}

TEST(DaemonCommandLineTest, IncompleteInstallationIsReportedToTheOperator) {
  Station station(/*withInstallation=*/false);
  station.write("/var/adm/messages", "earlier line\n");
  std::string out;
  int status = runProgram({OVI_SENDER_BIN}, &out, 30, station.env());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_EQ("", out);
  std::string messages = station.read("/var/adm/messages");
  EXPECT_EQ(0u, messages.find("earlier line\novi_sender [")) << messages;
  EXPECT_NE(std::string::npos, messages.find("] cannot be started. Reason :\n\tCannot open file "));
  EXPECT_EQ(messages.substr(strlen("earlier line\n")), station.read("/dev/console"));
}

TEST(DaemonCommandLineTest, WithoutDispatcherItExits) {
  Station station;
  ASSERT_FALSE(registered(100101, 10)) << "a qm.event runs on this host";
  std::string out;
  int status = runProgram({OVI_SENDER_BIN, "-d", "2"}, &out, 60, station.env());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_NE(std::string::npos, out.find("Can't register with the event dispatcher\n")) << out;
  EXPECT_NE(std::string::npos, out.find("reason : ")) << out;
  EXPECT_FALSE(registered(100139, 10));
}

TEST_F(DaemonTest, WithoutSchemaEntryItExits) {
  Station bare(true, /*withSchemas=*/false);
  ASSERT_NO_FATAL_FAILURE(startDispatcher());
  std::string out;
  int status = runProgram({OVI_SENDER_BIN}, &out, 30, bare.env());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
}

TEST_F(DaemonTest, ServesRequestsTracesThemAndShutsDownOnSigterm) {
  ASSERT_NO_FATAL_FAILURE(startDispatcher());
  ASSERT_NO_FATAL_FAILURE(startDaemon("1"));
  std::string table;
  ASSERT_EQ(0, runProgram({"/usr/sbin/rpcinfo", "-p"}, &table));
  EXPECT_NE(std::string::npos, table.find("100139   10   udp"));
  EXPECT_NE(std::string::npos, table.find("100139   10   tcp"));
  EXPECT_NE(std::string::npos, daemon_.output().find("ovi_sender, "));

  EXPECT_EQ("57\n", sendToDaemon({"--type", "2", "--system", "s1", "x=int:1"}));
  std::vector<std::string> unknownFlag = registration("0x40", "0x20000500", "f", "office");
  EXPECT_EQ("57\n", sendToDaemon(unknownFlag));
  std::string prefix = "[" + std::to_string(daemon_.pid()) + "] ovi_sender: ";
  ASSERT_TRUE(daemon_.waitForOutput("got unknown action request flag: 64\n", 10));
  std::string out = daemon_.output();
  EXPECT_NE(std::string::npos, out.find(prefix + "***** received request #1: ")) << out;
  EXPECT_NE(std::string::npos, out.find(prefix + "***** received request #2: ")) << out;
  EXPECT_NE(std::string::npos,
            out.find(prefix + "request type: 2, target system: \"s1\", schema group: \"\", "
                     "table key: \"\", reporting count: 0, reporting interval: 0 seconds, "
                     "0 microseconds.\n" + prefix + "got invalid request type: 2\n"))
      << out;

  int status = daemon_.stop(SIGTERM, 20);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_NE(std::string::npos, daemon_.output().find(": shutting down ")) << daemon_.output();
  EXPECT_TRUE(qm_.waitForOutput("unsubscribed", 10));
  EXPECT_FALSE(registered(100139, 10));
}

TEST_F(DaemonTest, TraceLevelZeroWritesNothing) {
  prepareRegistration();
  ASSERT_NO_FATAL_FAILURE(startDispatcher());
  ASSERT_TRUE(daemon_.start({OVI_SENDER_BIN}, station_.env()));
  ASSERT_TRUE(qm_.waitForOutput("program 100139 version 10", 10));
  sendToDaemon({"--type", "trap", "x=int:1"});
  std::string out;
  runProgram({OVI_CONSOLE_BIN, "--register", "--prog", "0x20000501", "--filter", "f.filter",
              "--db", "office", "--count", "1", "--timeout", "20"},
             &out);
  EXPECT_NE(std::string::npos, out.find("succeeded")) << out;
  EXPECT_EQ(0, daemon_.stop(SIGTERM, 20));
  EXPECT_EQ("", daemon_.output());
}

// What a console prints after its register request: the request line, then
// the status trap's line.
std::string statusTrap(const std::string& consoleOutput) {
  size_t nl = consoleOutput.find('\n');
  return nl == std::string::npos ? "" : consoleOutput.substr(nl + 1);
}

TEST_F(DaemonTest, RegistrationOutcomesComeBackAsStatusTraps) {
  prepareRegistration();
  station_.writeData("badtmpl.filter", "default - - - pass missing.tmpl\n");
  station_.writeData("ovi_sender.conf", "LOCALHOST Office\nlocalhost nodb\n");
  ASSERT_NO_FATAL_FAILURE(startDispatcher());
  ASSERT_NO_FATAL_FAILURE(startDaemon("1"));
  std::string trap = std::string("{\"prog\":536872194,\"vers\":10,\"proc\":1,\"type\":12,") +
                     "\"agent_prog\":100139,\"host\":\"" + hostName() +
                     "\",\"group\":\"trap\",\"priority\":3,\"data\":[";
  struct Case {
    const char* filter;
    const char* db;
    const char* expect;
  } cases[] = {
      {"f.filter", "office",
       "{\"name\":\"vant_register_status\",\"type\":9,\"length\":9,\"value\":\"succeeded\"},"
       "{\"name\":\"vant_register_reason\",\"type\":9,\"length\":7,\"value\":\"Running\"}]}\n"},
      {"missing.filter", "office",
       "{\"name\":\"vant_register_status\",\"type\":9,\"length\":6,\"value\":\"failed\"},"
       "{\"name\":\"vant_register_reason\",\"type\":9,\"length\":22,"
       "\"value\":\"Can't open filter file\"}]}\n"},
      {"badtmpl.filter", "office",
       "{\"name\":\"vant_register_status\",\"type\":9,\"length\":6,\"value\":\"failed\"},"
       "{\"name\":\"vant_register_reason\",\"type\":9,\"length\":27,"
       "\"value\":\"Can't open db template file\"}]}\n"},
      {"f.filter", "elsewhere",
       "{\"name\":\"vant_register_status\",\"type\":9,\"length\":6,\"value\":\"failed\"},"
       "{\"name\":\"vant_register_reason\",\"type\":9,\"length\":13,\"value\":\"Access denied\"}]}\n"},
      {"f.filter", "nodb",
       "{\"name\":\"vant_register_status\",\"type\":9,\"length\":6,\"value\":\"failed\"},"
       "{\"name\":\"vant_register_reason\",\"type\":9,\"length\":18,"
       "\"value\":\"Database not found\"}]}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.filter) + " " + c.db);
    std::string out;
    ASSERT_EQ(0, runProgram({OVI_CONSOLE_BIN, "--register", "--prog", "0x20000502", "--vers", "3",
                             "--filter", c.filter, "--db", c.db, "--count", "1", "--timeout",
                             "20"},
                            &out));
    EXPECT_EQ(0u, out.find("{\"request\":\"register\",\"status\":0}\n")) << out;
    EXPECT_EQ(trap + c.expect, statusTrap(out));
  }
}

TEST_F(DaemonTest, RegistryReplacesDeletesRestartsAndReaps) {
  prepareRegistration();
  ASSERT_NO_FATAL_FAILURE(startDispatcher());
  ASSERT_NO_FATAL_FAILURE(startDaemon("2"));
  // The console stays up: the subprocess delivers to it.
  Process console;
  ASSERT_TRUE(console.start({OVI_CONSOLE_BIN, "--register", "--event", "--prog", "0x20000503",
                             "--vers", "3", "--filter", "f.filter", "--db", "office", "--timeout",
                             "120"}));
  ASSERT_TRUE(console.waitForOutput("succeeded", 20)) << console.errors();
  pid_t d = daemon_.pid();
  std::set<pid_t> first;
  ASSERT_TRUE(waitUntil([&] { return (first = liveChildren(d)).size() == 1; }, 10));
  pid_t s1 = *first.begin();

  // The same registration again replaces the subprocess.
  std::vector<std::string> again = registration("0x80", "0x20000503", "f.filter", "office");
  EXPECT_EQ("0\n", sendToDaemon(again));
  std::set<pid_t> now;
  ASSERT_TRUE(waitUntil([&] { now = liveChildren(d); return now.size() == 1 && !now.count(s1); },
                        10));
  pid_t s2 = *now.begin();
  EXPECT_NE(std::string::npos,
            daemon_.output().find("rendezvous already exists, killing subprocess " +
                                  std::to_string(s1) + "\n"));
  EXPECT_TRUE(daemon_.waitForOutput("subprocess " + std::to_string(s1) +
                                    " terminated, exit code 0\n", 10));

  // SIGUSR2: the subprocess ends with status 1 and is started again.  Sent
  // once it waits for reports: before its handlers are set, the signal's
  // default action would end it as a kill, which is not restarted.
  ASSERT_TRUE(daemon_.waitForOutput("[" + std::to_string(s2) +
                                    "] ovi_sender: calling select(2) for ready_to_read", 10));
  ASSERT_TRUE(signalChildOf(d, s2, SIGUSR2));
  ASSERT_TRUE(waitUntil([&] { now = liveChildren(d); return now.size() == 1 && !now.count(s2); },
                        10));
  pid_t s3 = *now.begin();
  EXPECT_TRUE(daemon_.waitForOutput("subprocess " + std::to_string(s2) +
                                    " terminated, exit code 1\n", 10));

  // SIGTERM ends it for good.
  ASSERT_TRUE(signalChildOf(d, s3, SIGTERM));
  ASSERT_TRUE(waitUntil([&] { return liveChildren(d).empty(); }, 10));
  EXPECT_TRUE(daemon_.waitForOutput("subprocess " + std::to_string(s3) +
                                    " terminated, exit code 0\n", 10));

  // A delete request ends a registration without a restart.  (Flags 0x180
  // register: the register bit is looked at first.)
  EXPECT_EQ("0\n", sendToDaemon(registration("0x180", "0x20000503", "f.filter", "office")));
  ASSERT_TRUE(waitUntil([&] { return liveChildren(d).size() == 1; }, 10));
  console.stop();
  std::string out;
  ASSERT_EQ(0, runProgram({OVI_CONSOLE_BIN, "--delete", "--prog", "0x20000503", "--vers", "3",
                           "--filter", "f.filter", "--db", "office", "--timeout", "1"},
                          &out));
  EXPECT_EQ("{\"request\":\"delete\",\"status\":0}\n", out);
  ASSERT_TRUE(waitUntil([&] { return liveChildren(d).empty(); }, 10));
  sleepSeconds(0.5);
  EXPECT_TRUE(liveChildren(d).empty()) << "a deleted registration is not restarted";
  EXPECT_TRUE(waitUntil([&] { return noZombies(d); }, 10));
  // Every validation child's end left the registry as it was.
  EXPECT_GE(countLines(daemon_.output(), "cannot find rendezvous to delete\n"), 3);
}

TEST_F(DaemonTest, ForwardedAndClosingReportsAreCachedForNobody) {
  prepareRegistration();
  ASSERT_NO_FATAL_FAILURE(startDispatcher());
  ASSERT_NO_FATAL_FAILURE(startDaemon("3"));
  Process console;
  ASSERT_TRUE(console.start({OVI_CONSOLE_BIN, "--register", "--event", "--prog", "0x20000504",
                             "--vers", "3", "--filter", "f.filter", "--db", "office",
                             "--recv-orx", "north", "--timeout", "300"}));
  ASSERT_TRUE(console.waitForOutput("succeeded", 20)) << console.errors();
  // Every option the console sent reached the registry.
  for (const char* option : {"\trendez_addr: 127.0.0.1\n", "\trendez_prog: 536872196\n",
                             "\trendez_vers: 3\n", "\tfilter_file: f.filter\n",
                             "\t   orx_name: office\n", "\t   recv_orx: north\n"})
    EXPECT_NE(std::string::npos, daemon_.output().find(option)) << option;
  std::set<pid_t> children;
  ASSERT_TRUE(waitUntil([&] { return (children = liveChildren(daemon_.pid())).size() == 1; }, 10));
  pid_t sub = *children.begin();
  std::string host = hostName();
  std::transform(host.begin(), host.end(), host.begin(), ::toupper);
  EXPECT_EQ("0\n", sendToDaemon({"--type", "trap", "vant_forwarded_by=string:" + host}));
  EXPECT_EQ("0\n", sendToDaemon({"--type", "event", "a=int:1", "vant_forwarded_by=string:"}));
  EXPECT_EQ("0\n", sendToDaemon({"--type", "trap", "--flags", "0x200", "a=int:1"}));
  EXPECT_EQ("0\n", sendToDaemon({"--type", "trap", "a=int:2"}));
  std::string got = "[" + std::to_string(sub) + "] ovi_sender: got report from parent\n";
  ASSERT_TRUE(daemon_.waitForOutput(got, 10));
  sleepSeconds(0.5);
  EXPECT_EQ(1, countLines(daemon_.output(), got));
  EXPECT_EQ(3, countLines(daemon_.output(),
                          "CHECK FAILED:  Found our hostname in VANT_FORWARDED_BY\n"));
  console.stop();
}

}  // namespace
