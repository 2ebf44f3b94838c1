#include "orxdb/orxdb_test_util.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "orxdb/orxdb.h"
#include "orxdb/orxdb_admin.h"

void OrxdbRootTest::SetUp() {
  char dir[] = "/tmp/orxdb_test.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  root_ = dir;
  setenv("OVI_ROOT", dir, 1);
  unsetenv("ORX_NAME");
  orx_error = ORX_OK;
}

void OrxdbRootTest::TearDown() {
  orxdb_close();
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
  unsetenv("OVI_ROOT");
  unsetenv("ORX_NAME");
}

std::string OrxdbRootTest::load(const char* name, const std::string& text) {
  FILE* in = text.empty() ? fopen("/dev/null", "r")
                          : fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  if (in == nullptr) return "fmemopen failed";
  std::string error;
  int ok = orxdb_loadFile(name, in, "test.orx", &error);
  fclose(in);
  return ok ? "" : error;
}

std::string OrxdbRootTest::dump(const char* name) {
  char* data = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&data, &size);
  if (out == nullptr) return "";
  std::string error;
  int ok = orxdb_dumpDatabase(name, out, &error);
  fclose(out);
  std::string text(data, size);
  free(data);
  if (!ok) return "";
  return text.substr(text.find('\n') + 1);
}

int OrxdbRootTest::open(const char* name) {
  setenv("ORX_NAME", name, 1);
  return orxdb_open();
}
