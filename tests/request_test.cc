// How the daemon reads an action request's options and refuses what it does
// not know.  The Daemon is constructed in this process, so it serves program
// 100139 while the test runs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "daemon.h"
#include "harness/station.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_object.h"
#include "vant/vant_agent.h"

namespace {

class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_ = new Daemon;
    ASSERT_EQ(0, daemon_->initFailed);
  }
  void TearDown() override {
    aTesselVantRendez = nullptr;
    delete daemon_;
  }
  void put(const char* name, uint32_t type, const void* value, uint32_t length) {
    Tessel_data d;
    memset(&d, 0, sizeof d);
    strcpy(d.name, name);
    d.type = type;
    d.length = length;
    d.value = const_cast<void*>(value);
    ASSERT_TRUE(TesselGeneric().putData(&d, &msg_));
  }
  void putText(const char* name, const std::string& text) {
    put(name, 9, text.data(), text.size());
  }
  void putAddressAndProgram() {
    struct in_addr addr;
    inet_aton("10.1.2.3", &addr);
    uint32_t prog = 0x20000600, vers = 7;
    put("tessel_rendez_addr", 11, &addr, 4);
    put("tessel_rendez_prog", 4, &prog, 4);
    put("tessel_rendez_vers", 4, &vers, 4);
  }
  int parse(Request* request) {
    memset(request, 0, sizeof *request);
    aTesselVantRendez = &msg_;
    return daemon_->getRequestArgs(*request);
  }

  Station station_;
  Daemon* daemon_ = nullptr;
  TesselServiceMsg msg_;
};

TEST_F(RequestTest, AllOptionsAreRead) {
  putAddressAndProgram();
  putText("vant_filter_file", "f.filter");
  putText("vant_orx_name", "office");
  putText("receiving_orx", "north");
  Request r;
  ASSERT_EQ(1, parse(&r));
  EXPECT_STREQ("10.1.2.3", inet_ntoa(r.rendez_addr));
  EXPECT_EQ(0x20000600u, r.rendez_prog);
  EXPECT_EQ(7u, r.rendez_vers);
  EXPECT_STREQ("f.filter", r.filter_file);
  EXPECT_STREQ("office", r.orx_name);
  EXPECT_STREQ("north", r.recv_orx);
  EXPECT_STREQ("f.filter", daemon_->filterFile);
  EXPECT_STREQ("office", daemon_->orxName);
}

TEST_F(RequestTest, MissingOptionsStopTheReadingWhereTheyAre) {
  strcpy(daemon_->filterFile, "old.filter");
  strcpy(daemon_->orxName, "olddb");
  putAddressAndProgram();
  putText("vant_filter_file", "new.filter");
  Request r;
  EXPECT_EQ(0, parse(&r));
  // The filter file was read before the database name was found missing.
  EXPECT_STREQ("new.filter", daemon_->filterFile);
  EXPECT_STREQ("olddb", daemon_->orxName);

  msg_.clearData();
  putAddressAndProgram();
  putText("vant_orx_name", "otherdb");
  EXPECT_EQ(0, parse(&r));
  EXPECT_STREQ("new.filter", daemon_->filterFile);
  EXPECT_STREQ("olddb", daemon_->orxName);
}

TEST_F(RequestTest, OptionalConsoleNameIsEmptyAndLongTextsAreCut) {
  putAddressAndProgram();
  putText("vant_filter_file", std::string(400, 'f'));
  putText("vant_orx_name", "office");
  Request r;
  ASSERT_EQ(1, parse(&r));
  EXPECT_STREQ("", r.recv_orx);
  EXPECT_EQ(254u, strlen(r.filter_file));
  EXPECT_EQ(254u, strlen(daemon_->filterFile));
}

TEST_F(RequestTest, ShortValuesDoNotOverrun) {
  uint16_t two = 0x0102;
  put("tessel_rendez_addr", 9, "ab", 2);
  put("tessel_rendez_prog", 2, &two, 2);
  put("tessel_rendez_vers", 9, "", 0);
  putText("vant_filter_file", "");
  putText("vant_orx_name", "");
  Request r;
  ASSERT_EQ(1, parse(&r));
  EXPECT_EQ(0u, r.rendez_vers);
  EXPECT_EQ(0x0102u, r.rendez_prog);
}

TEST_F(RequestTest, UnknownTypesAndFlagsAreRefusedWithStatus57) {
  aTesselVantRendez = &msg_;
  struct timeval none = {0, 0};
  char empty[] = "";
  memset(&tessel_requestStatus, 0, sizeof tessel_requestStatus);
  daemon_->doRequest(2, empty, empty, empty, 0, none, 0);
  EXPECT_EQ(57, tessel_requestStatus.status);
  EXPECT_STREQ("type: 2", tessel_requestStatus.message);

  putAddressAndProgram();
  putText("vant_filter_file", "f");
  putText("vant_orx_name", "d");
  memset(&tessel_requestStatus, 0, sizeof tessel_requestStatus);
  daemon_->doRequest(6, empty, empty, empty, 0, none, 0x40);
  EXPECT_EQ(57, tessel_requestStatus.status);
  EXPECT_STREQ("flags: 64", tessel_requestStatus.message);

  // A request whose options are incomplete is ignored, with no status.
  msg_.clearData();
  memset(&tessel_requestStatus, 0, sizeof tessel_requestStatus);
  daemon_->doRequest(6, empty, empty, empty, 0, none, 0x40);
  EXPECT_EQ(0, tessel_requestStatus.status);
}

}  // namespace
