#include "tessel/tessel_codec.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "tessel/tessel_test_util.h"

namespace {

struct Sample {
  uint32_t type;
  std::vector<unsigned char> bytes;
};

template <typename T>
std::vector<unsigned char> bytesOf(const T& v) {
  std::vector<unsigned char> b(sizeof v);
  memcpy(b.data(), &v, sizeof v);
  return b;
}

// One value of every type code, in host form.
std::vector<Sample> everyType() {
  struct in_addr ip;
  inet_aton("10.1.2.3", &ip);
  const uint32_t oid[] = {1, 3, 6, 1, 4, 1, 4294967295u};
  const int32_t pair[] = {-7, 9};
  return {
      {TESSEL_SHORT, bytesOf<int16_t>(-12345)}, {TESSEL_USHORT, bytesOf<uint16_t>(65535)},
      {TESSEL_INT, bytesOf<int32_t>(-2147483647 - 1)},
      {TESSEL_UINT, bytesOf<uint32_t>(4000000000u)}, {TESSEL_LONG, bytesOf<int32_t>(-5)},
      {TESSEL_ULONG, bytesOf<uint32_t>(7)}, {TESSEL_FLOAT, bytesOf<float>(1.25f)},
      {TESSEL_DOUBLE, bytesOf<double>(-3.5e100)},
      {TESSEL_STRING, {'r', 'o', 'u', 't', 'e', 'r', '7'}}, {TESSEL_OCTETS, {0x0a, 0xff, 0x00}},
      {TESSEL_IPADDR, bytesOf(ip)}, {TESSEL_PAIR, bytesOf(pair)},
      {TESSEL_TIME, bytesOf<int32_t>(1700000000)}, {TESSEL_TIME, bytesOf<int64_t>(-1)},
      {TESSEL_ENUM, bytesOf<int32_t>(3)}, {TESSEL_INT32, bytesOf<int32_t>(42)},
      {TESSEL_HEX, {1, 2, 3, 4, 5}}, {TESSEL_OID, bytesOf(oid)}, {TESSEL_IPADDR2, bytesOf(ip)},
      {TESSEL_IPADDR3, bytesOf(ip)}, {TESSEL_COUNTER, bytesOf<uint32_t>(1)},
      {TESSEL_GAUGE, bytesOf<uint32_t>(2)}, {TESSEL_TICKS, bytesOf<uint32_t>(3)},
      {TESSEL_OPAQUE, {}},
  };
}

TEST(CodecTest, EveryTypeSurvivesARoundTrip) {
  TesselServiceMsg msg;
  ASSERT_TRUE(msg.clearData());
  std::vector<Sample> samples = everyType();
  TesselGeneric generic;
  for (size_t i = 0; i < samples.size(); i++) {
    std::string name = "d" + std::to_string(i);
    Tessel_event d = makeDatum(name.c_str(), samples[i].type, samples[i].bytes.data(),
                               samples[i].bytes.size());
    d.relationalOp = 5;  // putData never sends a threshold
    ASSERT_TRUE(generic.putData(&d, &msg)) << "type " << samples[i].type;
  }
  ASSERT_TRUE(tessel_checkArglist(msg.argData.data, msg.arglistLength));
  bool ok;
  std::vector<Tessel_event> got = fetchAll(&msg, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(samples.size(), got.size());
  for (size_t i = 0; i < samples.size(); i++) {
    SCOPED_TRACE("type " + std::to_string(samples[i].type));
    EXPECT_EQ("d" + std::to_string(i), got[i].name);
    EXPECT_EQ(samples[i].type, got[i].type);
    ASSERT_EQ(samples[i].bytes.size(), got[i].length);
    if (got[i].length > 0) {
      EXPECT_EQ(0, memcmp(samples[i].bytes.data(), got[i].value, got[i].length));
    }
    EXPECT_EQ('\0', static_cast<char*>(got[i].value)[got[i].length]);
    EXPECT_EQ(0, got[i].relationalOp);
  }
}

TEST(CodecTest, DataThatCannotBeEncodedAreRefused) {
  TesselServiceMsg msg;
  int32_t v = 1;
  Tessel_event tooLong = makeDatum("x", TESSEL_INT, &v, 4);
  memset(tooLong.name, 'n', sizeof tooLong.name);  // no NUL within the name
  const Tessel_event bad[] = {tooLong,
                              makeDatum("x", TESSEL_INT, &v, 2),
                              makeDatum("x", 0, &v, 4),
                              makeDatum("x", 24, &v, 4),
                              makeDatum("x", TESSEL_OID, &v, 3),
                              makeDatum("x", TESSEL_STRING, nullptr, 3)};
  for (Tessel_event d : bad) EXPECT_FALSE(TesselGeneric().putData(&d, &msg)) << d.type;
  EXPECT_EQ(0u, msg.arglistLength);
}

// A well-formed list of three data to damage.
std::vector<char> sampleList() {
  TesselServiceMsg msg;
  int32_t v = 7;
  const char* text = "hello world";
  uint32_t oid[] = {1, 3, 6};
  Tessel_event a = makeDatum("alpha", TESSEL_INT, &v, 4);
  Tessel_event b = makeDatum("beta", TESSEL_STRING, text, strlen(text));
  Tessel_event c = makeDatum("gamma", TESSEL_OID, oid, sizeof oid);
  TesselGeneric g;
  EXPECT_TRUE(g.putData(&a, &msg) && g.putData(&b, &msg) && g.putData(&c, &msg));
  return std::vector<char>(msg.argData.data, msg.argData.data + msg.arglistLength);
}

TEST(CodecTest, TruncatedInconsistentOrTrailingInputIsRejected) {
  std::vector<char> list = sampleList();
  ASSERT_TRUE(tessel_checkArglist(list.data(), list.size()));
  for (size_t n = 0; n < list.size(); n++)
    EXPECT_FALSE(tessel_checkArglist(list.data(), n)) << "length " << n;
  std::vector<char> longer = list;
  longer.insert(longer.end(), {0, 0, 0, 0});
  EXPECT_FALSE(tessel_checkArglist(longer.data(), longer.size()));
  // "alpha" is 4 + 8 bytes of name, then type at 12, length at 16; "beta"
  // starts at 28: its name takes 8 bytes, its type 4, then its length.
  const struct { size_t offset; uint32_t word; } damage[] = {
      {12, 99},                // unknown type
      {12, 0},                 // type 0 on a datum that is not the end marker
      {16, 8},                 // an int of 8 bytes
      {0, 0xfffffff0u},        // a name longer than the input
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
