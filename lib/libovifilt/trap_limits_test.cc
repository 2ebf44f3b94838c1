#include "trap_limits.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "parse_trap.h"
#include "test_root.h"

namespace {

// The ranges of a list as "[lower,upper]" each.
std::string rangesOf(const std::string& text) {
  int count = -1;
  TrapRange* r = make_trap_limits(text.c_str(), &count);
  std::string out;
  for (int i = 0; i < count; i++)
    out += "[" + std::to_string(r[i].lower) + "," + std::to_string(r[i].upper) + "]";
  free(r);
  return out;
}

TEST(TrapLimitsTest, ClassSelectorsAreKnownTextsComparedWholeWithoutRegardToCase) {
  const struct { const char* text; int mask; } cases[] = {
      {"all", 11}, {"events", 1}, {"traps", 2}, {"glyphs", 8}, {"EVENTS,TRAPS", 3},
      {"events,glyphs", 9}, {"traps,glyphs", 10}, {"events, traps", 0}, {"traps,events", 0},
      {"", 0}, {nullptr, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(c.mask, decide_event_or_trap(c.text)) << (c.text ? c.text : "null");
}

TEST(TrapLimitsTest, NumbersAndRangesWrapToSigned16Bits) {
  const struct { std::string list, ranges; } cases[] = {
      {"0-3,5", "[0,3][5,5]"},
      {"x1-2;;7 -9y", "[1,2][7,9]"},
      {"5 - 7", "[5,0][7,7]"},  // the upper bound must follow the dash directly
      {"5-", "[5,0]"},
      {"none", ""},
      {"32768,32767", "[-32768,-32768][32767,32767]"},
      {"65536-65537", "[0,1]"},
      // Only the first 11 digits of a long run count; the run is still one number.
      {"1111111111111111111-2",
       "[" + std::to_string(static_cast<int16_t>(11111111111ULL & 0xffff)) + ",2]"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.ranges, rangesOf(c.list)) << c.list;
}

TEST(TrapLimitsTest, NumberWithinListAndAt80RangesTheRestIsIgnored) {
  const struct { int number; const char* list; int within; } cases[] = {
      {12345, "All", 1}, {12345, "all", 1}, {12345, "-", 1}, {12345, "none", 1},
      {4, "0-3,5", 0},   {4, "4", 1},       {6, "5 - 7", 0}, {7, "5 - 7", 1},
      {40000, "40000", 0}, {40000 - 65536, "40000", 1},  // the bound wrapped negative
  };
  for (const auto& c : cases) EXPECT_EQ(c.within, is_trap_no_okay(c.number, c.list)) << c.list;
  std::string list;
  for (int i = 0; i < 100; i++) list += std::to_string(i) + ",";
  EXPECT_EQ(1, is_trap_no_okay(79, list.c_str()));
  EXPECT_EQ(0, is_trap_no_okay(80, list.c_str()));
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
  static OVI_MessageInfo info(int cls, int type = 0, int number = 0, const char* enterprise = "") {
    OVI_MessageInfo info{};
    info.reportClass = static_cast<int16_t>(cls);
    info.trapType = type;
    info.trapNumber = number;
    snprintf(info.enterprise, sizeof info.enterprise, "%s", enterprise);
    return info;
  }
  static int passEnterprise(const char* file, int number, const char* enterprise) {
    OVI_MessageInfo i = info(OVI_CLASS_TRAP, OVI_TRAP_ENTERPRISE, number, enterprise);
    return pass_event_or_trap("traps", file, &i);
  }
};

TEST_F(PassTest, ClassesDecideForEventsGlyphsAndDatabaseTraps) {
  OVI_MessageInfo event = info(OVI_CLASS_EVENT), glyph = info(OVI_CLASS_GLYPH_TRAP);
  OVI_MessageInfo dbmgr = info(OVI_CLASS_DBMGR_TRAP);
  OVI_MessageInfo t = info(OVI_CLASS_TRAP, OVI_TRAP_GENERIC, 1);
  // The trap file is not consulted for events and glyphs, even an unreadable one.
  EXPECT_EQ(1, pass_event_or_trap("events", "unreadable", &event));
  EXPECT_EQ(0, pass_event_or_trap("events", "-", &t));
  EXPECT_EQ(1, pass_event_or_trap("events,glyphs", "unreadable", &glyph));
  EXPECT_EQ(0, pass_event_or_trap("traps", "-", &glyph));
  EXPECT_EQ(1, pass_event_or_trap("bogus", "unreadable", &dbmgr));
  EXPECT_EQ(0, pass_event_or_trap("events, traps", "-", &event));
  EXPECT_EQ(1, pass_event_or_trap("traps", "-", &t));
  EXPECT_EQ(1, pass_event_or_trap("traps", "", &t));
  EXPECT_EQ(0, pass_event_or_trap("traps", "-", nullptr));
}

TEST_F(PassTest, TrapsPassOnlyWhatTheirTrapFileLists) {
  // Generic traps use the standard entries only.
  OVI_MessageInfo t4 = info(OVI_CLASS_TRAP, OVI_TRAP_GENERIC, 4, "1.3.6.1.4.1.7");
  OVI_MessageInfo t5 = info(OVI_CLASS_TRAP, OVI_TRAP_GENERIC, 5);
  EXPECT_EQ(0, pass_event_or_trap("all", "traps.lst", &t4));  // not "Other%All"
  EXPECT_EQ(1, pass_event_or_trap("all", "traps.lst", &t5));
  EXPECT_EQ(0, pass_event_or_trap("traps", "all.lst", &t5));
  // Enterprise traps match their identifier or the all-enterprises label.
  EXPECT_EQ(1, passEnterprise("traps.lst", 15, "1.3.6.1.4.1.99"));
  EXPECT_EQ(0, passEnterprise("traps.lst", 21, "1.3.6.1.4.1.99"));
  EXPECT_EQ(1, passEnterprise("traps.lst", 9999, "1.3.6.1.4.1.7"));
  EXPECT_EQ(0, passEnterprise("traps.lst", 1, "1.3.6.1.4.1.5"));
  EXPECT_EQ(0, passEnterprise("traps.lst", 15, "1.3.6.1.4.1.9"));
  EXPECT_EQ(1, passEnterprise("all.lst", 100, "1.2.3"));
  EXPECT_EQ(0, passEnterprise("all.lst", 101, "1.2.3"));
  // A file that is not cached, or could not be read, passes no trap.
  EXPECT_EQ(0, pass_event_or_trap("traps", "not-cached.lst", &t5));
  ASSERT_EQ(0, ovi_add_trap_file_to_cache("missing.lst"));
  EXPECT_EQ(0, pass_event_or_trap("traps", "missing.lst", &t5));
}

}  // namespace
