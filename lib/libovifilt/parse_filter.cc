#include "parse_filter.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>

#include <new>
#include <string>

#include "data_file.h"
#include "parse_dbtmpl.h"
#include "parse_trap.h"
#include "tessel/tessel_config.h"
#include "tessel/tessel_oid.h"
#include "tokenizer.h"
#include "trap_limits.h"

static const char* const relop[] = {
    "No Operator",
    "Equal To",
    "Not Equal To",
    "Less Than",
    "Less Than Or Equal To ",
    "Greater Than ",
    "Greater Than Or Equal To ",
    "Changed ",
    "Increased By ",
    "Decreased By ",
    "Increased By More Than ",
    "Increased By Less Than ",
    "Decreased By More Than ",
    "Decreased By Less Than ",
    "Trap ",
};

const char* relop2str(unsigned int op) {
  return op < sizeof relop / sizeof relop[0] ? relop[op] : "unknown operator";
}

const char* prio2str(unsigned int priority) {
  if (priority <= 1) return "low";
  return priority == 2 ? "med" : "high";
}

// Values come from decoded messages and caller buffers of any alignment.
template <typename T>
static T load(const void* value) {
  T v;
  memcpy(&v, value, sizeof v);
  return v;
}

// Integer types by code: 1 short, 2 unsigned short, 3 5 14 15 long, 4 6 20
// 21 22 unsigned long.  False for any other type.
static bool loadInteger(unsigned int type, const void* value, long long* out) {
  switch (type) {
    case 1: *out = load<int16_t>(value); return true;
    case 2: *out = load<uint16_t>(value); return true;
    case 3: case 5: case 14: case 15: *out = load<int32_t>(value); return true;
    case 4: case 6: case 20: case 21: case 22: *out = load<uint32_t>(value); return true;
    default: return false;
  }
}

char* value2str(unsigned int type, const void* value, unsigned int length) {
  static char text[256];
  memset(text, 0, sizeof text);
  if (!value2str_has_text(type)) return nullptr;
  if (value == nullptr) return text;
  const unsigned char* bytes = static_cast<const unsigned char*>(value);
  long long integer;
  if (loadInteger(type, value, &integer)) {
    snprintf(text, sizeof text, "%lld", integer);
    return text;
  }
  switch (type) {
    case 7: case 8:  // float, double
      snprintf(text, sizeof text, "%f", type == 7 ? load<float>(value) : load<double>(value));
      break;
    case 9: {
      size_t n = strnlen(static_cast<const char*>(value), length);
      if (n > sizeof text - 1) n = sizeof text - 1;
      memcpy(text, value, n);
      break;
    }
    case 10: case 16: {
      // Cut at 255 characters like every other text, even within a byte.
      static const char hex[] = "0123456789abcdef";
      size_t n = 0;
      for (unsigned int i = 0; i < length && n < sizeof text - 1; i++) {
        text[n++] = hex[bytes[i] >> 4];
        if (n < sizeof text - 1) text[n++] = hex[bytes[i] & 15];
      }
      break;
    }
    case 11: case 18: case 19:
      snprintf(text, sizeof text, "%s", inet_ntoa(load<struct in_addr>(value)));
      break;
    case 12:
      snprintf(text, sizeof text, "%d.%d", load<int32_t>(bytes), load<int32_t>(bytes + 4));
      break;
    case 13: {
      time_t t = length == 8 ? static_cast<time_t>(load<int64_t>(value))
                             : static_cast<time_t>(load<int32_t>(value));
      char buf[64];
      snprintf(text, sizeof text, "%s", ctime_r(&t, buf) != nullptr ? buf : "");
      break;
    }
    case 17:
      snprintf(text, sizeof text, "%s", tessel_oid2string(length, value));
      break;
  }
  return text;
}

// --- Records and the cache ---

namespace {

// The reader's state, one per process.
struct FilterReader {
  FilePtr fp;   // the filter file, or the file read uncached
  int fd = -1;  // the descriptor under fp, for the open file's status; closed with it
  // The cached records in file order, owned through their links.
  FilterEntry* first = nullptr;
  FilterEntry* last = nullptr;
  time_t modified = 0;  // modification time of the file the cache was built from
  // What failed first while the cache was last built; static text.
  const char* failure = nullptr;
  // The names each open received last (1024 bytes; longer names are not supported).
  char openName[1024] = "";
  char openWithMsgName[1024] = "";
  // Set once the process works in rounds of look-ups
  // (ovi_filter_new_round); `checked` then says that the open file's status
  // was read in the current round and needs no second reading in it.
  bool inRounds = false;
  bool checked = false;
  FilterEntry hostSlot;     // ovi_gethost's result
  FilterEntry defaultSlot;  // ovi_getdefault's result
  char* baseDir = nullptr;  // the installation base directory once found
};

FilterReader filter;

}  // namespace

