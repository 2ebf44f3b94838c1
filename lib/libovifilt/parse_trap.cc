#include "parse_trap.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "data_file.h"
#include "file_cache.h"
#include "parse_filter.h"
#include "tessel/tessel_config.h"
#include "trap_limits.h"

namespace {

struct EnterpriseRecord {
  char name[81];
  char oid[83];
};

// Reads the next line of the open trap template file into the cache as its
// three fields.
bool nextCachedEntry(CachedRecord* record) {
  char enterprise[OVI_TRAP_FIELD_SIZE], traps[OVI_TRAP_FIELD_SIZE], oid[OVI_TRAP_FIELD_SIZE];
  bool read = ovi_get_trap_entry_from_file(enterprise, traps, oid) != 0;
  if (read) *record = {enterprise, traps, oid};
  return read;
}

// The reader's state, one per process.
struct TrapReader {
  FilePtr fp;  // the trap template file read line by line
  FileCache cache{ovi_open_trapfile_for_reading, nextCachedEntry};
  // The cursor: the entries of the selected file and the next one's index.
  const CachedRecords* selected = nullptr;
  size_t next = 0;
  std::vector<EnterpriseRecord> enterprises;  // sorted by name
};

TrapReader trap;

}  // namespace

int ovi_open_trapfile_for_reading(const char* name) { return ovi_open_data_file(name, &trap.fp); }

int ovi_close_trapfile_after_reading() {
  trap.fp.reset();
  return 1;
}

int ovi_get_trap_entry_from_file(char* enterprise, char* traps, char* oid) {
  char line[2057];
  if (trap.fp == nullptr || fgets(line, sizeof line, trap.fp.get()) == nullptr) return 0;
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

int ovi_add_trap_file_to_cache(const char* name) {
  if (name == nullptr || strcmp(name, "-") == 0) return 0;
  return trap.cache.add(name);
}

int ovi_open_trap_file(const char* name) {
  if (trap.cache.empty() && !ovi_add_trap_file_to_cache(name)) return -1;
  if (name == nullptr) return 1;
  const CachedRecords* entries = trap.cache.find(name);
  if (entries == nullptr) return 1;
  trap.selected = entries;
  trap.next = 0;
  return 0;
}

int ovi_get_trap_entry(char* enterprise, char* traps, char* oid) {
  if (trap.selected == nullptr || trap.next >= trap.selected->size()) return 0;
  const CachedRecord& e = (*trap.selected)[trap.next++];
  // Entries were cut to the field size when they were read.
  strcpy(enterprise, e[0].c_str());
  strcpy(traps, e[1].c_str());
  strcpy(oid, e[2].c_str());
  return 1;
}

void ovi_close_trap_file() { trap.selected = nullptr; }

int ovi_free_trap_file_cache(int value) {
  if (trap.cache.empty()) return 1;
  trap.cache.clear();
  trap.selected = nullptr;
  return value;
}

// --- The enterprise list ---

void free_enterprise_list_cache() {
  trap.enterprises.clear();
  trap.enterprises.shrink_to_fit();
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

// Inserts the record after every record whose name sorts before it or equals
// it, so that equal names keep file order.  Returns 0 when memory is short.
static int insert_record_into_cache(const EnterpriseRecord& record) {
  std::vector<EnterpriseRecord>& list = trap.enterprises;
  auto at = std::upper_bound(list.begin(), list.end(), record,
                             [](const EnterpriseRecord& a, const EnterpriseRecord& b) {
                               return strcasecmp(a.name, b.name) < 0;
                             });
  // The vector reports short memory by throwing; the list promises 0.
  try {
    list.insert(at, record);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  return 1;
}

static int outOfMemory(char* message) {
  if (message != nullptr) snprintf(message, 256, "Unable to Allocate Memory.\n");
  return 0;
}

int build_enterprise_list_cache(char* message) {
  std::string path = tessel_path((std::string(ovi_get_ovi_installation_base_dir()) +
                                  "/agents/enterprises.oid").c_str());
  FilePtr fp;
  if (tessel_open_text_file(path.c_str(), &fp) != 0) {
    if (message != nullptr) snprintf(message, 256, "Unable to open the file %s.\n", path.c_str());
    return 0;
  }
  free_enterprise_list_cache();

  char line[2048];
  while (fgets(line, sizeof line, fp.get()) != nullptr) {
    if (line[0] != '"') continue;
    EnterpriseRecord record;
    get_enterprise_record_from_entry(line, &record);
    if (!insert_record_into_cache(record)) return outOfMemory(message);
  }
  fp.reset();

  for (const char* label : {OVI_STANDARD_TRAPS, OVI_ALL_ENTERPRISE_TRAPS}) {
    EnterpriseRecord record;
    ovi_copy_cut(record.name, label, sizeof record.name - 1);
    record.oid[0] = '\0';
    if (!insert_record_into_cache(record)) return outOfMemory(message);
  }
  return 1;
}

const char* get_enp_name_from_index(unsigned int index) {
  return index < trap.enterprises.size() ? trap.enterprises[index].name : nullptr;
}

int get_index_from_enp_name(const char* name) {
  if (name == nullptr) return -1;
  for (size_t i = 0; i < trap.enterprises.size(); i++)
    if (strcmp(trap.enterprises[i].name, name) == 0) return static_cast<int>(i);
  return -1;
}

const char* get_oid_from_name(const char* name) {
  if (name == nullptr) return "";
  for (const EnterpriseRecord& r : trap.enterprises)
    if (strcmp(r.name, name) == 0) return r.oid;
  return "";
}
