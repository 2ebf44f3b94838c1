#include "parse_accesslist.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

#include "test_root.h"

namespace {

class AccessListTest : public OviRootTest {
 protected:
  // Opens the list with the given content and checks a pair.
  int check(const std::string& content, const char* host, const char* database) {
    write("ovi_sender.conf", content);
    ovi_openaccess();
    int found = ovi_checkaccess(host, database);
    ovi_closeaccess();
    return found;
  }
};

TEST_F(AccessListTest, MissingFileRefusesEveryone) {
  EXPECT_EQ(ENOENT, ovi_openaccess());
  EXPECT_EQ(0, ovi_checkaccess("alpha", "db1"));
}

TEST_F(AccessListTest, EntriesArePairsMatchedWithoutRegardToCase) {
  const std::string list =
      "# who may use what\n"
      "\n"
      "Alpha.Example.COM DB1   \n"
      "beta \"my db\" # quoted name\n"
      "lone\n"                       // a one-token line never matches
      "gamma db3 delta db4\n"        // extra tokens begin the next entry
      "gamma db5\n"
      "h" + std::string(300, 'h') + " db6\n"  // fields are cut to 255 characters
      "last db7";                    // an entry needs its line end
  const struct { const char* host; const char* database; int found; } cases[] = {
      {"alpha.example.com", "db1", 1}, {"alpha", "db1", 0}, {"alpha.example.com", "db", 0},
      {"alpha.example.com", "", 0}, {"", "db1", 0}, {nullptr, "db1", 0},
      {"beta", "my db", 1}, {"lone", "gamma", 0}, {"lone", "", 0},
      {"gamma", "db3", 1}, {"delta", "db4", 1}, {"gamma", "db5", 1}, {"gamma", "db4", 0},
      {"last", "db7", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.found, check(list, c.host, c.database)) << (c.host ? c.host : "null") << " "
                                                        << c.database;
  EXPECT_EQ(1, check(list, std::string(255, 'h').c_str(), "db6"));
  EXPECT_EQ(0, check(list, std::string(301, 'h').c_str(), "db6"));
}

TEST_F(AccessListTest, OpeningClosesTheFilterFile) {
  write("t", "a color\n");
  write("f", "hostname x - - pass t\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  write("ovi_sender.conf", "x db\n");
  ASSERT_EQ(0, ovi_openaccess());
  EXPECT_EQ(nullptr, ovi_filter_cache());
  EXPECT_EQ(1, ovi_checkaccess("x", "db"));
  ovi_closeaccess();
  EXPECT_EQ(0, ovi_checkaccess("x", "db"));
}

}  // namespace