FilterEntry::~FilterEntry() {
  free(keyword);
  free(target);
  free(filterPriority);
  free(newPriority);
  free(action);
  free(dbTemplateFile);
  free(reportClasses);
  free(trapTemplateFile);
}

// The eight fields in file order.
static char* FilterEntry::*const kFields[OVI_FILTER_FIELDS] = {
    &FilterEntry::keyword,     &FilterEntry::target,         &FilterEntry::filterPriority,
    &FilterEntry::newPriority, &FilterEntry::action,         &FilterEntry::dbTemplateFile,
    &FilterEntry::reportClasses, &FilterEntry::trapTemplateFile,
};

static void clearFields(FilterEntry* e) {
  for (auto field : kFields) {
    free(e->*field);
    e->*field = nullptr;
  }
}

// Fills the eight texts of e with copies of texts (freeing what e held).
// Returns 1, or 0 when memory is short (e then holds no texts).
static int setFields(FilterEntry* e, const char* const texts[OVI_FILTER_FIELDS]) {
  clearFields(e);
  for (int i = 0; i < OVI_FILTER_FIELDS; i++) {
    if ((e->*kFields[i] = strdup(texts[i])) == nullptr) {
      clearFields(e);
      return 0;
    }
  }
  return 1;
}

static int copyEntry(FilterEntry* slot, const FilterEntry* e) {
  const char* texts[OVI_FILTER_FIELDS];
  for (int i = 0; i < OVI_FILTER_FIELDS; i++) texts[i] = e->*kFields[i];
  return setFields(slot, texts);
}

int getFilterLine(char* const fields[OVI_FILTER_FIELDS]) {
  for (int i = 0; i < OVI_FILTER_FIELDS; i++) {
    int end = getTokenField(filter.fp.get(), fields[i], OVI_FILTER_FIELD_SIZE - 1);
    // Nothing but blank lines and comments before the end: no record, even
    // though the newline last read leaves the end-of-record flag set.
    if (i == 0 && fields[0][0] == '\0' && getTokenEof()) return -1;
    if (i == OVI_FILTER_FIELDS - 1) break;
    if (end == 1) {
      for (int j = i + 1; j < OVI_FILTER_FIELDS; j++) fields[j][0] = '\0';
      return 1;
    }
    if (end == -1) return -1;
  }
  return 0;
}

int ovi_getLine(char* const fields[OVI_FILTER_FIELDS]) { return getFilterLine(fields); }

const FilterEntry* ovi_filter_cache() { return filter.first; }

void free_filter_file_cache() {
  while (FilterEntry* e = filter.first) {
    filter.first = e->next;
    delete e;
  }
  filter.last = nullptr;
  ovi_free_trap_file_cache(1);
  ovi_free_db_file_cache();
}

// Reads the template files a new record names, noting the first that fails.
static void addTemplates(const FilterEntry* e) {
  // The template readers share the tokenizer; the filter file's end-of-file
  // flag must survive their reads.
  int eof = getTokenEof();
  if (strcmp(e->trapTemplateFile, "-") != 0 && !ovi_add_trap_file_to_cache(e->trapTemplateFile) &&
      filter.failure == nullptr)
    filter.failure = "trap template file";
  if (!ovi_add_db_file_to_cache(e->dbTemplateFile) && filter.failure == nullptr)
    filter.failure = "db template file";
  setTokenEof(eof);
}

void build_filter_file_cache() {
  if (filter.fp == nullptr) return;
  rewind(filter.fp.get());
  setTokenEof(0);
  char buffers[OVI_FILTER_FIELDS][1024];
  char* fields[OVI_FILTER_FIELDS];
  for (int i = 0; i < OVI_FILTER_FIELDS; i++) fields[i] = buffers[i];
  while (getFilterLine(fields) != -1) {
    const char* texts[OVI_FILTER_FIELDS];
    for (int i = 0; i < OVI_FILTER_FIELDS; i++) texts[i] = fields[i];
    if (texts[6][0] == '\0') texts[6] = "all";
    if (texts[7][0] == '\0') texts[7] = "-";
    FilterEntry* e = new (std::nothrow) FilterEntry;
    if (e == nullptr || !setFields(e, texts)) {
      delete e;  // short of memory: the daemon has no better recovery
      return;
    }
    addTemplates(e);
    (filter.first == nullptr ? filter.first : filter.last->next) = e;
    filter.last = e;
  }
}

