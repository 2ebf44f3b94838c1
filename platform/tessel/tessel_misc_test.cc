// Tests of the small pieces: lists, object identifiers, paths and orx.conf.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "tessel/tessel_config.h"
#include "tessel/tessel_list.h"
#include "tessel/tessel_oid.h"

namespace {

TEST(ListTest, KeepsOrderAcrossRemovals) {
  TesselList list;
  int a = 1, b = 2, c = 3;
  ASSERT_TRUE(list.append(&a, 0) && list.append(&b, 0) && list.append(&c, 0));
  list.remove(list.next(list.first()));  // b
  ASSERT_EQ(2, list.count());
  EXPECT_EQ(&c, TesselList::data(list.next(list.first())));
  list.remove(list.first());
  list.remove(list.first());
  EXPECT_EQ(nullptr, list.first());
  ASSERT_TRUE(list.append(&b, 0));  // the emptied list works again
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

TEST(ConfigTest, PathsFollowOviRootAndFirstConfigEntryWins) {
  char tmpl[] = "/tmp/ovi_root_XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  std::string root = tmpl;
  setenv("OVI_ROOT", "", 1);
  EXPECT_EQ("/var/adm/messages", tessel_path("/var/adm/messages"));
  setenv("OVI_ROOT", tmpl, 1);
  EXPECT_EQ(root + "/var/adm/messages", tessel_path("/var/adm/messages"));
  EXPECT_EQ("relative", tessel_path("relative"));
  EXPECT_EQ(nullptr, tessel_getConfig("qm.snmp.schemas"));  // no orx.conf
  std::filesystem::create_directories(root + "/etc/opt/ZEPHline/orx");
  std::ofstream(root + "/etc/opt/ZEPHline/orx/orx.conf")
      << "# qm.snmp.schemas /commented\n"
         "qm.snmp.schemas   /opt/ZEPHline/orx/agents  \n"
         "qm.snmp.schemas /second\n"
         "ovi_sender-log\t/var/log/x.log\n"
         "qm.snmp.schemasX /other\n";
  EXPECT_STREQ("/opt/ZEPHline/orx/agents", tessel_getConfig("qm.snmp.schemas"));
  EXPECT_STREQ("/var/log/x.log", tessel_getConfig("ovi_sender-log"));
  EXPECT_EQ(nullptr, tessel_getConfig("missing"));
  EXPECT_EQ(nullptr, tessel_getConfig("qm.snmp"));
  unsetenv("OVI_ROOT");
  std::filesystem::remove_all(root);
}

}  // namespace
