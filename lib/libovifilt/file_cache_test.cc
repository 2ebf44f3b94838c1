#include "file_cache.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A reader over made-up files: "bad..." cannot be opened, any other name
// reads as two records naming it.  Counts the opens.
struct FakeReader {
  static int opens;
  static std::string name;
  static int left;

  static int open(const char* n) {
    opens++;
    name = n;
    left = 2;
    return name.compare(0, 3, "bad") == 0 ? ENOENT : 0;
  }
  static bool next(CachedRecord* record) {
    if (left == 0) return false;
    *record = {name, std::to_string(left--)};
    return true;
  }
};
int FakeReader::opens;
std::string FakeReader::name;
int FakeReader::left;

TEST(FileCacheTest, EachNameIsReadOnceEvenWhenItCannotBeOpenedUntilCleared) {
  FakeReader::opens = 0;
  FileCache cache(FakeReader::open, FakeReader::next);
  EXPECT_TRUE(cache.empty());
  EXPECT_EQ(nullptr, cache.find("a"));
  EXPECT_EQ(1, cache.add("a"));
  EXPECT_EQ(0, cache.add("bad"));
  EXPECT_EQ(1, cache.add("a"));    // cached: not read again
  EXPECT_EQ(1, cache.add("bad"));  // cached without records: not tried again
  EXPECT_EQ(2, FakeReader::opens);
  ASSERT_NE(nullptr, cache.find("bad"));
  EXPECT_TRUE(cache.find("bad")->empty());
  EXPECT_EQ(nullptr, cache.find("A"));  // names match exactly
  cache.clear();
  EXPECT_TRUE(cache.empty());
  EXPECT_EQ(nullptr, cache.find("a"));
  EXPECT_EQ(0, cache.add("bad"));  // emptied: read afresh
  EXPECT_EQ(3, FakeReader::opens);
}

TEST(FileCacheTest, RecordsHandedOutSurviveLaterAdds) {
  FileCache cache(FakeReader::open, FakeReader::next);
  ASSERT_EQ(1, cache.add("first"));
  const CachedRecords* records = cache.find("first");
  for (int i = 0; i < 100; i++) ASSERT_EQ(1, cache.add(("f" + std::to_string(i)).c_str()));
  EXPECT_EQ(records, cache.find("first"));
  EXPECT_EQ((CachedRecords{{"first", "2"}, {"first", "1"}}), *records);
}

}  // namespace
