#include "tessel/tessel_service_msg.h"

#include <gtest/gtest.h>

#include "tessel/tessel_buffer.h"
#include "tessel/tessel_test_util.h"

namespace {

TEST(ServiceMsgTest, WritingPastABorrowedBlockMovesIntoOwnedStorage) {
  TesselArglist borrowed;
  ASSERT_TRUE(borrowed.alloc(64, 16));
  TesselServiceMsg msg;
  msg.argData.setBuffer(borrowed.data, borrowed.size, 0);
  char big[300];
  memset(big, 'x', sizeof big);
  ASSERT_TRUE(put(&msg, "a", TESSEL_STRING, "b", 1));
  // Copies: the descriptors are packed, so no reference may bind to them.
  char* block = msg.argData.data;
  EXPECT_EQ(borrowed.data, block);  // still fits
  ASSERT_TRUE(put(&msg, "big", TESSEL_STRING, big, sizeof big));
  block = msg.argData.data;
  EXPECT_NE(borrowed.data, block);
  std::vector<Tessel_event> got = fetchAll(&msg);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(300u, got[1].length);
}

TEST(ServiceMsgTest, PositionZeroReplacesTheData) {
  TesselServiceMsg msg;
  int32_t one = 1, two = 2;
  ASSERT_TRUE(put(&msg, "old", TESSEL_INT, &one, 4));
  msg.argData.position = 0;
  ASSERT_TRUE(put(&msg, "new", TESSEL_INT, &two, 4));
  std::vector<Tessel_event> got = fetchAll(&msg);
  ASSERT_EQ(1u, got.size());
  EXPECT_STREQ("new", got[0].name);
}

TEST(ServiceMsgTest, FetchingWrapsAfterTheEndMarkerAndFindingDoesNotMove) {
  TesselServiceMsg msg;
  Tessel_event d1, end, d2;
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &end));  // an empty list has the end marker
  EXPECT_STREQ(TESSEL_ENDOFARGS, end.name);
  ASSERT_TRUE(put(&msg, "first", TESSEL_STRING, "one", 3) && put(&msg, "b", TESSEL_STRING, "2", 1));
  ASSERT_TRUE(tessel_msgFindDatum(&msg, "b", &d2));
  EXPECT_STREQ("2", static_cast<char*>(d2.value));
  EXPECT_FALSE(tessel_msgFindDatum(&msg, "c", &d2));
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d1));
  EXPECT_STREQ("first", d1.name);
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d2) && tessel_msgNextDatum(&msg, &end));
  EXPECT_EQ(0u, end.type);
  ASSERT_TRUE(tessel_msgNextDatum(&msg, &d2));
  EXPECT_STREQ("first", d2.name);
  EXPECT_STREQ("one", static_cast<char*>(d1.value));  // the earlier fetch still holds
  EXPECT_NE(d1.value, d2.value);
}

}  // namespace
