// Helpers of the library's tests: a private OVI_ROOT per test, and loading
// and dumping databases from strings.
#ifndef PLATFORM_ORXDB_ORXDB_TEST_UTIL_H_
#define PLATFORM_ORXDB_ORXDB_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>

// Gives every test a fresh temporary OVI_ROOT and removes it afterwards,
// closing any database the test left open.
class OrxdbRootTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads text into database name; "" on success, else the error.
  static std::string load(const char* name, const std::string& text);
  // The dump of database name without its first (comment) line; "" on failure.
  static std::string dump(const char* name);
  // Points ORX_NAME at name and opens it; the result of orxdb_open().
  static int open(const char* name);

  std::string root_;
};

#endif  // PLATFORM_ORXDB_ORXDB_TEST_UTIL_H_
