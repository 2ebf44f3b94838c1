#include "tessel/tessel_xdr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stddef.h>

#include <memory>
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

bool refused(const std::vector<char>& bytes) {
  TesselServiceMsg got;
  return !decode(bytes, &got);
}

// The encoding of an event with every header field set (the host to its
// full width) and one datum with a threshold.
std::vector<char> sample(TesselServiceMsg* msg, uint32_t type = TESSEL_MSG_EVENT) {
  msg->type = type;
  msg->flags = 0x200;
  msg->count = 4;
  msg->intervalSec = 30;
  msg->intervalUsec = 5;
  msg->priority = 2;
  msg->agentProg = 100110;
  msg->agentVers = 10;
  msg->setHost(std::string(300, 'h').c_str());  // cut to its width
  msg->setGroup("tessel_db_config");
  msg->setSystem("sys");
  msg->setKey("k1");
  int32_t v = -4, limit = 90;
  Tessel_event d = makeDatum("n", TESSEL_INT, &v, 4);
  d.relationalOp = 3;
  d.threshold = &limit;
  d.priority = 1;
  EXPECT_TRUE(TesselGeneric().putEvent(&d, msg));
  return encode(msg);
}

// The bytes with a big-endian word put at offset.
std::vector<char> with(std::vector<char> bytes, size_t offset, uint32_t word) {
  uint32_t be = htonl(word);
  memcpy(bytes.data() + offset, &be, 4);
  return bytes;
}

TEST(XdrTest, WholeMessagesOfEveryTypeSurviveARoundTrip) {
  const size_t from = offsetof(TesselServiceMsg, flags);  // the header fields that travel
  for (uint32_t type : {2u, 4u, 5u, 6u, 12u, 99u}) {
    TesselServiceMsg sent, got;
    ASSERT_TRUE(decode(sample(&sent, type), &got));
    EXPECT_EQ(0, memcmp(sent.image() + from, got.image() + from, TESSEL_MSG_IMAGE - from)) << type;
    EXPECT_EQ(std::string(TESSEL_HOST_SIZE - 1, 'h'), got.host);
    ASSERT_EQ(1u, fetchAll(&got).size());
    EXPECT_EQ(0, memcmp(sent.argData.data, got.argData.data, got.arglistLength));
  }
  TesselServiceMsg empty, got;
  ASSERT_TRUE(decode(encode(&empty), &got));
  EXPECT_EQ(0u, got.arglistLength);
}

TEST(XdrTest, TruncationsForgedSizesAndDamagedBytesAreRejected) {
  TesselServiceMsg sent;
  std::vector<char> bytes = sample(&sent);
  for (size_t n = 0; n < bytes.size(); n++)
    EXPECT_TRUE(refused(std::vector<char>(bytes.begin(), bytes.begin() + n))) << "length " << n;
  for (uint32_t forged : {0xffffffffu, 0x00200000u, 0x00010000u, 0u, 8u})
    EXPECT_TRUE(refused(with(bytes, 0, forged))) << forged;
  for (size_t i = 4; i < bytes.size(); i++) {  // the checksum catches every damaged byte
    std::vector<char> bad = bytes;
    bad[i] ^= 0x10;
    EXPECT_TRUE(refused(bad)) << "byte " << i;
  }
}

TEST(XdrTest, InconsistentBodiesAreRejectedEvenWithAGoodChecksum) {
  TesselServiceMsg sent;
  std::vector<char> bytes = sample(&sent);
  std::vector<char> body(bytes.begin() + 4, bytes.end() - 4);
  // Wraps a body in an envelope with a correct checksum.
  auto envelope = [](const std::vector<char>& b) {
    size_t padded = (b.size() + 3) & ~size_t(3);
    std::vector<char> out = with(std::vector<char>(4 + padded + 4, 0), 0, b.size());
    memcpy(out.data() + 4, b.data(), b.size());
    return with(out, 4 + padded, tessel_crc32(b.data(), b.size()));
  };
  ASSERT_FALSE(refused(envelope(body)));
  size_t lengthAt = body.size() - 4 - sent.arglistLength;
  for (uint32_t forged : {sent.arglistLength + 4, sent.arglistLength - 4, 0xfffffff0u})
    EXPECT_TRUE(refused(envelope(with(body, lengthAt, forged)))) << forged;
  EXPECT_TRUE(refused(envelope(with(body, 0, 2))));  // format 2
  std::vector<char> badList = body;
  badList[lengthAt + 4 + 12] = 0x7f;  // the first datum's type code (name "n": 8 bytes)
  EXPECT_TRUE(refused(envelope(badList)));
}

}  // namespace
