#include "trap_limits.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "parse_trap.h"
#include "test_root.h"

namespace {

std::vector<std::pair<int, int>> rangesOf(const char* text) {
  int count = -1;
  std::unique_ptr<TrapRange, decltype(&free)> r(make_trap_limits(text, &count), &free);
  std::vector<std::pair<int, int>> out;
  for (int i = 0; i < count; i++) out.emplace_back(r.get()[i].lower, r.get()[i].upper);
  return out;
}

using Ranges = std::vector<std::pair<int, int>>;

TEST(ClassSelectorTest, KnownTextsOnlyWithoutRegardToCase) {
  EXPECT_EQ(11, decide_event_or_trap("all"));
  EXPECT_EQ(1, decide_event_or_trap("events"));
  EXPECT_EQ(2, decide_event_or_trap("traps"));
  EXPECT_EQ(8, decide_event_or_trap("glyphs"));
  EXPECT_EQ(3, decide_event_or_trap("EVENTS,TRAPS"));
  EXPECT_EQ(9, decide_event_or_trap("events,glyphs"));
  EXPECT_EQ(10, decide_event_or_trap("traps,glyphs"));
  EXPECT_EQ(0, decide_event_or_trap("events, traps"));
  EXPECT_EQ(0, decide_event_or_trap("traps,events"));
  EXPECT_EQ(0, decide_event_or_trap(""));
  EXPECT_EQ(0, decide_event_or_trap(nullptr));
}

TEST(TrapLimitsTest, NumbersAndRanges) {
  EXPECT_EQ((Ranges{{0, 3}, {5, 5}}), rangesOf("0-3,5"));
  EXPECT_EQ((Ranges{{4, 4}}), rangesOf("4"));
  EXPECT_EQ((Ranges{{1, 2}, {7, 9}}), rangesOf("x1-2;;7 -9y"));
  // The upper bound must follow the dash directly.
  EXPECT_EQ((Ranges{{5, 0}, {7, 7}}), rangesOf("5 - 7"));
  EXPECT_EQ((Ranges{{5, 0}}), rangesOf("5-"));
  EXPECT_EQ((Ranges{}), rangesOf("none"));
  EXPECT_EQ((Ranges{}), rangesOf(""));
}

TEST(TrapLimitsTest, BoundsWrapToSigned16Bits) {
  EXPECT_EQ((Ranges{{-32768, -32768}, {32767, 32767}}), rangesOf("32768,32767"));
  EXPECT_EQ((Ranges{{0, 1}}), rangesOf("65536-65537"));
  // Only the first 11 digits of a long run count; the run is still one number.
  EXPECT_EQ((Ranges{{static_cast<int16_t>(11111111111ULL & 0xffff), 2}}),
            rangesOf("1111111111111111111-2"));
}

TEST(TrapLimitsTest, At80RangesTheRestIsIgnored) {
  std::string list;
  for (int i = 0; i < 100; i++) list += std::to_string(i) + ",";
  EXPECT_EQ(80u, rangesOf(list.c_str()).size());
  EXPECT_EQ(1, is_trap_no_okay(79, list.c_str()));
  EXPECT_EQ(0, is_trap_no_okay(80, list.c_str()));
}

TEST(TrapLimitsTest, NumberWithinList) {
  EXPECT_EQ(1, is_trap_no_okay(12345, "All"));
  EXPECT_EQ(1, is_trap_no_okay(12345, "all"));
  EXPECT_EQ(1, is_trap_no_okay(12345, "-"));
  EXPECT_EQ(1, is_trap_no_okay(12345, "none"));
  EXPECT_EQ(0, is_trap_no_okay(4, "0-3,5"));
  EXPECT_EQ(1, is_trap_no_okay(4, "4"));
  EXPECT_EQ(0, is_trap_no_okay(6, "5 - 7"));
  EXPECT_EQ(1, is_trap_no_okay(7, "5 - 7"));
  EXPECT_EQ(0, is_trap_no_okay(40000, "40000"));  // the bound wrapped negative
  EXPECT_EQ(1, is_trap_no_okay(40000 - 65536, "40000"));
}

class PassTest : public OviRootTest {
 protected:
  void SetUp() override {
    OviRootTest::SetUp();
    write("traps.lst",
          "---Standard Traps---------%0-3,5%\n"
          "Acme Corp%10-20%1.3.6.1.4.1.99\n"
          "Other%All%1.3.6.1.4.1.7\n");
    write("all.lst", "---All Enterprise Traps------%100%\n");
    ASSERT_EQ(1, ovi_add_trap_file_to_cache("traps.lst"));
    ASSERT_EQ(1, ovi_add_trap_file_to_cache("all.lst"));
  }

