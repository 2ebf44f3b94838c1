#include "bench_report.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "tessel/tessel_generic.h"
#include "tessel/tessel_oid.h"

namespace {

std::vector<std::string> namesOf(TesselServiceMsg* msg) {
  std::vector<std::string> names;
  tessel_msgRewind(msg);
  Tessel_event d;
  while (tessel_msgNextDatum(msg, &d) && d.type != 0) names.push_back(d.name);
  return names;
}

TEST(BenchReportTest, TrapsHaveTheAskedArgumentListSize) {
  for (size_t size : {200u, 2048u, 6144u, 20480u, 4521u}) {
    TesselServiceMsg msg;
    ASSERT_TRUE(bench_buildTrap(&msg, "router7", size));
    EXPECT_GE(msg.arglistLength, size);
    EXPECT_LT(msg.arglistLength, size + 4) << size;
    EXPECT_EQ(12u, msg.type);
    EXPECT_EQ(0u, msg.agentProg);
    EXPECT_STREQ("router7", msg.host);
    EXPECT_EQ((std::vector<std::string>{"ifIndex", "enterprise", "text"}), namesOf(&msg));
    Tessel_event d;
    ASSERT_TRUE(tessel_msgFindDatum(&msg, "enterprise", &d));
    EXPECT_STREQ("1.3.6.1.4.1.11", tessel_oid2string(d.length, d.value));
    ASSERT_TRUE(tessel_msgFindDatum(&msg, "ifIndex", &d));
    EXPECT_EQ(3, *static_cast<const int32_t*>(d.value));
  }
}

TEST(BenchReportTest, ASizeBelowTheBareTrapGivesAnEmptyText) {
  TesselServiceMsg bare, small;
  ASSERT_TRUE(bench_buildTrap(&bare, "h", 0));
  ASSERT_TRUE(bench_buildTrap(&small, "h", 10));
  EXPECT_EQ(bare.arglistLength, small.arglistLength);
  Tessel_event d;
  ASSERT_TRUE(tessel_msgFindDatum(&small, "text", &d));
  EXPECT_EQ(0u, d.length);
}

TEST(BenchReportTest, DatabaseManagerTrapsAnnounceAnAddedElement) {
  TesselServiceMsg msg;
  ASSERT_TRUE(bench_buildDbTrap(&msg, "station", "router7"));
  EXPECT_EQ(100110u, msg.agentProg);
  EXPECT_STREQ("tessel_db_config", msg.group);
  Tessel_event d;
  ASSERT_TRUE(tessel_msgFindDatum(&msg, "added", &d));
  EXPECT_EQ("router7", std::string(static_cast<const char*>(d.value), d.length));
  EXPECT_EQ((std::vector<std::string>{"added"}), namesOf(&msg));
}

TEST(BenchReportTest, TheKeyCarriesTheRunNumber) {
  TesselServiceMsg msg;
  bench_setRun(&msg, 4294967295u);
  EXPECT_EQ(4294967295u, bench_runOfKey(msg.key));
  bench_setRun(&msg, 7);
  EXPECT_EQ(7u, bench_runOfKey(msg.key));
  for (const char* key : {"", "bench-", "bench-x", "bench-7x", "bench--7", "bench-4294967296", "7"})
    EXPECT_EQ(0u, bench_runOfKey(key)) << key;
}

}  // namespace
