#include "message_json.h"

#include <gtest/gtest.h>

#include "datum.h"

namespace {

void put(TesselServiceMsg* msg, const char* name, uint32_t type, const void* value, uint32_t length) {
  ASSERT_TRUE(tools_putDatum(msg, name, type, value, length));
}

TEST(MessageJsonTest, NumbersForIntegerTypesTextForTheRestEscaped) {
  TesselServiceMsg msg;
  msg.setHost("al\"pha");
  msg.setGroup("trap");
  put(&msg, "tab\tname", 9, "a\nb", 3);
  int32_t n = -7;
  put(&msg, "n", 15, &n, 4);
  double d = 0.5;
  put(&msg, "d", 8, &d, 8);
  put(&msg, "blob", 23, "xyz", 3);
  std::string line;
  ASSERT_TRUE(messageJson(536871682, 10, 1, &msg, &line));
  EXPECT_EQ("{\"prog\":536871682,\"vers\":10,\"proc\":1,\"type\":0,\"agent_prog\":0,"
            "\"host\":\"al\\\"pha\",\"group\":\"trap\",\"priority\":0,\"data\":["
            "{\"name\":\"tab\\tname\",\"type\":9,\"length\":3,\"value\":\"a\\nb\"},"
            "{\"name\":\"n\",\"type\":15,\"length\":4,\"value\":-7},"
            "{\"name\":\"d\",\"type\":8,\"length\":8,\"value\":\"0.500000\"},"
            "{\"name\":\"blob\",\"type\":23,\"length\":3,\"value\":null}]}",
            line);
}

TEST(MessageJsonTest, MalformedDataGiveNoLine) {
  TesselServiceMsg msg;
  put(&msg, "a", 9, "b", 1);
  msg.argData.data[11] = 0x7f;  // the type code of "a" becomes unknown
  std::string line;
  EXPECT_FALSE(messageJson(1, 1, 1, &msg, &line));
}

}  // namespace
