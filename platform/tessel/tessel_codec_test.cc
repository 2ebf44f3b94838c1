#include "tessel/tessel_codec.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tessel/tessel_test_util.h"

namespace {

template <typename T>
std::vector<unsigned char> bytesOf(const T& v) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(&v);
  return std::vector<unsigned char>(p, p + sizeof v);
}

TEST(CodecTest, EveryTypeSurvivesARoundTrip) {
  struct in_addr ip;
  inet_aton("10.1.2.3", &ip);
  const uint32_t oid[] = {1, 3, 6, 1, 4, 1, 4294967295u};
  const int32_t pair[] = {-7, 9};
  const struct { uint32_t type; std::vector<unsigned char> bytes; } samples[] = {
      {TESSEL_SHORT, bytesOf<int16_t>(-12345)}, {TESSEL_USHORT, bytesOf<uint16_t>(65535)},
      {TESSEL_INT, bytesOf<int32_t>(-2147483647 - 1)},
      {TESSEL_UINT, bytesOf<uint32_t>(4000000000u)}, {TESSEL_LONG, bytesOf<int32_t>(-5)},
      {TESSEL_ULONG, bytesOf<uint32_t>(7)}, {TESSEL_FLOAT, bytesOf<float>(1.25f)},
      {TESSEL_DOUBLE, bytesOf<double>(-3.5e100)},
      {TESSEL_STRING, {'r', 'o', 'u', 't', 'e', 'r', '7'}}, {TESSEL_OCTETS, {0x0a, 0xff, 0x00}},
      {TESSEL_IPADDR, bytesOf(ip)}, {TESSEL_PAIR, bytesOf(pair)},
      {TESSEL_TIME, bytesOf<int32_t>(1700000000)}, {TESSEL_TIME, bytesOf<int64_t>(-1)},
      {TESSEL_ENUM, bytesOf<int32_t>(3)}, {TESSEL_INT32, bytesOf<int32_t>(42)},
      {TESSEL_HEX, {1, 2, 3, 4, 5}}, {TESSEL_OID, bytesOf(oid)},
      // An element name in an object identifier's place keeps its bytes.
      {TESSEL_OID, {'r', 'o', 'u', 't', 'e', 'r', '7'}}, {TESSEL_IPADDR2, bytesOf(ip)},
      {TESSEL_IPADDR3, bytesOf(ip)}, {TESSEL_COUNTER, bytesOf<uint32_t>(1)},
      {TESSEL_GAUGE, bytesOf<uint32_t>(2)}, {TESSEL_TICKS, bytesOf<uint32_t>(3)},
      {TESSEL_OPAQUE, {}},
  };
  TesselServiceMsg msg;
  for (const auto& s : samples) {
    Tessel_event d = makeDatum("d", s.type, s.bytes.data(), s.bytes.size());
    d.relationalOp = 5;  // putData never sends a threshold
    ASSERT_TRUE(TesselGeneric().putData(&d, &msg)) << "type " << s.type;
  }
  ASSERT_TRUE(tessel_checkArglist(msg.argData.data, msg.arglistLength));
  std::vector<Tessel_event> got = fetchAll(&msg);
  ASSERT_EQ(std::size(samples), got.size());
  for (size_t i = 0; i < got.size(); i++) {
    SCOPED_TRACE("type " + std::to_string(samples[i].type));
    EXPECT_EQ(samples[i].type, got[i].type);
    const unsigned char* value = static_cast<unsigned char*>(got[i].value);
    EXPECT_EQ(samples[i].bytes, std::vector<unsigned char>(value, value + got[i].length));
    EXPECT_EQ('\0', value[got[i].length]);
    EXPECT_EQ(0, got[i].relationalOp);
  }
}

TEST(CodecTest, DataThatCannotBeEncodedAreRefused) {
  TesselServiceMsg msg;
  int32_t v = 1;
  Tessel_event tooLong = makeDatum("x", TESSEL_INT, &v, 4);
  memset(tooLong.name, 'n', sizeof tooLong.name);  // no NUL within the name
  const Tessel_event bad[] = {tooLong, makeDatum("x", TESSEL_INT, &v, 2), makeDatum("x", 0, &v, 4),
                              makeDatum("x", 24, &v, 4),
                              makeDatum("x", TESSEL_STRING, nullptr, 3)};
  for (Tessel_event d : bad) EXPECT_FALSE(TesselGeneric().putData(&d, &msg)) << d.type;
  EXPECT_EQ(0u, msg.arglistLength);
}

TEST(CodecTest, TruncatedInconsistentOrTrailingInputIsRejected) {
  TesselServiceMsg msg;
  int32_t v = 7;
  uint32_t oid[] = {1, 3, 6};
  ASSERT_TRUE(put(&msg, "alpha", TESSEL_INT, &v, 4) &&
              put(&msg, "beta", TESSEL_STRING, "hello", 5) &&
              put(&msg, "gamma", TESSEL_OID, oid, sizeof oid));
  std::vector<char> list(msg.argData.data, msg.argData.data + msg.arglistLength);
  ASSERT_TRUE(tessel_checkArglist(list.data(), list.size()));
  for (size_t n = 0; n < list.size(); n++)
    EXPECT_FALSE(tessel_checkArglist(list.data(), n)) << "length " << n;
  std::vector<char> longer = list;
  longer.insert(longer.end(), {0, 0, 0, 0});
  EXPECT_FALSE(tessel_checkArglist(longer.data(), longer.size()));
  // "alpha" is 4 + 8 bytes of name, then type at 12, length at 16; "beta"
  // starts at 28: its name takes 8 bytes, its type 4, then its length.
  const struct { size_t offset; uint32_t word; } damage[] = {
      {12, 99},                   // unknown type
      {12, 0},                    // type 0 on a datum that is not the end marker
      {16, 8},                    // an int of 8 bytes
      {0, 0xfffffff0u},           // a name longer than the input
      {28 + 8 + 4, 0x7fffffffu},  // a length beyond the input
  };
  for (const auto& d : damage) {
    std::vector<char> bad = list;
    uint32_t be = htonl(d.word);
    memcpy(bad.data() + d.offset, &be, 4);
    EXPECT_FALSE(tessel_checkArglist(bad.data(), bad.size())) << d.offset << " " << d.word;
  }
}

}  // namespace
