#include "tessel/tessel_service_msg.h"

#include <gtest/gtest.h>

#include "tessel/tessel_buffer.h"
#include "tessel/tessel_codec.h"
#include "tessel/tessel_test_util.h"

namespace {

TEST(ServiceMsgTest, ImageRestoredInAnotherMessageWorksOnceBuffersArePointedAnew) {
  TesselServiceMsg sent;
  sent.type = TESSEL_MSG_TRAP;
  sent.setHost("alpha");
  Tessel_event d = makeDatum("glyph", TESSEL_STRING, "node7", 5);
  ASSERT_TRUE(TesselGeneric().putData(&d, &sent));
  // What travels between processes: the image and the argument bytes.
  TesselArglist body;
  ASSERT_TRUE(body.alloc(2 * sent.arglistLength + 256, 256));
  memcpy(body.data, sent.argData.data, sent.arglistLength);
  TesselServiceMsg received;
  memcpy(received.image(), sent.image(), TESSEL_MSG_IMAGE);
  received.argData.setBuffer(body.data, body.size, body.position);
  EXPECT_EQ(12u, received.type);
  EXPECT_STREQ("alpha", received.host);
  bool ok;
  std::vector<Tessel_event> got = fetchAll(&received, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(1u, got.size());
  EXPECT_STREQ("node7", static_cast<char*>(got[0].value));
}

TEST(ServiceMsgTest, WritingPastABorrowedBlockMovesIntoOwnedStorage) {
  TesselArglist borrowed;
  ASSERT_TRUE(borrowed.alloc(64, 16));
  TesselServiceMsg msg;
  msg.argData.setBuffer(borrowed.data, borrowed.size, 0);
  char big[300];
  memset(big, 'x', sizeof big);
  Tessel_event small = makeDatum("a", TESSEL_STRING, "b", 1);
  Tessel_event large = makeDatum("big", TESSEL_STRING, big, sizeof big);
  ASSERT_TRUE(TesselGeneric().putData(&small, &msg));
  // Copies: the descriptors are packed, so no reference may bind to them.
  char* block = msg.argData.data;
  EXPECT_EQ(borrowed.data, block);  // still fits
  ASSERT_TRUE(TesselGeneric().putData(&large, &msg));
  block = msg.argData.data;
  EXPECT_NE(borrowed.data, block);
  bool ok;
  std::vector<Tessel_event> got = fetchAll(&msg, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(300u, got[1].length);
}

TEST(ServiceMsgTest, PositionZeroReplacesTheData) {
  TesselServiceMsg msg;
  int32_t one = 1, two = 2;
  Tessel_event a = makeDatum("old", TESSEL_INT, &one, 4);
  Tessel_event b = makeDatum("new", TESSEL_INT, &two, 4);
  ASSERT_TRUE(TesselGeneric().putData(&a, &msg));
  msg.argData.position = 0;
  ASSERT_TRUE(TesselGeneric().putData(&b, &msg));
  bool ok;
  std::vector<Tessel_event> got = fetchAll(&msg, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(1u, got.size());
  EXPECT_STREQ("new", got[0].name);
}

TEST(ServiceMsgTest, FetchingWrapsAfterTheEndMarkerAndFindingDoesNotMove) {
  TesselServiceMsg msg;
  Tessel_event d1, end, d2;
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &end));  // an empty list has the end marker
  EXPECT_STREQ(TESSEL_ENDOFARGS, end.name);
  Tessel_event a = makeDatum("first", TESSEL_STRING, "one", 3);
  Tessel_event b = makeDatum("b", TESSEL_STRING, "2", 1);
  ASSERT_TRUE(TesselGeneric().putData(&a, &msg) && TesselGeneric().putData(&b, &msg));
  ASSERT_TRUE(tessel_msgFindDatum(&msg, "b", &d2));
  EXPECT_STREQ("2", static_cast<char*>(d2.value));
  EXPECT_FALSE(tessel_msgFindDatum(&msg, "c", &d2));
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d1));
  EXPECT_STREQ("first", d1.name);
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d2) && tessel_msgNextDatum(&msg, &end));
  EXPECT_STREQ(TESSEL_ENDOFARGS, end.name);
  EXPECT_EQ(0u, end.type);
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d2));
  EXPECT_STREQ("first", d2.name);
  EXPECT_STREQ("one", static_cast<char*>(d1.value));  // the earlier fetch still holds
  EXPECT_NE(d1.value, d2.value);
}

TEST(ServiceMsgTest, TextFieldsAreCutToTheirWidth) {
  TesselServiceMsg msg;
  msg.setHost(std::string(300, 'h').c_str());
  EXPECT_EQ(std::string(TESSEL_HOST_SIZE - 1, 'h'), msg.host);
}

}  // namespace