  static OVI_MessageInfo trap(int type, int number, const char* enterprise) {
    OVI_MessageInfo info{};
    info.reportClass = OVI_CLASS_TRAP;
    info.trapType = type;
    info.trapNumber = number;
    snprintf(info.enterprise, sizeof info.enterprise, "%s", enterprise);
    return info;
  }
  static int passEnterprise(const char* file, int number, const char* enterprise) {
    OVI_MessageInfo info = trap(OVI_TRAP_ENTERPRISE, number, enterprise);
    return pass_event_or_trap("traps", file, &info);
  }
  static OVI_MessageInfo ofClass(int cls) {
    OVI_MessageInfo info{};
    info.reportClass = static_cast<int16_t>(cls);
    return info;
  }
};

TEST_F(PassTest, ClassesDecideForEventsGlyphsAndDatabaseTraps) {
  OVI_MessageInfo event = ofClass(OVI_CLASS_EVENT), glyph = ofClass(OVI_CLASS_GLYPH_TRAP);
  OVI_MessageInfo dbmgr = ofClass(OVI_CLASS_DBMGR_TRAP), t = trap(OVI_TRAP_GENERIC, 1, "");
  // The trap file is not consulted for events, even an unreadable one.
  EXPECT_EQ(1, pass_event_or_trap("events", "unreadable", &event));
  EXPECT_EQ(0, pass_event_or_trap("events", "-", &t));
  EXPECT_EQ(1, pass_event_or_trap("all", "unreadable", &glyph));
  EXPECT_EQ(1, pass_event_or_trap("events,glyphs", "unreadable", &glyph));
  EXPECT_EQ(0, pass_event_or_trap("traps", "-", &glyph));
  EXPECT_EQ(1, pass_event_or_trap("bogus", "unreadable", &dbmgr));
  EXPECT_EQ(0, pass_event_or_trap("events, traps", "-", &event));
  EXPECT_EQ(1, pass_event_or_trap("traps", "-", &t));
  EXPECT_EQ(1, pass_event_or_trap("traps", "", &t));
  EXPECT_EQ(0, pass_event_or_trap("traps", "-", nullptr));
}

TEST_F(PassTest, GenericTrapsUseTheStandardEntriesOnly) {
  OVI_MessageInfo t4 = trap(OVI_TRAP_GENERIC, 4, "1.3.6.1.4.1.7");
  OVI_MessageInfo t5 = trap(OVI_TRAP_GENERIC, 5, "");
  EXPECT_EQ(0, pass_event_or_trap("all", "traps.lst", &t4));  // not "Other%All"
  EXPECT_EQ(1, pass_event_or_trap("all", "traps.lst", &t5));
  EXPECT_EQ(0, pass_event_or_trap("traps", "all.lst", &t5));
}

TEST_F(PassTest, EnterpriseTrapsMatchTheirIdentifierOrAllEnterprises) {
  EXPECT_EQ(1, passEnterprise("traps.lst", 15, "1.3.6.1.4.1.99"));
  EXPECT_EQ(0, passEnterprise("traps.lst", 21, "1.3.6.1.4.1.99"));
  EXPECT_EQ(1, passEnterprise("traps.lst", 9999, "1.3.6.1.4.1.7"));
  EXPECT_EQ(0, passEnterprise("traps.lst", 1, "1.3.6.1.4.1.5"));
  EXPECT_EQ(0, passEnterprise("traps.lst", 15, "1.3.6.1.4.1.9"));
  EXPECT_EQ(1, passEnterprise("all.lst", 100, "1.2.3"));
  EXPECT_EQ(0, passEnterprise("all.lst", 101, "1.2.3"));
}

TEST_F(PassTest, UnselectableTrapFilePassesNoTrap) {
  OVI_MessageInfo t = trap(OVI_TRAP_GENERIC, 1, "");
  EXPECT_EQ(0, pass_event_or_trap("traps", "not-cached.lst", &t));
  ASSERT_EQ(0, ovi_add_trap_file_to_cache("missing.lst"));
  EXPECT_EQ(0, pass_event_or_trap("traps", "missing.lst", &t));
}

}  // namespace
