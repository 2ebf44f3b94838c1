#include "parse_accesslist.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

#include "test_root.h"

namespace {

class AccessListTest : public OviRootTest {
 protected:
  // Opens the list with the given content (none: no file) and checks a pair.
  int check(const char* content, const char* host, const char* database) {
    if (content != nullptr) write("ovi_sender.conf", content);
    ovi_openaccess();
    int found = ovi_checkaccess(host, database);
    ovi_closeaccess();
    return found;
  }
};

TEST_F(AccessListTest, MissingFileRefusesEveryone) {
  EXPECT_EQ(ENOENT, ovi_openaccess());
  EXPECT_EQ(0, ovi_checkaccess("alpha", "db1"));
  EXPECT_EQ(0, check(nullptr, "alpha", "db1"));
}

TEST_F(AccessListTest, EntriesMatchWithoutRegardToCase) {
  const char* list = "Alpha.Example.COM DB1\n";
  EXPECT_EQ(1, check(list, "alpha.example.com", "db1"));
  EXPECT_EQ(0, check(list, "alpha", "db1"));
  EXPECT_EQ(0, check(list, "alpha.example.com", "db"));
  EXPECT_EQ(0, check(list, "alpha.example.com", ""));
  EXPECT_EQ(0, check(list, "", "db1"));
  EXPECT_EQ(0, check(list, nullptr, "db1"));
}

TEST_F(AccessListTest, CommentsBlankLinesAndTrailingBlanksAreHarmless) {
  const char* list =
      "# who may use what\n"
      "\n"
      "alpha db1   \n"
      "\n"
      "beta \"my db\" # quoted name\n"
      "gamma db3\n";
  EXPECT_EQ(1, check(list, "alpha", "db1"));
  EXPECT_EQ(1, check(list, "beta", "my db"));
  EXPECT_EQ(1, check(list, "gamma", "db3"));
  EXPECT_EQ(0, check(list, "alpha", "beta"));
}

TEST_F(AccessListTest, OneTokenLineNeverMatches) {
  const char* list = "alpha\nbeta db\n";
  EXPECT_EQ(0, check(list, "alpha", "beta"));
  EXPECT_EQ(1, check(list, "beta", "db"));
}

TEST_F(AccessListTest, ExtraTokensBeginTheNextEntry) {
  const char* list = "alpha db1 beta db2\nalpha db3\n";
  EXPECT_EQ(1, check(list, "alpha", "db1"));
  EXPECT_EQ(1, check(list, "beta", "db2"));
  EXPECT_EQ(1, check(list, "alpha", "db3"));  // a host may be listed with several databases
  EXPECT_EQ(0, check(list, "alpha", "db2"));
}

TEST_F(AccessListTest, LastEntryNeedsALineEnd) {
  const char* list = "alpha db1\nbeta db2";
  EXPECT_EQ(1, check(list, "alpha", "db1"));
  EXPECT_EQ(0, check(list, "beta", "db2"));
}

TEST_F(AccessListTest, FieldsAreCutTo255Characters) {
  std::string host(300, 'h');
  std::string list = host + " db\n";
  EXPECT_EQ(1, check(list.c_str(), std::string(255, 'h').c_str(), "db"));
  EXPECT_EQ(0, check(list.c_str(), host.c_str(), "db"));
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
