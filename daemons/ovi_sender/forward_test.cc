// Decoding and filtering of reports as a forwarding subprocess does it, fed
// messages directly: no network.
#include <gtest/gtest.h>
#include <string.h>
#include <utime.h>

#include <string>
#include <vector>

#include "attribute.h"
#include "daemon.h"
#include "decode.h"
#include "harness/station.h"
#include "orxdb/orxdb.h"
#include "tessel/tessel_generic.h"

namespace {

struct Sent {
  std::string name;
  uint32_t type;
  std::string value;  // the value's bytes
};

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

  // Runs the decoding path of the message's type; returns whether it passed
  // and fills sent_ with the send list.
  bool decode() {
    ReportState s;
    memset(&s, 0, sizeof s);
    s.msg = &msg_;
    s.localHost = "alpha";
    s.host = strdup(msg_.host);
    daemon_.reportPriority = 0;
    int passed = msg_.type == 4 ? decodeEvent(&daemon_, &s) : decodeTrap(&daemon_, &s);
    free(s.host);
    info_ = s.info;
    dontSend_ = s.dontSend;
    sent_.clear();
    for (infoList* n = s.sendList; n != nullptr; n = n->next)
      sent_.push_back({n->name, n->type, std::string(static_cast<char*>(n->value), n->length)});
    free_info_list(s.sendList);
    return passed != 0;
  }

  Station station_;
  Daemon daemon_{Daemon::Detached{}};
  TesselServiceMsg msg_;
  OVI_MessageInfo info_;
  int dontSend_ = 0;
  std::vector<Sent> sent_;
};

TEST_F(DecodeTest, EventThresholdBecomesReasonAndPriority) {
  msg_.type = 4;
  msg_.setHost("node7");
  int32_t load = 95, limit = 90;
  put("load", 3, &load, 4, 5, &limit, 3);
  ASSERT_TRUE(decode());
  EXPECT_EQ(1, info_.reportClass);
  ASSERT_EQ(3u, sent_.size());
  EXPECT_EQ("load", sent_[0].name);
  EXPECT_EQ("trap_reason", sent_[1].name);
  EXPECT_EQ("load Greater Than  90", sent_[1].value);
  EXPECT_EQ("trap_priority", sent_[2].name);
  EXPECT_EQ("High", sent_[2].value);
  EXPECT_EQ(3, msg_.priority);
  EXPECT_EQ(3, daemon_.reportPriority);
}

TEST_F(DecodeTest, FilterNewPriorityWinsOverTheThresholds) {
  filter("default - - med pass all.tmpl\n");
  msg_.type = 4;
  msg_.setHost("node7");
  int32_t load = 95, limit = 90;
  put("load", 3, &load, 4, 5, &limit, 3);
  ASSERT_TRUE(decode());
  ASSERT_EQ(3u, sent_.size());
  EXPECT_EQ("Medium", sent_[2].value);
  EXPECT_EQ(2, msg_.priority);
}

TEST_F(DecodeTest, EnumerationsAreSentByName) {
  msg_.type = 4;
  msg_.setHost("node7");
  putInt("adminState", 2, 14);
  putInt("unknownEnum", 7, 14);
  ASSERT_TRUE(decode());
  ASSERT_EQ(2u, sent_.size());
  EXPECT_EQ(9u, sent_[0].type);
  EXPECT_EQ("down", sent_[0].value);
  // No enumeration of that name: its decimal text.
  EXPECT_EQ("7", sent_[1].value);
}

TEST_F(DecodeTest, TrapClassificationFromItsData) {
  msg_.type = 12;
  msg_.setHost("node7");
  putText("trap-type", "generic");
  putInt("trap-no", 4);
  uint32_t oid[] = {1, 3, 6, 1, 4, 1, 11};
  put("enterprise", 17, oid, sizeof oid);
  ASSERT_TRUE(decode());
  EXPECT_EQ(2, info_.reportClass);
  EXPECT_EQ(1, info_.trapType);
  EXPECT_EQ(4, info_.trapNumber);
  EXPECT_STREQ("1.3.6.1.4.1.11", info_.enterprise);
  EXPECT_EQ(3u, sent_.size());

  msg_.clearData();
  putText("trap-type", "Generic");
  ASSERT_TRUE(decode());
  EXPECT_EQ(2, info_.trapType);
}

TEST_F(DecodeTest, NewPriorityRewritesOnlyPlainTraps) {
  filter("default - - med pass all.tmpl\n");
  msg_.type = 12;
  msg_.setHost("node7");
  putText("priority", "high");
  ASSERT_TRUE(decode());
  EXPECT_EQ(3, daemon_.reportPriority);
  ASSERT_EQ(1u, sent_.size());
  EXPECT_EQ(std::string("med\0", 4), sent_[0].value);

  msg_.clearData();
  putInt("x", 1);
  ASSERT_TRUE(decode());
  ASSERT_EQ(2u, sent_.size());
  EXPECT_EQ("priority", sent_[1].name);
  EXPECT_EQ("med", sent_[1].value);

  // A database-manager trap keeps its priority datum and its own priority.
  msg_.clearData();
  msg_.agentProg = 100110;
  putText("priority", "high");
  ASSERT_TRUE(decode());
  EXPECT_EQ(4, info_.reportClass);
  EXPECT_EQ(0, daemon_.reportPriority);
  EXPECT_EQ("high", sent_[0].value);
}

TEST_F(DecodeTest, GlyphStateTrapsRewriteTheHostAndCheckTheDatabase) {
  msg_.type = 12;
  msg_.agentProg = 100110;
  msg_.setGroup("tessel_glyph_state");
  putText("glyph", "node7");
  putText("orx_name", "office");
  putText("hostname", "node7");
  ASSERT_TRUE(decode());
  EXPECT_EQ(8, info_.reportClass);
  EXPECT_EQ(0, dontSend_);
  ASSERT_EQ(3u, sent_.size());
  EXPECT_EQ(std::string("alpha:node7\0", 12), sent_[2].value);

  msg_.clearData();
  putText("glyph", "node7");
  putText("orx_name", "elsewhere");
  ASSERT_TRUE(decode());
  EXPECT_EQ(1, dontSend_);
}

TEST_F(DecodeTest, FilterDropsAndUnreadableDataEndTheReport) {
  filter("hostname node7 - - drop all.tmpl\ndefault - - - pass all.tmpl\n");
  msg_.type = 12;
  msg_.setHost("node7");
  putInt("x", 1);
  EXPECT_FALSE(decode());
  msg_.setHost("other");
  EXPECT_TRUE(decode());

  // A datum that does not decode: the report is dropped, not fetched for ever.
  msg_.argData.data[8 + 3] = 0x7f;
  EXPECT_FALSE(decode());
}

}  // namespace