void ovi_closefilter() {
  filter.fp.reset();
  if (filter.first != nullptr) {
    free_filter_file_cache();
    filter.modified = 0;
  }
}

// Steps shared by the two opens, after the name check: open the file if it is
// not open, read its status, rebuild the cache when it is newer.
static int openAndRefresh(const char* name) {
  if (filter.fp == nullptr) {
    filter.checked = false;  // a file opened anew is read anew
    int err = ovi_open_data_file(name, &filter.fp, &filter.fd);
    if (err != 0) return err;
  }
  if (!filter.checked) {
    // The open file may have grown past the bound since it was opened.
    struct stat st;
    int err = tessel_check_text_file(filter.fd, &st);
    if (err != 0) return err;
    if (filter.modified < st.st_mtime) {
      free_filter_file_cache();
      build_filter_file_cache();
      filter.modified = st.st_mtime;
    }
    filter.checked = filter.inRounds;
  }
  setTokenEof(0);
  return 0;
}

void ovi_filter_new_round() {
  filter.inRounds = true;
  filter.checked = false;
}

// A new name closes the filter and forgets its time.  `remembered` holds
// 1024 bytes; a longer name is not supported.
static void checkName(const char* name, char* remembered) {
  if (strcmp(name, remembered) == 0) return;
  ovi_closefilter();
  filter.modified = 0;
  snprintf(remembered, 1024, "%s", name);
}

int ovi_openfilter(const char* name) {
  if (name == nullptr) name = "";
  checkName(name, filter.openName);
  return openAndRefresh(name);
}

int ovi_openfilter_with_msg(const char* name, char* message) {
  if (name == nullptr) name = "";
  checkName(name, filter.openWithMsgName);
  filter.failure = nullptr;
  int err = openAndRefresh(name);
  if (err != 0) filter.failure = "filter file";
  if (filter.failure == nullptr) return 0;
  if (message != nullptr) snprintf(message, 256, "%s", filter.failure);
  return err != 0 ? err : 1;
}

static const FilterEntry* lookUp(FilterEntry* slot, const char* target, const char* keyword,
                                 const OVI_MessageInfo* info) {
  clearFields(slot);
  if (keyword == nullptr || keyword[0] == '\0' || (target != nullptr && target[0] == '\0'))
    return nullptr;
  if (filter.fp == nullptr) return nullptr;
  for (const FilterEntry* e = filter.first; e != nullptr; e = e->next) {
    if (strcasecmp(e->keyword, keyword) != 0) continue;
    if (target != nullptr && strcasecmp(e->target, target) != 0) continue;
    if (!pass_event_or_trap(e->reportClasses, e->trapTemplateFile, info)) continue;
    return copyEntry(slot, e) ? slot : nullptr;
  }
  return nullptr;
}

const FilterEntry* ovi_gethost(const char* target, const char* keyword, const OVI_MessageInfo* info) {
  if (target == nullptr) {
    clearFields(&filter.hostSlot);
    return nullptr;
  }
  return lookUp(&filter.hostSlot, target, keyword, info);
}

const FilterEntry* ovi_getdefault(const char* keyword, const OVI_MessageInfo* info) {
  return lookUp(&filter.defaultSlot, nullptr, keyword, info);
}

int ovi_open_uncached_filter(const char* name) {
  filter.checked = false;
  return openTokenFile(name, &filter.fp, &filter.fd);
}

void ovi_close_uncached_filter() { filter.fp.reset(); }

// --- The installation base directory ---

const char* ovi_get_ovi_installation_base_dir() {
  static const char kDefault[] = "/opt/ZEPHline/orx";
  if (filter.baseDir != nullptr) return filter.baseDir;
  FilePtr fp;
  if (tessel_open_text_file(tessel_path("/etc/inetd.conf").c_str(), &fp) != 0) return kDefault;
  char line[1024];
  while (fgets(line, sizeof line, fp.get()) != nullptr) {
    if (strstr(line, "ovi_sender") == nullptr) continue;
    const char* path = strstr(line, "/orx/agents/ovi_sender");
    if (path == nullptr) return kDefault;
    const char* start = path;
    while (start > line && start[-1] != ' ' && start[-1] != '\t') start--;
    filter.baseDir = strndup(start, static_cast<size_t>(path - start) + strlen("/orx"));
    return filter.baseDir != nullptr ? filter.baseDir : kDefault;
  }
  return kDefault;
}
