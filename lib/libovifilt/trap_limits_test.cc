#include "trap_limits.h"

#include <gtest/gtest.h>
#include <stdlib.h>

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
      {nullptr, 0}};
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
      {12345, "All", 1}, {12345, "-", 1}, {12345, "none", 1}, {4, "0-3,5", 0}, {4, "4", 1},
      {6, "5 - 7", 0}, {40000, "40000", 0}, {40000 - 65536, "40000", 1},  // the bound wrapped
  };
  for (const auto& c : cases) EXPECT_EQ(c.within, is_trap_no_okay(c.number, c.list)) << c.list;
  std::string list;
  for (int i = 0; i < 100; i++) list += std::to_string(i) + ",";
  EXPECT_EQ(1, is_trap_no_okay(79, list.c_str()));
  EXPECT_EQ(0, is_trap_no_okay(80, list.c_str()));
}

using PassTest = OviRootTest;

TEST_F(PassTest, ClassesAndTrapFilesDecideWhatARecordAppliesTo) {
  write("traps.lst",
        "---Standard Traps---------%0-3,5%\n"
        "Acme Corp%10-20%1.3.6.1.4.1.99\n"
        "Other%All%1.3.6.1.4.1.7\n");
  write("all.lst", "---All Enterprise Traps------%100%\n");
  ASSERT_EQ(1, ovi_add_trap_file_to_cache("traps.lst"));
  ASSERT_EQ(1, ovi_add_trap_file_to_cache("all.lst"));
  ASSERT_EQ(0, ovi_add_trap_file_to_cache("missing.lst"));
  const int kEvent = OVI_CLASS_EVENT, kGlyph = OVI_CLASS_GLYPH_TRAP, kDb = OVI_CLASS_DBMGR_TRAP,
            kTrap = OVI_CLASS_TRAP, kGen = OVI_TRAP_GENERIC, kEnt = OVI_TRAP_ENTERPRISE;
  const struct {
    int cls, type, number;
    const char *enterprise, *selector, *file;
    int pass;
  } cases[] = {
      // Events, glyph-state and database traps go by the selector alone,
      // whatever the trap file.
      {kEvent, 0, 0, "", "events", "unreadable", 1},
      {kTrap, kGen, 1, "", "events", "-", 0},
      {kGlyph, 0, 0, "", "events,glyphs", "unreadable", 1},
      {kGlyph, 0, 0, "", "traps", "-", 0},
      {kDb, 0, 0, "", "bogus", "unreadable", 1},
      {kEvent, 0, 0, "", "events, traps", "-", 0},
      {kTrap, kGen, 1, "", "traps", "-", 1},
      {kTrap, kGen, 1, "", "traps", "", 1},
      // Generic traps use the standard entries only.
      {kTrap, kGen, 4, "1.3.6.1.4.1.7", "all", "traps.lst", 0},
      {kTrap, kGen, 5, "", "all", "traps.lst", 1},
      {kTrap, kGen, 5, "", "traps", "all.lst", 0},
      // Enterprise traps match their whole identifier or the all-enterprises label.
      {kTrap, kEnt, 15, "1.3.6.1.4.1.99", "traps", "traps.lst", 1},
      {kTrap, kEnt, 21, "1.3.6.1.4.1.99", "traps", "traps.lst", 0},
      {kTrap, kEnt, 9999, "1.3.6.1.4.1.7", "traps", "traps.lst", 1},
      {kTrap, kEnt, 15, "1.3.6.1.4.1.9", "traps", "traps.lst", 0},
      {kTrap, kEnt, 100, "1.2.3", "traps", "all.lst", 1},
      {kTrap, kEnt, 101, "1.2.3", "traps", "all.lst", 0},
      // A file that is not cached, or could not be read, passes no trap.
      {kTrap, kGen, 5, "", "traps", "not-cached.lst", 0},
      {kTrap, kGen, 5, "", "traps", "missing.lst", 0},
  };
  for (const auto& c : cases) {
    OVI_MessageInfo info{};
    info.reportClass = static_cast<int16_t>(c.cls);
    info.trapType = c.type;
    info.trapNumber = c.number;
    snprintf(info.enterprise, sizeof info.enterprise, "%s", c.enterprise);
    EXPECT_EQ(c.pass, pass_event_or_trap(c.selector, c.file, &info))
        << c.cls << " " << c.number << " " << c.enterprise << " " << c.selector << " " << c.file;
  }
  EXPECT_EQ(0, pass_event_or_trap("traps", "-", nullptr));
}

}  // namespace
