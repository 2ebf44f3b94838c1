#include "parse_accesslist.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

#include "test_root.h"

namespace {

using AccessListTest = OviRootTest;

TEST_F(AccessListTest, EntriesArePairsMatchedWithoutRegardToCase) {
  EXPECT_EQ(ENOENT, ovi_openaccess());  // without the file nobody is let in
  EXPECT_EQ(0, ovi_checkaccess("alpha.example.com", "db1"));
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
  write("ovi_sender.conf", list);
  const std::string h255(255, 'h'), h301(301, 'h');
  const struct { const char* host; const char* database; int found; } cases[] = {
      {"alpha.example.com", "db1", 1}, {"alpha", "db1", 0}, {"alpha.example.com", "db", 0},
      {"alpha.example.com", "", 0}, {"", "db1", 0}, {nullptr, "db1", 0}, {"beta", "my db", 1},
      {"lone", "gamma", 0}, {"lone", "", 0}, {"gamma", "db3", 1}, {"delta", "db4", 1},
      {"gamma", "db5", 1}, {"gamma", "db4", 0}, {"last", "db7", 0}, {h255.c_str(), "db6", 1},
      {h301.c_str(), "db6", 0},
  };
  for (const auto& c : cases) {
    ovi_openaccess();  // the list is read on from where it stands, so each check reopens it
    EXPECT_EQ(c.found, ovi_checkaccess(c.host, c.database))
        << (c.host ? c.host : "null") << " " << c.database;
    ovi_closeaccess();
  }
}

TEST_F(AccessListTest, OpeningClosesTheFilterFile) {
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
