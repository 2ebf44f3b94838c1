#include "tessel/tessel_config.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>

#include "tessel/tessel_file.h"

const char* const TESSEL_CONFIG_FILE = "/etc/opt/ZEPHline/orx/orx.conf";
const char* const TESSEL_STATUS_FILE = "/var/opt/ZEPHline/orx/ovi_files/ovi_sender.status";

std::string tessel_path(const char* fixedPath) {
  const char* root = getenv("OVI_ROOT");
  if (root == nullptr || root[0] == '\0' || fixedPath == nullptr || fixedPath[0] != '/')
    return fixedPath != nullptr ? fixedPath : "";
  std::string path(root);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path + fixedPath;
}

static bool isBlank(char c) { return c == ' ' || c == '\t'; }

int tessel_readConfigEntry(const char* file, const char* key, std::string* value) {
  if (key == nullptr || key[0] == '\0') return 0;
  FilePtr fp;
  if (tessel_open_text_file(file, &fp) != 0) return 0;
  size_t keyLen = strlen(key);
  char* line = nullptr;
  size_t cap = 0;
  ssize_t n;
  int found = 0;
  while (!found && (n = getline(&line, &cap, fp.get())) != -1) {
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    const char* p = line;
    while (isBlank(*p)) p++;
    if (*p == '#' || *p == '\0') continue;
    if (strncmp(p, key, keyLen) != 0 || !(isBlank(p[keyLen]) || p[keyLen] == '\0')) continue;
    p += keyLen;
    while (isBlank(*p)) p++;
    std::string v(p);
    while (!v.empty() && isBlank(v.back())) v.pop_back();
    *value = v;
    found = 1;
  }
  free(line);
  return found;
}

const char* tessel_getConfig(const char* key) {
  // One slot per key: a caller's pointer stays valid until that key is looked up again.
  static std::map<std::string, std::string> values;
  std::string v;
  if (!tessel_readConfigEntry(tessel_path(TESSEL_CONFIG_FILE).c_str(), key, &v)) return nullptr;
  std::string& slot = values[key];
  slot = v;
  return slot.c_str();
}
