#include "datum_text.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

DatumText parse(const char* text, bool event, bool expectOk = true) {
  DatumText d;
  std::string error;
  EXPECT_EQ(expectOk, parseDatumText(text, event, &d, &error) == 1) << text << ": " << error;
  return d;
}

template <typename T>
T as(const DatumText& d) {
  T v;
  EXPECT_EQ(sizeof v, d.value.size());
  memcpy(&v, d.value.data(), sizeof v);
  return v;
}

TEST(DatumTextTest, TypesByNameAndCode) {
  EXPECT_EQ(-32768, as<int16_t>(parse("a=short:-32768", false)));
  EXPECT_EQ(-5, as<int32_t>(parse("a=3:-5", false)));
  EXPECT_EQ(4294967295u, as<uint32_t>(parse("a=uint:4294967295", false)));
  EXPECT_EQ(1.5f, as<float>(parse("a=float:1.5", false)));
  EXPECT_EQ(7, as<int64_t>(parse("a=time:7", false)));
  DatumText s = parse("a=string:x=y:z", false);
  EXPECT_EQ(9u, s.type);
  EXPECT_EQ("x=y:z", std::string(s.value.begin(), s.value.end()));
  EXPECT_EQ((std::vector<unsigned char>{0x0a, 0xff}), parse("a=octets:0aFF", false).value);
  EXPECT_EQ((std::vector<unsigned char>{10, 0, 0, 1}), parse("a=ipaddr:10.0.0.1", false).value);
}

TEST(DatumTextTest, BadDataAreRefused) {
  for (const char* bad : {"noequals", "=int:1", "a=int", "a=bogus:1", "a=24:1", "a=0:1",
                          "a=short:40000", "a=ushort:-1", "a=int:1x", "a=octets:abc",
                          "a=ipaddr:300.1.1.1", "a=oid:1..2", "a=float:"})
    parse(bad, false, false);
}

// A well-formed event threshold is checked end to end (tests/station_test.cc);
// these suffixes are not one.
TEST(DatumTextTest, ThresholdsOnlyOnEventsAndOnlyWhenWellFormed) {
  parse("load=int:95/5:90:3", false, false);  // on a trap the suffix makes the value bad
  parse("load=int:95/5:90:4", true, false);   // priority out of range
  parse("s=string:abc/1:abcd:2", true, false);  // a text threshold must have the value's length
  EXPECT_EQ(1, parse("s=string:abc/1:abd:2", true).relationalOp);
}

}  // namespace
