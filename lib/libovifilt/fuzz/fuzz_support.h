// Shared by the fuzz targets: one temporary OVI_ROOT per process with the
// data directory and a few template files in it, and a way to put an input
// into a file there.
#ifndef LIB_LIBOVIFILT_FUZZ_FUZZ_SUPPORT_H_
#define LIB_LIBOVIFILT_FUZZ_FUZZ_SUPPORT_H_

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>

#include "data_file.h"
#include "tessel/tessel_config.h"
#include "tokenizer.h"

inline const std::string& fuzzRoot() {
  static const std::string root = [] {
    char tmpl[] = "/tmp/ovifilt_fuzz.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) abort();
    setenv("OVI_ROOT", tmpl, 1);
    std::filesystem::create_directories(tessel_path(OVI_DATA_DIR));
    atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(getenv("OVI_ROOT"), ec);
    });
    return std::string(tmpl);
  }();
  return root;
}

inline std::string fuzzDataPath(const char* name) {
  fuzzRoot();
  return tessel_path(OVI_DATA_DIR) + "/" + name;
}

inline void fuzzWrite(const std::string& path, const uint8_t* data, size_t size) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  FILE* fp = fopen(path.c_str(), "wb");
  if (fp == nullptr) abort();
  if (size > 0) fwrite(data, 1, size, fp);
  fclose(fp);
}

// Inputs whose tokens could name files outside the temporary root (an
// absolute name or a "..") are skipped: the readers would open them, and a
// device such as /dev/zero never ends.
inline bool fuzzNamesStayInside(const uint8_t* data, size_t size) {
  FILE* fp = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (fp == nullptr) return size == 0;
  bool inside = true;
  setTokenEof(0);
  while (inside) {
    const char* t = getToken(fp);
    if (getTokenEof()) break;
    inside = t[0] != '/' && strstr(t, "..") == nullptr;
  }
  fclose(fp);
  setTokenEof(0);
  return inside;
}

#endif  // LIB_LIBOVIFILT_FUZZ_FUZZ_SUPPORT_H_
