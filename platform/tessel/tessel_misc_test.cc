// Tests of the small pieces: lists, object identifiers, paths and orx.conf.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "tessel/tessel_config.h"
#include "tessel/tessel_list.h"
#include "tessel/tessel_oid.h"

namespace {

TEST(ListTest, KeepsOrderAcrossRemovals) {
  TesselList list;
  int a = 1, b = 2, c = 3;
  ASSERT_TRUE(list.append(&a, 0) && list.append(&b, 0) && list.append(&c, 0));
  EXPECT_FALSE(list.append(&a, 1));
  list.remove(list.next(list.first()));  // b
  ASSERT_EQ(2, list.count());
  EXPECT_EQ(&a, TesselList::data(list.first()));
  EXPECT_EQ(&c, TesselList::data(list.next(list.first())));
  list.remove(list.first());
  list.remove(list.first());
  EXPECT_EQ(nullptr, list.first());
  ASSERT_TRUE(list.append(&b, 0));
  EXPECT_EQ(&b, TesselList::data(list.first()));
}

TEST(OidTest, DottedTextBothWays) {
  std::vector<uint32_t> oid;
  ASSERT_TRUE(tessel_string2oid("1.3.6.1.4.1.4294967295", &oid));
  EXPECT_STREQ("1.3.6.1.4.1.4294967295", tessel_oid2string(oid.size() * 4, oid.data()));
  EXPECT_STREQ("", tessel_oid2string(3, oid.data()));
  EXPECT_STREQ("", tessel_oid2string(0, oid.data()));
  for (const char* bad : {"", "1..3", "1.3.", "a.b", "1.4294967296", "-1"})
    EXPECT_FALSE(tessel_string2oid(bad, &oid)) << bad;
}

class RootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ovi_root_XXXXXX";
    root_ = mkdtemp(tmpl);
    setenv("OVI_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("OVI_ROOT");
    std::string cmd = "rm -rf " + root_;
    ASSERT_EQ(0, system(cmd.c_str()));
  }
  void writeConf(const std::string& text) {
    std::string dir = root_ + "/etc/opt/ZEPHline/orx";
    ASSERT_EQ(0, system(("mkdir -p " + dir).c_str()));
    std::ofstream(dir + "/orx.conf") << text;
  }
  std::string root_;
};

TEST_F(RootTest, FixedPathsFollowOviRoot) {
  EXPECT_EQ(root_ + "/var/adm/messages", tessel_path("/var/adm/messages"));
  setenv("OVI_ROOT", "", 1);
  EXPECT_EQ("/var/adm/messages", tessel_path("/var/adm/messages"));
  EXPECT_EQ("relative", tessel_path("relative"));
}

TEST_F(RootTest, ConfigFirstEntryWinsAndCommentsAreSkipped) {
  EXPECT_EQ(nullptr, tessel_getConfig("qm.snmp.schemas"));  // no orx.conf
  writeConf("# qm.snmp.schemas /commented\n"
            "qm.snmp.schemas   /opt/ZEPHline/orx/agents  \n"
            "qm.snmp.schemas /second\n"
            "ovi_sender-log\t/var/log/x.log\n"
            "qm.snmp.schemasX /other\n");
  EXPECT_STREQ("/opt/ZEPHline/orx/agents", tessel_getConfig("qm.snmp.schemas"));
  EXPECT_STREQ("/var/log/x.log", tessel_getConfig("ovi_sender-log"));
  EXPECT_EQ(nullptr, tessel_getConfig("missing"));
  EXPECT_EQ(nullptr, tessel_getConfig("qm.snmp"));
}

}  // namespace
