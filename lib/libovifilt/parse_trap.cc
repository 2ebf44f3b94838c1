#include "parse_trap.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>
#include <string>

#include "data_file.h"
#include "parse_filter.h"
#include "tessel/tessel_config.h"
#include "trap_limits.h"

namespace {

struct TrapEntry {
  char* enterprise = nullptr;
  char* traps = nullptr;
  char* oid = nullptr;
  TrapEntry* next = nullptr;
  ~TrapEntry() {
    free(enterprise);
    free(traps);
    free(oid);
  }
};

struct TrapFile {
  char* name = nullptr;
  TrapEntry* entries = nullptr;
  TrapEntry* last = nullptr;
  TrapFile* next = nullptr;
  ~TrapFile() {
    // Iterative, so that a file of many lines cannot exhaust the stack.
    while (entries != nullptr) {
      TrapEntry* e = entries;
      entries = e->next;
      delete e;
    }
    free(name);
  }
};

struct EnterpriseRecord {
  char name[81];
  char oid[83];
  EnterpriseRecord* next;
};

}  // namespace

static TrapFile* trap_file_cache;
static TrapFile* trap_file_cache_last;
static const TrapEntry* present_line_entry;
static FilePtr trap_fp;

static EnterpriseRecord* enterprise_list_cache;
static FilePtr enterprise_fp;

int ovi_open_trapfile_for_reading(const char* name) {
  return ovi_open_data_file(name, &trap_fp);
}

int ovi_close_trapfile_after_reading() {
  trap_fp.reset();
  return 1;
}

int ovi_get_trap_entry_from_file(char* enterprise, char* traps, char* oid) {
  char line[2057];
  if (trap_fp == nullptr || fgets(line, sizeof line, trap_fp.get()) == nullptr) return 0;
  enterprise[0] = traps[0] = oid[0] = '\0';
  char* first = strchr(line, '%');
  if (first == nullptr) return 1;
  *first = '\0';
  ovi_copy_cut(enterprise, line, OVI_TRAP_FIELD_SIZE - 1);
  char* second = strchr(first + 1, '%');
  if (second == nullptr) return 1;
  *second = '\0';
  ovi_copy_cut(traps, first + 1, OVI_TRAP_FIELD_SIZE - 1);
  char* rest = second + 1;
  size_t n = strlen(rest);
  if (n > 0 && rest[n - 1] == '\n') rest[n - 1] = '\0';
  ovi_copy_cut(oid, rest, OVI_TRAP_FIELD_SIZE - 1);
  return 1;
}

static TrapEntry* newTrapEntry(const char* enterprise, const char* traps, const char* oid) {
  TrapEntry* e = new (std::nothrow) TrapEntry;
  if (e == nullptr) return nullptr;
  e->enterprise = strdup(enterprise);
  e->traps = strdup(traps);
  e->oid = strdup(oid);
  if (e->enterprise == nullptr || e->traps == nullptr || e->oid == nullptr) {
    delete e;
    return nullptr;
  }
  return e;
}

int ovi_add_trap_file_to_cache(const char* name) {
  if (name == nullptr || strcmp(name, "-") == 0) return 0;
  for (const TrapFile* f = trap_file_cache; f != nullptr; f = f->next)
    if (strcmp(f->name, name) == 0) return 1;

  TrapFile* file = new (std::nothrow) TrapFile;
  if (file == nullptr) return 0;
  file->name = strdup(name);
  if (file->name == nullptr) {
    delete file;
    return 0;
  }
  (trap_file_cache == nullptr ? trap_file_cache : trap_file_cache_last->next) = file;
  trap_file_cache_last = file;

  if (ovi_open_trapfile_for_reading(name) != 0) return 0;
  char enterprise[OVI_TRAP_FIELD_SIZE], traps[OVI_TRAP_FIELD_SIZE], oid[OVI_TRAP_FIELD_SIZE];
  while (ovi_get_trap_entry_from_file(enterprise, traps, oid)) {
    TrapEntry* e = newTrapEntry(enterprise, traps, oid);
    if (e == nullptr) return 0;
    (file->entries == nullptr ? file->entries : file->last->next) = e;
    file->last = e;
  }
  return 1;
}

int ovi_open_trap_file(const char* name) {
  if (trap_file_cache == nullptr && !ovi_add_trap_file_to_cache(name)) return -1;
  if (name == nullptr) return 1;
  for (const TrapFile* f = trap_file_cache; f != nullptr; f = f->next) {
    if (strcmp(f->name, name) == 0) {
      present_line_entry = f->entries;
      return 0;
    }
  }
  return 1;
}

