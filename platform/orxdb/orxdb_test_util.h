// Helpers of the library's tests: a private OVI_ROOT per test, and loading
// and dumping databases from strings.
#ifndef PLATFORM_ORXDB_ORXDB_TEST_UTIL_H_
#define PLATFORM_ORXDB_ORXDB_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "orxdb/orxdb.h"
#include "orxdb/orxdb_admin.h"

// Gives every test a fresh temporary OVI_ROOT and removes it afterwards,
// closing any database the test left open.
class OrxdbRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/orxdb_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    root_ = dir;
    setenv("OVI_ROOT", dir, 1);
    unsetenv("ORX_NAME");
    orx_error = ORX_OK;
  }
  void TearDown() override {
    orxdb_close();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    unsetenv("OVI_ROOT");
    unsetenv("ORX_NAME");
  }

  // Loads text into database name; "" on success, else the error.
  static std::string load(const char* name, const std::string& text) {
    FILE* in = text.empty() ? fopen("/dev/null", "r")
                            : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::string error;
    int ok = in != nullptr && orxdb_loadFile(name, in, "test.orx", &error);
    if (in != nullptr) fclose(in);
    return ok ? "" : error.empty() ? "load failed" : error;
  }
  // The dump of database name without its first (comment) line; "" on failure.
  static std::string dump(const char* name) {
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    std::string error;
    int ok = out != nullptr && orxdb_dumpDatabase(name, out, &error);
    if (out != nullptr) fclose(out);
    std::string text(data != nullptr ? data : "", size);
    free(data);
    return ok ? text.substr(text.find('\n') + 1) : "";
  }
  // Points ORX_NAME at name and opens it; the result of orxdb_open().
  static int open(const char* name) {
    setenv("ORX_NAME", name, 1);
    return orxdb_open();
  }

  std::string root_;
};

#endif  // PLATFORM_ORXDB_ORXDB_TEST_UTIL_H_
