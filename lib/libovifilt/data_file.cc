#include "data_file.h"

#include <errno.h>
#include <string.h>

#include "tessel/tessel_config.h"

const char OVI_DATA_DIR[] = "/var/opt/ZEPHline/orx/ovi_files";

std::string ovi_data_file_path(const char* name) {
  if (name == nullptr) return std::string();
  if (name[0] == '/') return name;
  return tessel_path(OVI_DATA_DIR) + "/" + name;
}

int ovi_open_data_file(const char* name, FilePtr* out, int* fd) {
  out->reset();
  if (name == nullptr || name[0] == '\0') return ENOENT;
  return tessel_open_text_file(ovi_data_file_path(name).c_str(), out, fd);
}

void ovi_copy_cut(char* dst, const char* src, size_t max) {
  size_t n = src != nullptr ? strnlen(src, max) : 0;
  memcpy(dst, src != nullptr ? src : "", n);
  dst[n] = '\0';
}
