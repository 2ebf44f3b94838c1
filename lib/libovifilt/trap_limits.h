// Whether a filter record applies to a report: its report classes and, for a
// trap, the trap numbers of its trap template file.
#ifndef LIB_LIBOVIFILT_TRAP_LIMITS_H_
#define LIB_LIBOVIFILT_TRAP_LIMITS_H_

#include <stdint.h>

#include "message_info.h"

// The two pseudo-enterprise labels of trap template entries.
extern const char OVI_STANDARD_TRAPS[];        // "---Standard Traps---------"
extern const char OVI_ALL_ENTERPRISE_TRAPS[];  // "---All Enterprise Traps------"

// One range of trap numbers, both bounds inclusive.
struct TrapRange {
  int16_t lower;
  int16_t upper;
};

// Most ranges a trap-number list yields; later ones are ignored.
enum { OVI_MAX_TRAP_RANGES = 80 };

// Class mask of a record's selector, compared whole and without regard to
// case: "all" 11, "events" 1, "traps" 2, "glyphs" 8, "events,traps" 3,
// "events,glyphs" 9, "traps,glyphs" 10; any other text (or null) 0.
int decide_event_or_trap(const char* selector);

// 1 when the label is the standard-traps (resp. all-enterprise-traps) label,
// compared without regard to case; else 0.
int is_standard_trap(const char* label);
int is_all_enterprise_traps(const char* label);

// Ranges of a trap-number list.  Every non-digit separates; a number followed
// by optional blanks, "-" and directly a run of digits is a range, a lone
// number a range of itself; "-" not directly followed by digits gives the
// upper bound 0.  Bounds keep their low 16 bits as signed values (numbers
// above 32767 wrap); a run of more than 11 digits counts its first 11.
// Returns a malloc'd vector of OVI_MAX_TRAP_RANGES ranges that the caller
// frees with free(), with the number used in *count; null when memory is
// short.
TrapRange* make_trap_limits(const char* text, int* count);

// 1 when number lies within the list: "All" or "-" (any case), a list
// without any range and a null list hold every number.  Else 0.
int is_trap_no_okay(int32_t number, const char* list);

// 1 when a record with this class selector and trap template file applies
// to the report, else 0.  Database-manager traps always apply; a record
// applies to an event report or glyph-state trap by its selector alone; for a
// trap the trap template file, when it names one, must list it: generic
// traps under the standard-traps label, other traps under the
// all-enterprise-traps label or an entry whose identifier is the trap's
// enterprise.  Moves the trap template file cursor (parse_trap.h).
int pass_event_or_trap(const char* selector, const char* trapFile, const OVI_MessageInfo* info);

#endif  // LIB_LIBOVIFILT_TRAP_LIMITS_H_
