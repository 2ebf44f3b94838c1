// Forwarding between two stations on one machine, each in namespaces of its
// own: reports cross from station alpha to a console on beta, and two
// stations that forward to each other never send a report back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/daemon_fixture.h"
#include "harness/two_stations.h"

namespace {

// A station's ovi_sender with its qm.event, inside one of the two stations.
struct RunningStation {
  RunningStation(const TwoStations& two, const std::string& name) : two(two), name(name) {}
  ~RunningStation() {
    daemon.stop(SIGTERM, 10);
    qm.stop();
  }
  // Starts qm.event and ovi_sender; true when the daemon subscribed.
  bool start() {
    env = files.env();
    return two.start(&qm, name, {QM_EVENT_BIN, "-d", "2"}, env) &&
           qm.waitForOutput("serving program", 10) &&
           two.start(&daemon, name, {OVI_SENDER_BIN, "-d", "3"}, env) &&
           qm.waitForOutput("program 100139 version 10", 10);
  }
  // Lets receivers of `peer` use database "office".
  void allow(const std::string& peer) {
    files.writeData("f.filter", "hostname blocked - - drop all.tmpl\n"
                                "default - - - pass all.tmpl\n");
    files.writeData("all.tmpl", "added membership\n");
    files.writeData("ovi_sender.conf", peer + " office\n");
    files.loadDatabase("office", "element Home view.home\nelement node7 component.router\n"
                                 "member node7 Home 1 2 3 4 5\n");
  }
  int send(std::vector<std::string> args) {
    std::vector<std::string> argv = {TESSEL_SEND_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    return two.run(name, argv, &out, 30, env);
  }

  const TwoStations& two;
  std::string name;
  Station files;
  std::vector<std::string> env;
  Process qm, daemon;
};

TEST(TwoStationTest, ReportsCrossToAConsoleOnTheOtherStation) {
  TwoStations two;
  OVI_REQUIRE_TWO_STATIONS(two);
  RunningStation alpha(two, "alpha");
  alpha.allow("beta");
  ASSERT_TRUE(alpha.start()) << alpha.daemon.output() << alpha.qm.output();

  Process console;
  ASSERT_TRUE(two.start(&console, "beta",
                        {OVI_CONSOLE_BIN, "--daemon", "alpha", "--addr", two.address("beta"),
                         "--register", "--event", "--prog", "0x20000800", "--vers", "3",
                         "--filter", "f.filter", "--db", "office", "--timeout", "120"}));
  ASSERT_TRUE(console.waitForOutput("succeeded", 20)) << console.output() << console.errors();

  EXPECT_EQ(0, alpha.send({"--type", "event", "--from", "node7", "load=int:95/5:90:3",
                           "adminState=enum:2"}));
  EXPECT_EQ(0, alpha.send({"--type", "trap", "--from", "blocked", "n=int:1"}));
  EXPECT_EQ(0, alpha.send({"--type", "trap", "--agent-prog", "100110", "--group",
                           "tessel_glyph_state", "glyph=string:node7", "orx_name=string:other"}));
  EXPECT_EQ(0, alpha.send({"--type", "trap", "--agent-prog", "100110", "--group",
                           "tessel_glyph_state", "glyph=string:node7", "orx_name=string:office",
                           "hostname=string:node7"}));
  EXPECT_EQ(0, alpha.send({"--type", "trap", "--agent-prog", "100110", "--group",
                           "tessel_db_config", "added=string:node7"}));
  ASSERT_TRUE(waitUntil([&] { return console.lines().size() >= 5; }, 30)) << alpha.daemon.output();
  std::vector<std::string> events = linesWith(console, "\"prog\":100101");
  std::vector<std::string> own = linesWith(console, "\"prog\":536872960,\"vers\":3");
  ASSERT_EQ(2u, events.size()) << console.output();
  ASSERT_EQ(1u, own.size()) << console.output();
  // The event, with its threshold texts, its enumeration by name, and the
  // forwarding host first.
  EXPECT_NE(std::string::npos, events[0].find("{\"name\":\"vant_forwarded_by\",\"type\":9,"
                                              "\"length\":5,\"value\":\"alpha\"},"
                                              "{\"name\":\"load\""))
      << events[0];
  EXPECT_NE(std::string::npos, events[0].find("\"value\":\"load Greater Than  90\""));
  EXPECT_NE(std::string::npos, events[0].find("\"value\":\"High\""));
  EXPECT_NE(std::string::npos, events[0].find("{\"name\":\"adminState\",\"type\":9,\"length\":4,"
                                              "\"value\":\"down\"}"));
  // The glyph-state trap of this database goes to the Event program, with the
  // host rewritten; the one of another database is not forwarded.
  EXPECT_NE(std::string::npos, events[1].find("\"group\":\"tessel_glyph_state\"")) << events[1];
  EXPECT_NE(std::string::npos, events[1].find("\"value\":\"alpha:node7\"")) << events[1];
  // The database-manager trap goes to the console's own program, with the
  // element's information.
  EXPECT_NE(std::string::npos, own[0].find("{\"name\":\"added\",\"type\":9,\"length\":5,"
                                           "\"value\":\"node7\"}"))
      << own[0];
  EXPECT_NE(std::string::npos, own[0].find("{\"name\":\"view\",\"type\":9,\"length\":4,"
                                           "\"value\":\"Home\"}"))
      << own[0];
  console.stop();
}

TEST(TwoStationTest, StationsForwardingToEachOtherNeverSendAReportBack) {
  TwoStations two;
  OVI_REQUIRE_TWO_STATIONS(two);
  RunningStation alpha(two, "alpha"), beta(two, "beta");
  alpha.allow("beta");
  beta.allow("alpha");
  ASSERT_TRUE(alpha.start()) << alpha.daemon.output();
  ASSERT_TRUE(beta.start()) << beta.daemon.output();
  // Each station's daemon delivers reports to the other's qm.event; the
  // rendezvous program itself (status traps) is served by a console.
  Process consoleA, consoleB;
  ASSERT_TRUE(two.start(&consoleA, "alpha", {OVI_CONSOLE_BIN, "--prog", "0x20000801", "--vers",
                                             "10", "--timeout", "120"}));
  ASSERT_TRUE(two.start(&consoleB, "beta", {OVI_CONSOLE_BIN, "--prog", "0x20000801", "--vers",
                                            "10", "--timeout", "120"}));
  auto served = [&](const char* station) {
    std::string out;
    return two.run(station, {"/usr/sbin/rpcinfo", "-u", station, "536872961", "10"}, &out) == 0;
  };
  ASSERT_TRUE(waitUntil([&] { return served("alpha") && served("beta"); }, 10));
  auto forwardTo = [&](RunningStation& from, const std::string& peer) {
    return from.send({"--to", "localhost", "--prog", "100139", "--type", "6", "--flags", "0x80",
                      "tessel_rendez_addr=ipaddr:" + two.address(peer),
                      "tessel_rendez_prog=uint:0x20000801", "tessel_rendez_vers=uint:10",
                      "vant_filter_file=string:f.filter", "vant_orx_name=string:office"});
  };
  ASSERT_EQ(0, forwardTo(alpha, "beta"));
  ASSERT_EQ(0, forwardTo(beta, "alpha"));
  ASSERT_TRUE(alpha.daemon.waitForOutput("registered new rendezvous", 10));
  ASSERT_TRUE(beta.daemon.waitForOutput("registered new rendezvous", 10));

  ASSERT_EQ(0, alpha.send({"--type", "trap", "--from", "node7", "n=int:42"}));
  // Beta's qm.event gets it from alpha once; beta's subprocess sees alpha in
  // "vant_forwarded_by" and does not send it back.
  ASSERT_TRUE(beta.qm.waitForOutput("report type 12 from node7", 20))
      << alpha.daemon.output() << beta.qm.output();
  ASSERT_TRUE(beta.daemon.waitForOutput("FINISHED ALL FILTERING", 20)) << beta.daemon.output();
  sleepSeconds(2);
  EXPECT_EQ(1, countLines(alpha.qm.output(), "report type 12 from node7")) << alpha.qm.output();
  EXPECT_EQ(1, countLines(beta.qm.output(), "report type 12 from node7")) << beta.qm.output();
  EXPECT_EQ(0, countLines(beta.daemon.output(), "Calling Event rendez")) << beta.daemon.output();
  consoleA.stop();
  consoleB.stop();
}

}  // namespace
