// Data records of the protocol library: one datum of a report or request,
// an event datum with its threshold, the error/status record of a reply and
// the summary of a message.
#ifndef PLATFORM_TESSEL_TESSEL_TYPES_H_
#define PLATFORM_TESSEL_TESSEL_TYPES_H_

#include <stdint.h>

// Type codes of a datum.  The value of a datum is held in host form:
//   1 short, 2 unsigned short              (length 2)
//   3 int, 5 long, 14 enum, 15 int32       (length 4, signed)
//   4 unsigned, 6 unsigned long, 20-22     (length 4, unsigned)
//   7 float (4), 8 double (8)
//   9 text, 10 and 16 octets, 23 opaque    (any length; a NUL follows the
//                                           bytes of a decoded value)
//   11, 18, 19 IPv4 address                (length 4, network byte order)
//   12 two signed 32-bit values            (length 8)
//   13 time in seconds                     (length 4 or 8, signed)
//   17 object identifier                   (4 bytes a sub-identifier)
enum TesselType {
  TESSEL_SHORT = 1, TESSEL_USHORT = 2, TESSEL_INT = 3, TESSEL_UINT = 4,
  TESSEL_LONG = 5, TESSEL_ULONG = 6, TESSEL_FLOAT = 7, TESSEL_DOUBLE = 8,
  TESSEL_STRING = 9, TESSEL_OCTETS = 10, TESSEL_IPADDR = 11, TESSEL_PAIR = 12,
  TESSEL_TIME = 13, TESSEL_ENUM = 14, TESSEL_INT32 = 15, TESSEL_HEX = 16,
  TESSEL_OID = 17, TESSEL_IPADDR2 = 18, TESSEL_IPADDR3 = 19, TESSEL_COUNTER = 20,
  TESSEL_GAUGE = 21, TESSEL_TICKS = 22, TESSEL_OPAQUE = 23,
};
enum { TESSEL_TYPE_MAX = 23 };

// Message types.
enum TesselMsgType {
  TESSEL_MSG_TRAP_V1 = 2, TESSEL_MSG_EVENT = 4, TESSEL_MSG_ERROR = 5,
  TESSEL_MSG_ACTION = 6, TESSEL_MSG_TRAP = 12,
};

// Name of the datum that ends every argument list.  It carries type 0 and no
// value, and is the only datum that may have type 0.
extern const char* const TESSEL_ENDOFARGS;  // "tessel_endofargs"

enum { TESSEL_NAME_SIZE = 128 };

// One datum.  After a fetch, `value` points into storage of the message it
// was fetched from and stays valid until that message is destroyed.
struct Tessel_data {
  char name[TESSEL_NAME_SIZE];
  uint32_t type;
  uint32_t length;
  void* value;
};

// An event datum: a datum with an optional threshold.  relationalOp 0 means
// no threshold; otherwise `threshold` points to a value of the same type and
// length and `priority` is the event's priority (1 low, 2 med, 3 high).
struct Tessel_event : Tessel_data {
  int relationalOp;
  void* threshold;
  int priority;
};

// The status of a request as its reply carries it, and the content of an
// error report.  status 0 means accepted.
struct Tessel_error {
  int status;
  int code;
  int index;
  char message[256];
};

// Summary of a message (tessel_fetch_msginfo).
struct Tessel_msginfo {
  uint32_t type;
  int32_t priority;
  uint32_t agentProg;
  uint32_t agentVers;
  uint32_t flags;
  uint32_t arglistLength;
  char host[128];
  char group[128];
  char system[64];
  char key[64];
};

#endif  // PLATFORM_TESSEL_TESSEL_TYPES_H_
