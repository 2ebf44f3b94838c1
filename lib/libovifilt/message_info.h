// The classification of the report being forwarded, which the filter
// look-ups hand to the report-class and trap predicate.  It lives in the
// caller's frame for one report; nothing in it is owned.
#ifndef LIB_LIBOVIFILT_MESSAGE_INFO_H_
#define LIB_LIBOVIFILT_MESSAGE_INFO_H_

#include <stdint.h>

#include "tessel/tessel_oid.h"

// Report classes.  Event, trap and glyph-state trap are the bits of a filter
// record's class selector; a database-manager trap is accepted by every
// selector.
enum {
  OVI_CLASS_EVENT = 1,
  OVI_CLASS_TRAP = 2,
  OVI_CLASS_DBMGR_TRAP = 4,  // a trap of agent program 100110
  OVI_CLASS_GLYPH_TRAP = 8,
};

// Trap types.
enum { OVI_TRAP_GENERIC = 1, OVI_TRAP_ENTERPRISE = 2 };

// Room for the dotted text of any object identifier the protocol carries.
enum { OVI_ENTERPRISE_SIZE = TESSEL_OID_MAX_SUBIDS * 11 + 1 };

struct OVI_MessageInfo {
  int16_t reportClass;  // one of OVI_CLASS_*
  int32_t trapType;     // OVI_TRAP_*; read only for reportClass 2
  int32_t trapNumber;   // the trap's specific number; only for reportClass 2
  char enterprise[OVI_ENTERPRISE_SIZE];  // dotted enterprise identifier
};

#endif  // LIB_LIBOVIFILT_MESSAGE_INFO_H_
