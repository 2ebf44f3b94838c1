#include "attribute.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "log.h"
#include "parse_filter.h"
#include "parser_driver.h"
#include "tessel/tessel_config.h"
#include "tessel/tessel_file.h"

const char schema_path_keyword[] = "qm.snmp.schemas";

namespace {

const size_t kEnumNameMax = 79;
const size_t kNameMax = 64;

// The tables, in reading order.  Elements are heap blocks so that pointers
// handed out (and EnumAttribute::values) stay valid as the tables grow.
std::vector<std::unique_ptr<EnumValues>> enumValuesList;
std::vector<std::unique_ptr<EnumAttribute>> enumList;
std::vector<std::unique_ptr<AttrList>> attrList;
EnumValues* activeEnumValues = nullptr;
AttrList* active = nullptr;

// The file db_load is reading, for db_stdio_getchar, and the callback
// arguments it was given (kept, not used).
FILE* loading = nullptr;
db_callback db_callback_arg = nullptr;
db_callback db_reccallback_arg = nullptr;

std::string cut(const char* text, size_t max) {
  return std::string(text, strnlen(text, max));
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

// The directories of "qm.snmp.schemas", empty names skipped.  Returns 0 when
// the entry is missing or names no directory.
int schemaDirectories(std::vector<std::string>* dirs) {
  const char* value = tessel_getConfig(schema_path_keyword);
  if (value == nullptr) return 0;
  char buffer[1024];
  snprintf(buffer, sizeof buffer, "%s", value);
  char* save = nullptr;
  for (char* dir = strtok_r(buffer, ":", &save); dir != nullptr; dir = strtok_r(nullptr, ":", &save))
    dirs->push_back(dir);
  return dirs->empty() ? 0 : 1;
}

// Passes every entry of dir to process_schema, in byte order of the names so
// that which of two equal definitions wins does not depend on the file system.
// 0 (with errno) when the directory cannot be opened.
int processDirectory(const std::string& dir) {
  std::vector<std::string> names;
  {
    std::unique_ptr<DIR, DirCloser> d(opendir(dir.c_str()));
    if (!d) return 0;
    while (struct dirent* e = readdir(d.get())) names.push_back(e->d_name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) process_schema(dir.c_str(), name.c_str());
  return 1;
}

// Reads a configured schema directory and the record layouts beside it.
// 0 (with errno) when the configured directory itself cannot be opened.
int readSchemaDirectory(const std::string& fixedDir) {
  std::string dir = tessel_path(fixedDir.c_str());
  std::string structDir = dir + "/../struct";
  std::string glue = structDir + "/orx.glue";
  if (access(glue.c_str(), F_OK) == 0) do_parse(glue.c_str(), nullptr);
  processDirectory(structDir);
  return processDirectory(dir);
}

const char* listingProgram = "";

void reportSyntaxError(const char* message) {
  fprintf(stderr, "%s: %s:%d: %s\n", listingProgram, dbparse_getFilename(), dbparse_getlineno(),
          message);
}

}  // namespace

void build_attribute_lists(void) {
  std::vector<std::string> dirs;
  if (!schemaDirectories(&dirs)) {
    ovi_startFailed("error in orx.conf, please check the %s entry", schema_path_keyword);
    syslog(LOG_ERR, "ovi_sender : error in orx.conf,  please check the qm.snmp.schemas entry");
    exit(1);
  }
  for (const std::string& dir : dirs) readSchemaDirectory(dir);
}

void process_schema(const char* dir, const char* entry) {
  const char* suffix = strrchr(entry, '.');
  if (suffix == nullptr || strcmp(suffix, ".schema") != 0) return;
  std::string path = std::string(dir) + "/" + entry;
  do_parse(path.c_str(), nullptr);
}

int process_file(const char* path, db_callback callback) {
  ovi_trace(3, "Processing %s\n", path);
  const char* slash = strrchr(path, '/');
  if (strcmp(slash != nullptr ? slash + 1 : path, "SCCS") == 0) return 0;
  return db_load(path, callback, nullptr);
}

int do_parse(const char* path, db_callback callback) { return process_file(path, callback); }

int db_load(const char* path, db_callback callback, db_callback reccallback) {
  db_callback_arg = callback;
  db_reccallback_arg = reccallback;
  FilePtr file;
  if (tessel_open_text_file(path, &file) != 0) return 1;
  loading = file.get();
  int result = dbparse_schema(db_stdio_getchar, path);
  loading = nullptr;
  return result;
}

int db_stdio_getchar(void) {
  if (loading == nullptr) return -1;
  int c = getc(loading);
  return c == EOF ? -1 : c;
}

int dbparse_newAgent(const char*, int) { return 1; }
int dbparse_endAgent(void) { return 1; }
int dbparse_newGroup(const char*, int) { return 1; }
int dbparse_endGroup(void) { return 1; }
int dbparse_newAgentError(int, const char*) { return 1; }
int dbparse_newNamespace(const char*) { return 1; }
int dbparse_endEnumeration(const char*, int) { return 1; }
int dbparse_endRecord(void) { return 1; }
int dbparse_newInstance(const char*) { return 1; }
int dbparse_beginInstanceFields(void) { return 1; }
int dbparse_nextInstanceField(const char*) { return 1; }
int dbparse_endInstanceFields(void) { return 1; }
int dbparse_storeInstance(void) { return 1; }
int dbparse_endInstance(void) { return 1; }
int dbparse_beginCluster(void) { return 1; }
int dbparse_beginClusterRec(const char*) { return 1; }
int dbparse_endClusterRec(void) { return 1; }
int dbparse_endCluster(void) { return 1; }

int dbparse_beginEnumeration(const char* enumName, int) {
  enumValuesList.push_back(std::make_unique<EnumValues>());
  activeEnumValues = enumValuesList.back().get();
  activeEnumValues->name = cut(enumName, kEnumNameMax);
  return 1;
}

int dbparse_nextEnumeration(int value, const char* name) {
  if (activeEnumValues != nullptr && activeEnumValues->count() < kSchemaMaxEntries)
    activeEnumValues->entries.push_back({value, name});
  return 1;
}

int dbparse_newAttribute(const char* name, int, int, const char* enumName, int) {
  if (enumName == nullptr) return 1;
  // Looked up now: an enumeration read later is never linked.
  enumList.push_back(std::make_unique<EnumAttribute>(EnumAttribute{cut(name, kNameMax),
                                                                   getAttrValues(enumName)}));
  return 1;
}

int dbparse_newRecord(const char* name) {
  attrList.push_back(std::make_unique<AttrList>());
  active = attrList.back().get();
  active->name = cut(name, kNameMax);
  return 1;
}

int dbparse_newField(const char* name, int type, int, const char*) {
  if (active != nullptr && active->count() < kSchemaMaxEntries) {
    active->types.push_back(type);
    active->names.push_back(name);
  }
  return 1;
}

const EnumValues* getAttrValues(const char* enumName) {
  if (enumName == nullptr) return nullptr;
  for (const auto& e : enumValuesList)
    if (e->name == enumName) return e.get();
  return nullptr;
}

const AttrList* getAttributes(const char* recordName) {
  if (recordName == nullptr) return nullptr;
  for (const auto& a : attrList)
    if (a->name == recordName) return a.get();
  return nullptr;
}

const char* translateEnum(const char* attribute, int value) {
  if (attribute == nullptr) return value2str(14, &value, sizeof value);
  ovi_trace(1, "Looking for attribute %s, value %d\n", attribute, value);
  for (const auto& attr : enumList) {
    ovi_trace(1, "Attribute: %s\n", attr->name.c_str());
    if (attr->name != attribute) continue;
    if (attr->values == nullptr) return nullptr;
    const std::vector<EnumValues::Entry>& entries = attr->values->entries;
    for (const EnumValues::Entry& entry : entries) {
      if (entry.value != value) continue;
      ovi_trace(1, "\tValue %d is %s\n", value, entry.name.c_str());
      ovi_trace(1, "\tTotal number %d, last value %s\n", attr->values->count(),
                entries.back().name.c_str());
      return entry.name.c_str();
    }
    return nullptr;
  }
  return value2str(14, &value, sizeof value);
}

void list_all_enum_values(void) {
  for (const auto& attr : enumList) {
    printf("Object: %s\n", attr->name.c_str());
    if (attr->values == nullptr) continue;
    for (int i = 0; i < attr->values->count(); i++)
      printf("\t%d:%s\n", i, attr->values->entries[i].name.c_str());
  }
}

void list_all_attributes(void) {
  for (const auto& record : attrList) {
    printf("Object: %s\n", record->name.c_str());
    for (int i = 0; i < record->count(); i++)
      printf("\t%d:%s\n", record->types[i], record->names[i].c_str());
  }
}

void free_attribute_lists(void) {
  enumList.clear();
  enumValuesList.clear();
  attrList.clear();
  activeEnumValues = nullptr;
  active = nullptr;
}

int list_schema_tables(const char* progname) {
  std::vector<std::string> dirs;
  if (!schemaDirectories(&dirs)) {
    fprintf(stderr, "%s: error in orx.conf, please check the %s entry\n", progname,
            schema_path_keyword);
    return 0;
  }
  free_attribute_lists();
  listingProgram = progname;
  dbparse_error_hook previous = dbparse_setErrorHook(reportSyntaxError);
  int opened = 1;
  for (const std::string& dir : dirs) {
    if (readSchemaDirectory(dir)) continue;
    fprintf(stderr, "%s: cannot open schema directory %s: %s\n", progname,
            tessel_path(dir.c_str()).c_str(), strerror(errno));
    opened = 0;
  }
  dbparse_setErrorHook(previous);
  list_all_enum_values();
  list_all_attributes();
  fflush(stdout);
  return opened;
}
