#include "parse_dbtmpl.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>

#include "data_file.h"
#include "tokenizer.h"

namespace {

struct TemplateEntry {
  char* name = nullptr;
  char* flags = nullptr;
  TemplateEntry* next = nullptr;
  ~TemplateEntry() {
    free(name);
    free(flags);
  }
};

struct TemplateFile {
  char* name = nullptr;
  TemplateEntry* entries = nullptr;
  TemplateEntry* last = nullptr;
  TemplateFile* next = nullptr;
  ~TemplateFile() {
    while (entries != nullptr) {
      TemplateEntry* e = entries;
      entries = e->next;
      delete e;
    }
    free(name);
  }
};

}  // namespace

static FilePtr tfp;
static TemplateFile* db_file_cache;
static TemplateFile* db_file_cache_last;
static const TemplateEntry* db_line_entry;

int ovi_open_db_template_file(const char* name) {
  int err = ovi_open_data_file(name, &tfp);
  if (err == 0) setTokenEof(0);
  return err;
}

void ovi_close_db_template_file() { tfp.reset(); }

int ovi_get_db_entry_from_file(char* name, char* flags) {
  ovi_copy_cut(name, getToken(tfp.get()), OVI_DB_FIELD_SIZE - 1);
  flags[0] = '\0';
  if (getTokenEor()) return 1;
  if (getTokenEof()) return -1;
  ovi_copy_cut(flags, getToken(tfp.get()), OVI_DB_FIELD_SIZE - 1);
  return 0;
}

static TemplateEntry* newTemplateEntry(const char* name, const char* flags) {
  TemplateEntry* e = new (std::nothrow) TemplateEntry;
  if (e == nullptr) return nullptr;
  e->name = strdup(name);
  e->flags = strdup(flags);
  if (e->name == nullptr || e->flags == nullptr) {
    delete e;
    return nullptr;
  }
  return e;
}

static const TemplateFile* findFile(const char* name) {
  for (const TemplateFile* f = db_file_cache; f != nullptr; f = f->next)
    if (strcmp(f->name, name) == 0) return f;
  return nullptr;
}

int ovi_add_db_file_to_cache(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  if (findFile(name) != nullptr) return 1;

  TemplateFile* file = new (std::nothrow) TemplateFile;
  if (file == nullptr) return 0;
  file->name = strdup(name);
  if (file->name == nullptr) {
    delete file;
    return 0;
  }
  (db_file_cache == nullptr ? db_file_cache : db_file_cache_last->next) = file;
  db_file_cache_last = file;

  if (ovi_open_db_template_file(name) != 0) return 0;
  char entryName[OVI_DB_FIELD_SIZE], flags[OVI_DB_FIELD_SIZE];
  while (ovi_get_db_entry_from_file(entryName, flags) != -1) {
    TemplateEntry* e = newTemplateEntry(entryName, flags);
    if (e == nullptr) return 0;
    (file->entries == nullptr ? file->entries : file->last->next) = e;
    file->last = e;
  }
  return 1;
}

int ovi_opentemplate(const char* name) {
  db_line_entry = nullptr;
  if (db_file_cache == nullptr && !ovi_add_db_file_to_cache(name)) return -1;
  if (name == nullptr) return 1;
  const TemplateFile* file = findFile(name);
  if (file == nullptr) return 1;
  db_line_entry = file->entries;
  return 0;
}

int ovi_getTemplateEntry(const char* name) {
  if (db_line_entry == nullptr || name == nullptr || name[0] == '\0') return 0;
  size_t len = strlen(name);
  for (const TemplateEntry* e = db_line_entry; e != nullptr; e = e->next)
    if (strncasecmp(e->name, name, len) == 0) return getFlags(e->flags);
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

void ovi_closetemplate() { db_line_entry = nullptr; }

void ovi_free_db_file_cache() {
  while (db_file_cache != nullptr) {
    TemplateFile* f = db_file_cache;
    db_file_cache = f->next;
    delete f;
  }
  db_file_cache_last = nullptr;
  db_line_entry = nullptr;
}

int ovi_db_file_entry_count(const char* name) {
  if (name == nullptr) return -1;
  const TemplateFile* file = findFile(name);
  if (file == nullptr) return -1;
  int n = 0;
  for (const TemplateEntry* e = file->entries; e != nullptr; e = e->next) n++;
  return n;
}
