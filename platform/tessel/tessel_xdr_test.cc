#include "tessel/tessel_xdr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <vector>

#include "tessel/tessel_test_util.h"

namespace {

std::vector<char> encode(TesselServiceMsg* msg) {
  std::vector<char> buf(64 * 1024);
  XDR x;
  xdrmem_create(&x, buf.data(), buf.size(), XDR_ENCODE);
  EXPECT_TRUE(_tessel_serialMsg(&x, msg));
  buf.resize(xdr_getpos(&x));
  xdr_destroy(&x);
  return buf;
}

bool decode(const std::vector<char>& bytes, TesselServiceMsg* msg) {
  // Exactly sized so that AddressSanitizer catches a read past the input.
  std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
  if (!bytes.empty()) memcpy(exact.get(), bytes.data(), bytes.size());
  XDR x;
  xdrmem_create(&x, exact.get(), bytes.size(), XDR_DECODE);
  bool ok = _tessel_serialMsg(&x, msg);
  xdr_destroy(&x);
  return ok;
}

void fill(TesselServiceMsg* msg) {
  msg->type = TESSEL_MSG_EVENT;
  msg->flags = 0x200;
  msg->count = 4;
  msg->intervalSec = 30;
  msg->intervalUsec = 5;
  msg->priority = 2;
  msg->agentProg = 100110;
  msg->agentVers = 10;
  msg->setHost("alpha");
  msg->setGroup("tessel_db_config");
  msg->setSystem("sys");
  msg->setKey("k1");
  int32_t v = -4;
  Tessel_event d = makeDatum("n", TESSEL_INT, &v, 4);
  d.relationalOp = 3;
  d.threshold = &v;
  d.priority = 1;
  EXPECT_TRUE(TesselGeneric().putEvent(&d, msg));
}

TEST(XdrTest, WholeMessageSurvivesARoundTrip) {
  TesselServiceMsg sent;
  fill(&sent);
  std::vector<char> bytes = encode(&sent);
  TesselServiceMsg got;
  ASSERT_TRUE(decode(bytes, &got));
  EXPECT_EQ(sent.type, got.type);
  EXPECT_EQ(sent.flags, got.flags);
  EXPECT_EQ(sent.count, got.count);
  EXPECT_EQ(30, got.intervalSec);
  EXPECT_EQ(5, got.intervalUsec);
  EXPECT_EQ(2, got.priority);
  EXPECT_EQ(100110u, got.agentProg);
  EXPECT_EQ(10u, got.agentVers);
  EXPECT_STREQ("alpha", got.host);
  EXPECT_STREQ("tessel_db_config", got.group);
  EXPECT_STREQ("sys", got.system);
  EXPECT_STREQ("k1", got.key);
  ASSERT_EQ(sent.arglistLength, got.arglistLength);
  EXPECT_EQ(0, memcmp(sent.argData.data, got.argData.data, got.arglistLength));
  bool ok;
  std::vector<Tessel_event> data = fetchAll(&got, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(1u, data.size());
  EXPECT_EQ(3, data[0].relationalOp);
}

TEST(XdrTest, EveryMessageTypeSurvivesARoundTrip) {
  for (uint32_t type : {2u, 4u, 5u, 6u, 12u, 99u}) {
    TesselServiceMsg sent;
    sent.type = type;
    TesselServiceMsg got;
    ASSERT_TRUE(decode(encode(&sent), &got));
    EXPECT_EQ(type, got.type);
    EXPECT_EQ(0u, got.arglistLength);
  }
}

TEST(XdrTest, EveryTruncationIsRejected) {
  TesselServiceMsg sent;
  fill(&sent);
  std::vector<char> bytes = encode(&sent);
  for (size_t n = 0; n < bytes.size(); n++) {
    TesselServiceMsg got;
    std::vector<char> cut(bytes.begin(), bytes.begin() + n);
    EXPECT_FALSE(decode(cut, &got)) << "length " << n;
  }
}

// Wraps a body in an envelope with a correct checksum.
std::vector<char> envelope(const std::vector<char>& body) {
  size_t padded = (body.size() + 3) & ~size_t(3);
  std::vector<char> out(4 + padded + 4, 0);
  uint32_t size = htonl(body.size());
  uint32_t crc = htonl(tessel_crc32(body.data(), body.size()));
  memcpy(out.data(), &size, 4);
  memcpy(out.data() + 4, body.data(), body.size());
  memcpy(out.data() + 4 + padded, &crc, 4);
  return out;
}

TEST(XdrTest, ForgedSizesAndDamagedBytesAreRejected) {
  TesselServiceMsg sent;
  fill(&sent);
  std::vector<char> bytes = encode(&sent);
  for (uint32_t forged : {0xffffffffu, 0x00200000u, 0x00010000u, 0u, 8u}) {
    std::vector<char> bad = bytes;
    uint32_t be = htonl(forged);
    memcpy(bad.data(), &be, 4);
    TesselServiceMsg got;
    EXPECT_FALSE(decode(bad, &got)) << forged;
  }
  for (size_t i = 4; i < bytes.size(); i++) {
    std::vector<char> bad = bytes;
    bad[i] ^= 0x10;
    TesselServiceMsg got;
    EXPECT_FALSE(decode(bad, &got)) << "byte " << i;
  }
}

TEST(XdrTest, InconsistentBodiesAreRejectedEvenWithAGoodChecksum) {
  TesselServiceMsg sent;
  fill(&sent);
  std::vector<char> bytes = encode(&sent);
  std::vector<char> body(bytes.begin() + 4, bytes.end() - 4);
  ASSERT_TRUE([&] { TesselServiceMsg m; return decode(envelope(body), &m); }());
  size_t lengthAt = body.size() - 4 - sent.arglistLength;
  for (uint32_t forged : {sent.arglistLength + 4, sent.arglistLength - 4, 0xfffffff0u}) {
    std::vector<char> bad = body;
    uint32_t be = htonl(forged);
    memcpy(bad.data() + lengthAt, &be, 4);
    TesselServiceMsg got;
    EXPECT_FALSE(decode(envelope(bad), &got)) << forged;
  }
  std::vector<char> badFormat = body;
  badFormat[3] = 2;
  TesselServiceMsg got;
  EXPECT_FALSE(decode(envelope(badFormat), &got));
  std::vector<char> badList = body;
  badList[lengthAt + 4 + 12] = 0x7f;  // the first datum's type code (name "n": 8 bytes)
  EXPECT_FALSE(decode(envelope(badList), &got));
}

TEST(XdrTest, StatusRecordSurvivesARoundTrip) {
  Tessel_error sent = {57, 3, 1, "flags: 0"};
  char buf[512];
  XDR x;
  xdrmem_create(&x, buf, sizeof buf, XDR_ENCODE);
  ASSERT_TRUE(_tessel_xdrStatus(&x, &sent));
  u_int used = xdr_getpos(&x);
  xdr_destroy(&x);
  Tessel_error got;
  xdrmem_create(&x, buf, used, XDR_DECODE);
  ASSERT_TRUE(_tessel_xdrStatus(&x, &got));
  xdr_destroy(&x);
  EXPECT_EQ(57, got.status);
  EXPECT_EQ(3, got.code);
  EXPECT_STREQ("flags: 0", got.message);
}

}  // namespace