int ovi_get_trap_entry(char* enterprise, char* traps, char* oid) {
  if (present_line_entry == nullptr) return 0;
  // Entries were cut to the field size when they were read.
  strcpy(enterprise, present_line_entry->enterprise);
  strcpy(traps, present_line_entry->traps);
  strcpy(oid, present_line_entry->oid);
  present_line_entry = present_line_entry->next;
  return 1;
}

void ovi_close_trap_file() { present_line_entry = nullptr; }

int ovi_free_trap_file_cache(int value) {
  if (trap_file_cache == nullptr) return 1;
  while (trap_file_cache != nullptr) {
    TrapFile* f = trap_file_cache;
    trap_file_cache = f->next;
    delete f;
  }
  trap_file_cache_last = nullptr;
  present_line_entry = nullptr;
  return value;
}

// --- The enterprise list ---

void free_enterprise_list_cache() {
  while (enterprise_list_cache != nullptr) {
    EnterpriseRecord* r = enterprise_list_cache;
    enterprise_list_cache = r->next;
    delete r;
  }
}

static bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Copies the value that starts after an opening quote: leading blanks
// skipped, up to the closing quote or the line end, cut to max characters.
// Returns the position after the closing quote, or null at the line end.
static const char* readQuoted(const char* p, char* out, size_t max) {
  while (isBlank(*p)) p++;
  size_t n = strcspn(p, "\"\n");
  ovi_copy_cut(out, p, n < max ? n : max);
  return p[n] == '"' ? p + n + 1 : nullptr;
}

static void get_enterprise_record_from_entry(const char* line, EnterpriseRecord* record) {
  record->oid[0] = '\0';
  const char* p = readQuoted(line + 1, record->name, sizeof record->name - 1);
  if (p != nullptr && (p = strchr(p, '"')) != nullptr) readQuoted(p + 1, record->oid, sizeof record->oid - 1);
}

static void insert_record_into_cache(EnterpriseRecord* record) {
  EnterpriseRecord** link = &enterprise_list_cache;
  while (*link != nullptr && strcasecmp((*link)->name, record->name) <= 0) link = &(*link)->next;
  record->next = *link;
  *link = record;
}

static void setMessage(char* message, const char* text) {
  if (message != nullptr) snprintf(message, 256, "%s", text);
}

int build_enterprise_list_cache(char* message) {
  std::string path = tessel_path((std::string(ovi_get_ovi_installation_base_dir()) +
                                  "/agents/enterprises.oid").c_str());
  if (tessel_open_text_file(path.c_str(), &enterprise_fp) != 0) {
    if (message != nullptr) snprintf(message, 256, "Unable to open the file %s.\n", path.c_str());
    return 0;
  }
  free_enterprise_list_cache();

  char line[2048];
  while (fgets(line, sizeof line, enterprise_fp.get()) != nullptr) {
    if (line[0] != '"') continue;
    EnterpriseRecord* record = new (std::nothrow) EnterpriseRecord;
    if (record == nullptr) {
      enterprise_fp.reset();
      setMessage(message, "Unable to Allocate Memory.\n");
      return 0;
    }
    get_enterprise_record_from_entry(line, record);
    insert_record_into_cache(record);
  }
  enterprise_fp.reset();

  for (const char* label : {OVI_STANDARD_TRAPS, OVI_ALL_ENTERPRISE_TRAPS}) {
    EnterpriseRecord* record = new (std::nothrow) EnterpriseRecord;
    if (record == nullptr) {
      setMessage(message, "Unable to Allocate Memory.\n");
      return 0;
    }
    ovi_copy_cut(record->name, label, sizeof record->name - 1);
    record->oid[0] = '\0';
    insert_record_into_cache(record);
  }
  return 1;
}

const char* get_enp_name_from_index(unsigned int index) {
  const EnterpriseRecord* r = enterprise_list_cache;
  for (; r != nullptr && index > 0; index--) r = r->next;
  return r != nullptr ? r->name : nullptr;
}

int get_index_from_enp_name(const char* name) {
  if (name == nullptr) return -1;
  int index = 0;
  for (const EnterpriseRecord* r = enterprise_list_cache; r != nullptr; r = r->next, index++)
    if (strcmp(r->name, name) == 0) return index;
  return -1;
}

const char* get_oid_from_name(const char* name) {
  if (name == nullptr) return "";
  for (const EnterpriseRecord* r = enterprise_list_cache; r != nullptr; r = r->next)
    if (strcmp(r->name, name) == 0) return r->oid;
  return "";
}
