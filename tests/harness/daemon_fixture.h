// What the end-to-end tests of ovi_sender share: a running station (qm.event
// and ovi_sender over a Station's files), requests sent straight to the
// daemon, and looks at its children and output.
#ifndef TESTS_HARNESS_DAEMON_FIXTURE_H_
#define TESTS_HARNESS_DAEMON_FIXTURE_H_

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "harness/process.h"
#include "harness/station.h"
#include "tessel/tessel_client.h"

inline bool registered(unsigned long prog, unsigned long vers) {
  struct in_addr local;
  local.s_addr = htonl(INADDR_LOOPBACK);
  return tessel_getport(local, prog, vers, IPPROTO_UDP, {2, 0}) != 0 &&
         tessel_getport(local, prog, vers, IPPROTO_TCP, {2, 0}) != 0;
}

inline int countLines(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) n++;
  return n;
}

inline std::string hostName() {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  return host;
}

// A running station: qm.event and ovi_sender over a Station's files.
class DaemonTest : public ::testing::Test {
 protected:
  void startDispatcher() {
    ASSERT_TRUE(qm_.start({QM_EVENT_BIN, "-d", "1"}, station_.env()));
    ASSERT_TRUE(qm_.waitForOutput("serving program", 10)) << qm_.errors();
  }
  void startDaemon(const char* level) {
    ASSERT_TRUE(daemon_.start({OVI_SENDER_BIN, "-d", level}, station_.env()));
    ASSERT_TRUE(qm_.waitForOutput("program 100139 version 10", 10)) << daemon_.output();
    ASSERT_TRUE(waitUntil([] { return registered(100139, 10); }, 10));
  }
  void TearDown() override {
    if (daemon_.running()) {
      EXPECT_EQ(0, daemon_.stop(SIGTERM, 10)) << daemon_.output();
    }
    if (qm_.running()) qm_.stop();
  }
  // Sends a report or request straight to the daemon; returns the status
  // line tessel_send printed.
  std::string sendToDaemon(std::vector<std::string> args) {
    std::vector<std::string> argv = {TESSEL_SEND_BIN, "--to", "localhost", "--prog", "100139"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    EXPECT_EQ(0, runProgram(argv, &out));
    return out;
  }
  // The options of an action request for a receiver on this host.
  std::vector<std::string> registration(const char* flags, const char* prog,
                                        const std::string& filter, const std::string& db,
                                        const char* recvOrx = nullptr, const char* vers = "3") {
    std::vector<std::string> args = {
        "--type", "6", "--flags", flags, "tessel_rendez_addr=ipaddr:127.0.0.1",
        std::string("tessel_rendez_prog=uint:") + prog,
        std::string("tessel_rendez_vers=uint:") + vers,
        "vant_filter_file=string:" + filter, "vant_orx_name=string:" + db};
    if (recvOrx != nullptr) args.push_back(std::string("receiving_orx=string:") + recvOrx);
    return args;
  }
  // A station whose console may register: a filter, a template, the access
  // list entry and the database.
  void prepareRegistration() {
    station_.writeData("f.filter", "default - - - pass all.tmpl\n");
    station_.writeData("all.tmpl", "added membership,color\n");
    station_.writeData("ovi_sender.conf", "localhost office\n");
    station_.loadDatabase("office", "element Home view.home\n");
  }

  Station station_;
  Process qm_;
  Process daemon_;
};

#endif  // TESTS_HARNESS_DAEMON_FIXTURE_H_
