#include "parse_dbtmpl.h"

#include <string.h>
#include <strings.h>

#include "data_file.h"
#include "file_cache.h"
#include "tokenizer.h"

namespace {

// Reads the next record of the open template file into the cache as its two
// fields, name and flags.
bool nextCachedEntry(CachedRecord* record) {
  char name[OVI_DB_FIELD_SIZE], flags[OVI_DB_FIELD_SIZE];
  if (ovi_get_db_entry_from_file(name, flags) == -1) return false;
  *record = {name, flags};
  return true;
}

// The reader's state, one per process.
struct DbTemplateReader {
  FilePtr fp;  // the template file being read
  FileCache cache{ovi_open_db_template_file, nextCachedEntry};
  const CachedRecords* selected = nullptr;  // entries of the selected file
};

DbTemplateReader dbtmpl;

}  // namespace

int ovi_open_db_template_file(const char* name) { return openTokenFile(name, &dbtmpl.fp); }

void ovi_close_db_template_file() { dbtmpl.fp.reset(); }

int ovi_get_db_entry_from_file(char* name, char* flags) {
  flags[0] = '\0';
  int end = getTokenField(dbtmpl.fp.get(), name, OVI_DB_FIELD_SIZE - 1);
  if (end != 0) return end;
  ovi_copy_cut(flags, getToken(dbtmpl.fp.get()), OVI_DB_FIELD_SIZE - 1);
  return 0;
}

int ovi_add_db_file_to_cache(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  return dbtmpl.cache.add(name);
}

int ovi_opentemplate(const char* name) {
  dbtmpl.selected = nullptr;
  if (dbtmpl.cache.empty() && !ovi_add_db_file_to_cache(name)) return -1;
  if (name == nullptr) return 1;
  dbtmpl.selected = dbtmpl.cache.find(name);
  return dbtmpl.selected != nullptr ? 0 : 1;
}

int ovi_getTemplateEntry(const char* name) {
  const CachedRecords* entries = dbtmpl.selected;
  if (entries == nullptr || entries->empty() || name == nullptr || name[0] == '\0') return 0;
  size_t len = strlen(name);
  for (const CachedRecord& e : *entries)
    if (strncasecmp(e[0].c_str(), name, len) == 0) return getFlags(e[1].c_str());
  return -1;
}

int getFlags(const char* flags) {
  // Earlier keywords win abbreviations they share with later ones.
  static const struct {
    const char* keyword;
    int bit;  // -1: drop
  } keywords[] = {
      {"membership", OVI_DB_MEMBERSHIP},   {"color", OVI_DB_COLOR},
      {"agents", OVI_DB_AGENTS},           {"connections", OVI_DB_CONNECTIONS},
      {"attributes", OVI_DB_ATTRIBUTES},   {"drop", -1},
  };
  int result = 0;
  const char* item = flags != nullptr ? flags : "";
  while (*item != '\0') {
    size_t len = strcspn(item, ",");
    if (len == 0) return result;
    int bit = 0;
    for (const auto& k : keywords) {
      if (len <= strlen(k.keyword) && strncasecmp(item, k.keyword, len) == 0) {
        bit = k.bit;
        break;
      }
    }
    if (bit == -1) return 0;
    if (bit == 0) return result;
    result |= bit;
    item += len;
    if (*item == ',') item++;
  }
  return result;
}

void ovi_closetemplate() { dbtmpl.selected = nullptr; }

void ovi_free_db_file_cache() {
  dbtmpl.cache.clear();
  dbtmpl.selected = nullptr;
}

int ovi_db_file_entry_count(const char* name) {
  const CachedRecords* entries = name != nullptr ? dbtmpl.cache.find(name) : nullptr;
  return entries != nullptr ? static_cast<int>(entries->size()) : -1;
}
