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
  EXPECT_EQ(65535, as<uint16_t>(parse("a=ushort:65535", false)));
  EXPECT_EQ(-5, as<int32_t>(parse("a=3:-5", false)));
  EXPECT_EQ(4294967295u, as<uint32_t>(parse("a=uint:4294967295", false)));
  EXPECT_EQ(1.5f, as<float>(parse("a=float:1.5", false)));
  EXPECT_EQ(7, as<int32_t>(parse("a=enum:7", false)));
  EXPECT_EQ(7, as<int64_t>(parse("a=time:7", false)));
  DatumText s = parse("a=string:x=y:z", false);
  EXPECT_EQ(9u, s.type);
  EXPECT_EQ("x=y:z", std::string(s.value.begin(), s.value.end()));
  DatumText o = parse("a=octets:0aFF", false);
  EXPECT_EQ((std::vector<unsigned char>{0x0a, 0xff}), o.value);
  DatumText ip = parse("a=ipaddr:10.0.0.1", false);
  EXPECT_EQ((std::vector<unsigned char>{10, 0, 0, 1}), ip.value);
  EXPECT_EQ(12u, parse("a=oid:1.3.6", false).value.size());
}

TEST(DatumTextTest, BadDataAreRefused) {
  for (const char* bad : {"noequals", "=int:1", "a=int", "a=bogus:1", "a=24:1", "a=0:1",
                          "a=short:40000", "a=ushort:-1", "a=int:1x", "a=octets:abc",
                          "a=ipaddr:300.1.1.1", "a=oid:1..2", "a=float:"})
    parse(bad, false, false);
}

TEST(DatumTextTest, ThresholdsOnlyOnEventsAndOnlyWhenWellFormed) {
  DatumText e = parse("load=int:95/5:90:3", true);
  EXPECT_EQ(95, as<int32_t>(e));
  EXPECT_EQ(5, e.relationalOp);
  EXPECT_EQ(3, e.priority);
  int32_t threshold;
  memcpy(&threshold, e.threshold.data(), 4);
  EXPECT_EQ(90, threshold);
  EXPECT_EQ(0, parse("load=int:95", true).relationalOp);
  // On a trap the suffix is not a threshold: the value is then bad.
  parse("load=int:95/5:90:3", false, false);
  // A text whose tail does not read OP:THRESHOLD:PRIORITY keeps its slashes.
  DatumText path = parse("f=string:/var/log/5:x", true);
  EXPECT_EQ("/var/log/5:x", std::string(path.value.begin(), path.value.end()));
  // Priority out of range: not a threshold.
  parse("load=int:95/5:90:4", true, false);
  // A text threshold must have the value's length.
  parse("s=string:abc/1:abcd:2", true, false);
  EXPECT_EQ(1, parse("s=string:abc/1:abd:2", true).relationalOp);
}

}  // namespace
