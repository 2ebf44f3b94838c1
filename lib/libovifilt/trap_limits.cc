#include "trap_limits.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>

#include "parse_trap.h"

const char OVI_STANDARD_TRAPS[] = "---Standard Traps---------";
const char OVI_ALL_ENTERPRISE_TRAPS[] = "---All Enterprise Traps------";

int decide_event_or_trap(const char* selector) {
  static const struct {
    const char* text;
    int mask;
  } selectors[] = {
      {"all", 11},          {"events", 1},        {"traps", 2},         {"glyphs", 8},
      {"events,traps", 3},  {"events,glyphs", 9}, {"traps,glyphs", 10},
  };
  if (selector == nullptr) return 0;
  for (const auto& s : selectors)
    if (strcasecmp(selector, s.text) == 0) return s.mask;
  return 0;
}

int is_standard_trap(const char* label) {
  return label != nullptr && strcasecmp(label, OVI_STANDARD_TRAPS) == 0;
}

int is_all_enterprise_traps(const char* label) {
  return label != nullptr && strcasecmp(label, OVI_ALL_ENTERPRISE_TRAPS) == 0;
}

static bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the run of digits at *p into a bound and moves *p past the whole run.
static int16_t readBound(const char** p) {
  uint64_t value = 0;
  int digits = 0;
  for (; isDigit(**p); (*p)++)
    if (digits++ < 11) value = value * 10 + static_cast<uint64_t>(**p - '0');
  return static_cast<int16_t>(static_cast<uint16_t>(value & 0xffff));
}

TrapRange* make_trap_limits(const char* text, int* count) {
  *count = 0;
  TrapRange* ranges = static_cast<TrapRange*>(calloc(OVI_MAX_TRAP_RANGES, sizeof(TrapRange)));
  if (ranges == nullptr) return nullptr;
  const char* p = text != nullptr ? text : "";
  while (*count < OVI_MAX_TRAP_RANGES) {
    while (*p != '\0' && !isDigit(*p)) p++;
    if (*p == '\0') break;
    TrapRange& r = ranges[*count];
    r.lower = readBound(&p);
    while (isspace(static_cast<unsigned char>(*p))) p++;
    if (*p == '-') {
      p++;
      r.upper = readBound(&p);  // no digits right after the dash: 0
    } else {
      r.upper = r.lower;
    }
    ++*count;
  }
  return ranges;
}

int is_trap_no_okay(int32_t number, const char* list) {
  if (list != nullptr && (strcasecmp(list, "All") == 0 || strcmp(list, "-") == 0)) return 1;
  int count;
  std::unique_ptr<TrapRange, decltype(&free)> ranges(make_trap_limits(list, &count), &free);
  if (ranges == nullptr || count == 0) return 1;
  for (int i = 0; i < count; i++) {
    const TrapRange& r = ranges.get()[i];
    if (r.lower <= number && r.upper >= number) return 1;
  }
  return 0;
}

int pass_event_or_trap(const char* selector, const char* trapFile, const OVI_MessageInfo* info) {
  if (info == nullptr) return 0;
  const int cls = info->reportClass;
  if (cls & OVI_CLASS_DBMGR_TRAP) return 1;
  if ((decide_event_or_trap(selector) & cls) == 0) return 0;
  if (strcasecmp(selector, "all") == 0 && (cls & OVI_CLASS_TRAP) == 0) return 1;
  if (trapFile == nullptr || trapFile[0] == '\0' || strcmp(trapFile, "-") == 0) return 1;
  if (cls != OVI_CLASS_TRAP) return 1;
  if (ovi_open_trap_file(trapFile) != 0) return 0;

  char label[OVI_TRAP_FIELD_SIZE], traps[OVI_TRAP_FIELD_SIZE], oid[OVI_TRAP_FIELD_SIZE];
  const bool generic = (info->trapType & OVI_TRAP_GENERIC) != 0;
  while (ovi_get_trap_entry(label, traps, oid)) {
    bool considered = generic ? is_standard_trap(label)
                              : is_all_enterprise_traps(label) ||
                                    strncmp(oid, info->enterprise, sizeof info->enterprise) == 0;
    // The cursor stays on a match; the next selection resets it.
    if (considered && is_trap_no_okay(info->trapNumber, traps)) return 1;
  }
  ovi_close_trap_file();
  return 0;
}
