// Test support: a fresh temporary OVI_ROOT per test with the data directory
// in it, helpers for files there, and a reset of the readers' process-wide
// state so that tests do not see each other's caches.
#ifndef LIB_LIBOVIFILT_TEST_ROOT_H_
#define LIB_LIBOVIFILT_TEST_ROOT_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/time.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "data_file.h"
#include "parse_accesslist.h"
#include "parse_dbtmpl.h"
#include "parse_filter.h"
#include "parse_trap.h"
#include "tessel/tessel_config.h"

class OviRootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ovifilt_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    root_ = tmpl;
    setenv("OVI_ROOT", tmpl, 1);
    std::filesystem::create_directories(dataPath(""));
  }

  void TearDown() override {
    resetReaders();
    unsetenv("OVI_ROOT");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  // Closes every reader and forgets the names the filter opens remember, so
  // that the next test starts afresh.
  static void resetReaders() {
    char message[256];
    ovi_openfilter("");
    ovi_openfilter_with_msg("", message);
    ovi_closefilter();
    ovi_closeaccess();
    ovi_close_db_template_file();
    ovi_close_trapfile_after_reading();
    ovi_free_trap_file_cache(0);
    ovi_free_db_file_cache();
    free_enterprise_list_cache();
  }

  std::string dataPath(const std::string& name) const {
    return tessel_path(OVI_DATA_DIR) + "/" + name;
  }

  // Writes a file of the data directory (or, for a name beginning with "/",
  // below the root) and returns its path.
  std::string write(const std::string& name, const std::string& content) const {
    std::string path = name[0] == '/' ? root_ + name : dataPath(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    return path;
  }

  static std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Gives a file an exact modification time, so that tests need not sleep.
  static void setMtime(const std::string& path, time_t seconds) {
    struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(0, utimes(path.c_str(), times));
  }

  std::string root_;
};

#endif  // LIB_LIBOVIFILT_TEST_ROOT_H_
