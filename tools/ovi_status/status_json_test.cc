// The reader of the daemon's status file: what it takes and what it refuses.
#include "status_json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StatusJsonTest, ReadsTheStatusFileAsTheDaemonWritesIt) {
  JsonValue v;
  std::string error;
  ASSERT_TRUE(json_parse(
      "{\"daemon\":{\"pid\":12,\"host\":\"al\\\"pha\",\"subscribed\":true},"
      "\"registrations\":[{\"recv_orx\":\"c\\u00e9\\n\",\"dropped_full\":18446744073709,"
      "\"ending\":false},{}]}\n",
      &v, &error))
      << error;
  const JsonValue* daemon = v.member("daemon");
  ASSERT_NE(nullptr, daemon);
  EXPECT_EQ(12, daemon->numberOf("pid"));
  EXPECT_EQ("al\"pha", daemon->textOf("host"));
  EXPECT_TRUE(daemon->truthOf("subscribed"));
  const JsonValue* r = v.member("registrations");
  ASSERT_EQ(2u, r->items.size());
  EXPECT_EQ("c\xc3\xa9\n", r->items[0].textOf("recv_orx"));
  EXPECT_EQ(18446744073709.0, r->items[0].numberOf("dropped_full"));
  EXPECT_FALSE(r->items[0].truthOf("ending"));
  // Missing members and members of another kind read as nothing.
  EXPECT_EQ(7, r->items[1].numberOf("cached", 7));
  EXPECT_EQ("", daemon->textOf("pid"));
}

TEST(StatusJsonTest, RefusesWhatIsNotJson) {
  for (const char* bad : {"", "{", "{\"a\":}", "{\"a\" 1}", "[1,]", "{\"a\":1} x", "\"ab",
                          "{\"a\":\"\\q\"}", "tru", "{a:1}", "\"\x01\""}) {
    JsonValue v;
    std::string error;
    EXPECT_FALSE(json_parse(bad, &v, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  // Deep nesting is refused rather than followed down the stack.
  JsonValue v;
  std::string error;
  EXPECT_FALSE(json_parse(std::string(100000, '['), &v, &error));
}

}  // namespace
