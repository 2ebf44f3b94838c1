// Decoding and filtering of reports as a forwarding subprocess does it, fed
// messages directly: no network.
#include <gtest/gtest.h>
#include <string.h>
#include <utime.h>

#include <string>

#include "attribute.h"
#include "daemon.h"
#include "decode.h"
#include "harness/station.h"
#include "orxdb/orxdb.h"
#include "tessel/tessel_generic.h"

namespace {

class DecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The filter module keeps its file open across reports; each test has a
    // station of its own.
    ovi_closefilter();
    station_.writeData("all.tmpl", "added membership\n");
    filter("default - - - pass all.tmpl\n");
    station_.loadDatabase("office", "element Home view.home\nelement node7 component.router\n");
    setenv("ORX_NAME", "office", 1);
    ASSERT_TRUE(orxdb_open());
    free_attribute_lists();
    build_attribute_lists();
    strcpy(daemon_.orxName, "office");
    msg_.type = 12;
    msg_.setHost("node7");
  }
  void TearDown() override {
    orxdb_close();
    free_attribute_lists();
  }
  // Rewrites the filter file with a newer modification time, as an edit
  // that the filter module notices.
  void filter(const std::string& text) {
    std::string path = station_.writeData("f.filter", text);
    static time_t later = time(nullptr);
    later += 10;
    struct utimbuf times = {later, later};
    utime(path.c_str(), &times);
    strcpy(daemon_.filterFile, "f.filter");
  }
  void put(const char* name, uint32_t type, const void* value, uint32_t length, int relop = 0,
           const void* threshold = nullptr, int priority = 0) {
    Tessel_event d;
    memset(&d, 0, sizeof d);
    strcpy(d.name, name);
    d.type = type;
    d.length = length;
    d.value = const_cast<void*>(value);
    d.relationalOp = relop;
    d.threshold = const_cast<void*>(threshold);
    d.priority = priority;
    ASSERT_TRUE(TesselGeneric().putEvent(&d, &msg_));
  }
  void putText(const char* name, const char* text) { put(name, 9, text, strlen(text)); }
  void putInt(const char* name, int32_t v, uint32_t type = 3) { put(name, type, &v, 4); }

  // Runs the decoding path of the message's type: "<dropped>" when the
  // report does not pass, else its send list as "name:type", with "=value"
  // for texts (a NUL the length counts shown as "\0").
  std::string decode() {
    ReportState s;
    memset(&s, 0, sizeof s);
    s.msg = &msg_;
    s.localHost = "alpha";
    s.host = strdup(msg_.host);
    daemon_.child.reportPriority = 0;
    int passed = msg_.type == 4 ? decodeEvent(&daemon_, &s) : decodeTrap(&daemon_, &s);
    free(s.host);
    info_ = s.info;
    dontSend_ = s.dontSend;
    std::string out;
    for (infoList* n = s.sendList; n != nullptr; n = n->next) {
      out += (out.empty() ? "" : ", ") + std::string(n->name) + ":" + std::to_string(n->type);
      if (n->type != 9) continue;
      std::string value(static_cast<char*>(n->value), n->length);
      if (!value.empty() && value.back() == '\0') value.replace(value.size() - 1, 1, "\\0");
      out += "=" + value;
    }
    free_info_list(s.sendList);
    return passed != 0 ? out : "<dropped>";
  }

  Station station_;
  Daemon daemon_{Daemon::Detached{}};
  TesselServiceMsg msg_;
  OVI_MessageInfo info_;
  int dontSend_ = 0;
};

// The thresholds' priority unless the filter gives a new one; enumerations
// by name, or by decimal text without an enumeration of that name.
TEST_F(DecodeTest, EventThresholdBecomesReasonAndPriority) {
  msg_.type = 4;
  int32_t load = 95, limit = 90;
  put("load", 3, &load, 4, 5, &limit, 3);
  putInt("adminState", 2, 14);
  putInt("unknownEnum", 7, 14);
  const char* data = "load:3, trap_reason:9=load Greater Than  90, trap_priority:9=%s, "
                     "adminState:9=down, unknownEnum:9=7";
  char expected[256];
  snprintf(expected, sizeof expected, data, "High");
  EXPECT_EQ(expected, decode());
  EXPECT_EQ(1, info_.reportClass);
  EXPECT_EQ(3, msg_.priority);
  EXPECT_EQ(3, daemon_.child.reportPriority);
  filter("default - - med pass all.tmpl\n");
  snprintf(expected, sizeof expected, data, "Medium");
  EXPECT_EQ(expected, decode());
  EXPECT_EQ(2, msg_.priority);
}

TEST_F(DecodeTest, TrapClassificationFromItsData) {
  putText("trap-type", "generic");
  putInt("trap-no", 4);
  uint32_t oid[] = {1, 3, 6, 1, 4, 1, 11};
  put("enterprise", 17, oid, sizeof oid);
  EXPECT_EQ("trap-type:9=generic, trap-no:3, enterprise:17", decode());
  EXPECT_EQ(2, info_.reportClass);
  EXPECT_EQ(1, info_.trapType);
  EXPECT_EQ(4, info_.trapNumber);
  EXPECT_STREQ("1.3.6.1.4.1.11", info_.enterprise);
  msg_.clearData();
  putText("trap-type", "Generic");  // compared exactly
  decode();
  EXPECT_EQ(2, info_.trapType);
}

// A plain trap without a priority datum gets one; a database-manager trap
// keeps its priority datum and its own priority.
TEST_F(DecodeTest, NewPriorityRewritesOnlyPlainTraps) {
  filter("default - - med pass all.tmpl\n");
  putInt("x", 1);
  EXPECT_EQ("x:3, priority:9=med", decode());
  msg_.clearData();
  msg_.agentProg = 100110;
  putText("priority", "high");
  EXPECT_EQ("priority:9=high", decode());
  EXPECT_EQ(4, info_.reportClass);
  EXPECT_EQ(0, daemon_.child.reportPriority);
}

TEST_F(DecodeTest, GlyphStateTrapsRewriteTheHostAndCheckTheDatabase) {
  msg_.agentProg = 100110;
  msg_.setGroup("tessel_glyph_state");
  putText("glyph", "node7");
  putText("orx_name", "office");
  putText("hostname", "node7");
  EXPECT_EQ("glyph:9=node7, orx_name:9=office, hostname:9=alpha:node7\\0", decode());
  EXPECT_EQ(8, info_.reportClass);
  EXPECT_EQ(0, dontSend_);
  msg_.clearData();
  putText("glyph", "node7");
  putText("orx_name", "elsewhere");
  decode();
  EXPECT_EQ(1, dontSend_);
}

// A datum that does not decode: the report is dropped, not fetched for ever.
TEST_F(DecodeTest, UnreadableDataEndTheReport) {
  putInt("x", 1);
  EXPECT_EQ("x:3", decode());
  msg_.argData.data[8 + 3] = 0x7f;
  EXPECT_EQ("<dropped>", decode());
}

}  // namespace
