#include "tessel/tessel_xdr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
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
  int32_t v = -4, limit = 90;
  Tessel_event d = makeDatum("n", TESSEL_INT, &v, 4);
  d.relationalOp = 3;
  d.threshold = &limit;
  d.priority = 1;
  EXPECT_TRUE(TesselGeneric().putEvent(&d, msg));
}

// The header fields that travel.
std::string headerOf(const TesselServiceMsg& m) {
  return std::to_string(m.type) + " " + std::to_string(m.flags) + " " + std::to_string(m.count) +
         " " + std::to_string(m.intervalSec) + "." + std::to_string(m.intervalUsec) + " " +
         std::to_string(m.priority) + " " + std::to_string(m.agentProg) + "/" +
         std::to_string(m.agentVers) + " " + m.host + " " + m.group + " " + m.system + " " + m.key;
}

TEST(XdrTest, WholeMessagesOfEveryTypeSurviveARoundTrip) {
  for (uint32_t type : {2u, 4u, 5u, 6u, 12u, 99u}) {
    TesselServiceMsg sent, got;
    fill(&sent);
    sent.type = type;
    ASSERT_TRUE(decode(encode(&sent), &got));
    EXPECT_EQ(std::to_string(type) + " 512 4 30.5 2 100110/10 alpha tessel_db_config sys k1",
              headerOf(got));
    ASSERT_EQ(sent.arglistLength, got.arglistLength);
    EXPECT_EQ(0, memcmp(sent.argData.data, got.argData.data, got.arglistLength));
    bool ok;
    std::vector<Tessel_event> data = fetchAll(&got, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(1u, data.size());
    // An event datum's threshold travels with it.
    EXPECT_EQ("3 1 90", std::to_string(data[0].relationalOp) + " " +
                            std::to_string(data[0].priority) + " " +
                            std::to_string(*static_cast<int32_t*>(data[0].threshold)));
  }
  TesselServiceMsg empty, got;
  ASSERT_TRUE(decode(encode(&empty), &got));
  EXPECT_EQ(0u, got.arglistLength);
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

// True when the bytes do not decode into a message.
bool refused(const std::vector<char>& bytes) {
  TesselServiceMsg got;
  return !decode(bytes, &got);
}

class XdrRejectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fill(&sent_);
    bytes_ = encode(&sent_);
  }
  // The bytes with a big-endian word put at offset.
  static std::vector<char> with(std::vector<char> bytes, size_t offset, uint32_t word) {
    uint32_t be = htonl(word);
    memcpy(bytes.data() + offset, &be, 4);
    return bytes;
  }
  TesselServiceMsg sent_;
  std::vector<char> bytes_;
};

TEST_F(XdrRejectTest, TruncationsForgedSizesAndDamagedBytes) {
  for (size_t n = 0; n < bytes_.size(); n++)
    EXPECT_TRUE(refused(std::vector<char>(bytes_.begin(), bytes_.begin() + n))) << "length " << n;
  for (uint32_t forged : {0xffffffffu, 0x00200000u, 0x00010000u, 0u, 8u})
    EXPECT_TRUE(refused(with(bytes_, 0, forged))) << forged;
  for (size_t i = 4; i < bytes_.size(); i++) {
    std::vector<char> bad = bytes_;
    bad[i] ^= 0x10;
    EXPECT_TRUE(refused(bad)) << "byte " << i;
  }
}

TEST_F(XdrRejectTest, InconsistentBodiesAreRejectedEvenWithAGoodChecksum) {
  std::vector<char> body(bytes_.begin() + 4, bytes_.end() - 4);
  ASSERT_FALSE(refused(envelope(body)));
  size_t lengthAt = body.size() - 4 - sent_.arglistLength;
  for (uint32_t forged : {sent_.arglistLength + 4, sent_.arglistLength - 4, 0xfffffff0u})
    EXPECT_TRUE(refused(envelope(with(body, lengthAt, forged)))) << forged;
  std::vector<char> badFormat = body;
  badFormat[3] = 2;
  EXPECT_TRUE(refused(envelope(badFormat)));
  std::vector<char> badList = body;
  badList[lengthAt + 4 + 12] = 0x7f;  // the first datum's type code (name "n": 8 bytes)
  EXPECT_TRUE(refused(envelope(badList)));
}

TEST(XdrTest, StatusRecordSurvivesARoundTrip) {
  Tessel_error sent = {57, 3, 1, "flags: 0"}, got;
  char buf[512];
  XDR x;
  xdrmem_create(&x, buf, sizeof buf, XDR_ENCODE);
  ASSERT_TRUE(_tessel_xdrStatus(&x, &sent));
  u_int used = xdr_getpos(&x);
  xdr_destroy(&x);
  xdrmem_create(&x, buf, used, XDR_DECODE);
  ASSERT_TRUE(_tessel_xdrStatus(&x, &got));
  xdr_destroy(&x);
  EXPECT_EQ("57 3 flags: 0", std::to_string(got.status) + " " + std::to_string(got.code) + " " +
                                 got.message);
}

}  // namespace
