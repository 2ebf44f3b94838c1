#include "tessel/tessel_service_msg.h"

#include <gtest/gtest.h>

#include "tessel/tessel_buffer.h"
#include "tessel/tessel_codec.h"
#include "tessel/tessel_test_util.h"

namespace {

TEST(ServiceMsgTest, ImageRestoredInAnotherMessageWorksOnceBuffersArePointedAnew) {
  TesselServiceMsg sent;
  sent.type = TESSEL_MSG_TRAP;
  sent.priority = 3;
  sent.agentProg = 100110;
  sent.setHost("alpha");
  sent.setGroup("tessel_glyph_state");
  const char* text = "node7";
  Tessel_event d = makeDatum("glyph", TESSEL_STRING, text, 5);
  ASSERT_TRUE(TesselGeneric().putData(&d, &sent));

  // What travels between processes: the image and the argument bytes.
  unsigned char header[TESSEL_MSG_IMAGE];
  memcpy(header, sent.image(), sizeof header);
  uint32_t length;
  memcpy(&length, header + 596, 4);
  ASSERT_EQ(sent.arglistLength, length);
  TesselArglist body;
  ASSERT_TRUE(body.alloc(2 * length + 256, 256));
  memcpy(body.data, sent.argData.data, length);

  TesselServiceMsg received;
  memcpy(received.image(), header, sizeof header);
  received.argData.setBuffer(body.data, body.size, body.position);
  EXPECT_EQ(12u, received.type);
  EXPECT_EQ(3, received.priority);
  EXPECT_EQ(100110u, received.agentProg);
  EXPECT_STREQ("alpha", received.host);
  EXPECT_STREQ("tessel_glyph_state", received.group);
  bool ok;
  std::vector<Tessel_event> got = fetchAll(&received, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(1u, got.size());
  EXPECT_STREQ("glyph", got[0].name);
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

TEST(ServiceMsgTest, FetchingWrapsAfterTheEndMarkerAndValuesStayValid) {
  TesselServiceMsg msg;
  Tessel_event a = makeDatum("first", TESSEL_STRING, "one", 3);
  ASSERT_TRUE(TesselGeneric().putData(&a, &msg));
  Tessel_event d1, end, d2;
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d1));
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &end));
  EXPECT_STREQ(TESSEL_ENDOFARGS, end.name);
  EXPECT_EQ(0u, end.type);
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d2));
  EXPECT_STREQ("first", d2.name);
  EXPECT_STREQ("one", static_cast<char*>(d1.value));  // the earlier fetch still holds
  EXPECT_NE(d1.value, d2.value);
}

TEST(ServiceMsgTest, AnEmptyListDeliversTheEndMarker) {
  TesselServiceMsg msg;
  Tessel_event d;
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d));
  EXPECT_STREQ(TESSEL_ENDOFARGS, d.name);
}

TEST(ServiceMsgTest, FindDoesNotMoveTheCursor) {
  TesselServiceMsg msg;
  Tessel_event a = makeDatum("a", TESSEL_STRING, "1", 1);
  Tessel_event b = makeDatum("b", TESSEL_STRING, "2", 1);
  ASSERT_TRUE(TesselGeneric().putData(&a, &msg) && TesselGeneric().putData(&b, &msg));
  Tessel_event d;
  ASSERT_TRUE(tessel_msgFindDatum(&msg, "b", &d));
  EXPECT_STREQ("2", static_cast<char*>(d.value));
  EXPECT_FALSE(tessel_msgFindDatum(&msg, "c", &d));
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d));
  EXPECT_STREQ("a", d.name);
}

TEST(ServiceMsgTest, TextFieldsAreCutToTheirWidth) {
  TesselServiceMsg msg;
  std::string longHost(300, 'h');
  msg.setHost(longHost.c_str());
  EXPECT_EQ(TESSEL_HOST_SIZE - 1, strlen(msg.host));
}

}  // namespace
