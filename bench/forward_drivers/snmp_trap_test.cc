#include "snmp_trap.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

// Walks the TLVs of [at, end) and the contents of the constructed ones;
// false when a length runs past its enclosure.
bool wellFormed(const std::string& s, size_t at, size_t end, int* count) {
  while (at < end) {
    if (end - at < 2) return false;
    unsigned char tag = s[at++];
    size_t len = static_cast<unsigned char>(s[at++]);
    if (len & 0x80) {
      int n = len & 0x7f;
      if (n == 0 || n > 4 || end - at < static_cast<size_t>(n)) return false;
      len = 0;
      while (n-- > 0) len = (len << 8) | static_cast<unsigned char>(s[at++]);
    }
    if (end - at < len) return false;
    (*count)++;
    if ((tag == 0x30 || tag == 0xa7) && !wellFormed(s, at, at + len, count)) return false;
    at += len;
  }
  return true;
}

TEST(BerTest, LengthsUseTheShortFormBelow128AndTheFewestBytesAbove) {
  EXPECT_EQ(bytes({0x00}), ber_length(0));
  EXPECT_EQ(bytes({0x7f}), ber_length(127));
  EXPECT_EQ(bytes({0x81, 0x80}), ber_length(128));
  EXPECT_EQ(bytes({0x82, 0x01, 0x2c}), ber_length(300));
}

TEST(BerTest, IntegersAreMinimalTwosComplement) {
  EXPECT_EQ(bytes({0x02, 0x01, 0x00}), ber_integer(0x02, 0));
  EXPECT_EQ(bytes({0x02, 0x01, 0x7f}), ber_integer(0x02, 127));
  EXPECT_EQ(bytes({0x02, 0x02, 0x00, 0x80}), ber_integer(0x02, 128));
  EXPECT_EQ(bytes({0x02, 0x01, 0xff}), ber_integer(0x02, -1));
  EXPECT_EQ(bytes({0x02, 0x02, 0xff, 0x7f}), ber_integer(0x02, -129));
  // An unsigned 32-bit value with its top bit set keeps a leading zero.
  EXPECT_EQ(bytes({0x43, 0x05, 0x00, 0xff, 0xff, 0xff, 0xff}),
            ber_integer(0x43, 0xffffffffLL, true));
}

TEST(BerTest, ObjectIdentifiersJoinTheFirstArcsAndUseBase128) {
  EXPECT_EQ(bytes({0x06, 0x08, 0x2b, 0x06, 0x01, 0x04, 0x01, 0xbf, 0x08, 0x02}),
            ber_oid("1.3.6.1.4.1.8072.2"));
  EXPECT_EQ(bytes({0x06, 0x01, 0x00}), ber_oid("0.0"));
  EXPECT_EQ("", ber_oid("1"));
  EXPECT_EQ("", ber_oid("1.x"));
  EXPECT_EQ("", ber_oid("1.40"));
  EXPECT_EQ("", ber_oid("3.1"));
  EXPECT_EQ("", ber_oid("1.3."));
  EXPECT_EQ("", ber_oid("1..3"));
  EXPECT_EQ("", ber_oid("1.-3"));
  EXPECT_EQ("", ber_oid(""));
}

TEST(SnmpTrapTest, TrapsAreWellFormedAndOfTheAskedSize) {
  std::string smallest = snmp_v2cTrap("public", 7, 100, "run=1;", 0);
  for (size_t size = smallest.size(); size < 700; size++) {
    std::string trap = snmp_v2cTrap("public", 7, 100, "run=1;", size);
    // The length fields grow by a byte at 128 and 256: a size on such a
    // step cannot always be met exactly.
    ASSERT_LE(trap.size(), size);
    ASSERT_GE(trap.size() + 3, size);
    int count = 0;
    ASSERT_TRUE(wellFormed(trap, 0, trap.size(), &count)) << size;
    // message, version, community, PDU, 3 integers, list, 4 x (bind, oid, value)
    ASSERT_EQ(20, count);
    ASSERT_NE(std::string::npos, trap.find(size > smallest.size() + 3 ? "run=1;x" : "run=1;"));
  }
  std::string trap = snmp_v2cTrap("public", 7, 100, "", 200);
  EXPECT_EQ(200u, trap.size());
  EXPECT_EQ(bytes({0x30, 0x81, 0xc5, 0x02, 0x01, 0x01, 0x04, 0x06}), trap.substr(0, 8));
  EXPECT_EQ(0xa7, static_cast<unsigned char>(trap[14]));
}

TEST(SnmpTrapTest, ASizeBelowTheUnpaddedTrapGivesTheUnpaddedTrap) {
  std::string trap = snmp_v2cTrap("public", 1, 1, "text", 10);
  EXPECT_EQ(snmp_v2cTrap("public", 1, 1, "text", 0), trap);
  EXPECT_GT(trap.size(), 10u);
}

}  // namespace
