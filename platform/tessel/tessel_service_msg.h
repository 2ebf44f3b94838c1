// One management message: a report (event, error, trap) or an action request.
//
// The first 600 bytes of the object are its image: they may be copied byte
// for byte into another process and restored into a freshly constructed
// message there.  The image holds the client slot (a byte copy of the
// TesselClient a delivery goes through), three buffer descriptors whose
// addresses are valid only in the process that set them (a receiver must
// point them anew with setBuffer before using them), the header fields, and
// in its last four bytes arglistLength, the length of the encoded argument
// list in native byte order.
//
// The argument data are an encoded argument list (tessel_codec.h) in the
// block argData describes: bytes [0, arglistLength) hold the data and the end
// marker; argData.position is where the next datum goes, just before the end
// marker.  putData (tessel_generic.h) grows the block when needed into storage
// the message owns.  Blocks set with setBuffer stay owned by whoever set them.
#ifndef PLATFORM_TESSEL_TESSEL_SERVICE_MSG_H_
#define PLATFORM_TESSEL_TESSEL_SERVICE_MSG_H_

#include <stddef.h>
#include <stdint.h>

#include "tessel/tessel_buffer.h"

class TesselArena;

enum { TESSEL_CLIENT_SLOT = 44, TESSEL_MSG_IMAGE = 600 };
enum { TESSEL_HOST_SIZE = 128, TESSEL_GROUP_SIZE = 128, TESSEL_SYSTEM_SIZE = 64,
       TESSEL_KEY_SIZE = 64 };

#pragma pack(push, 4)
class TesselServiceMsg {
 public:
  TesselServiceMsg();
  ~TesselServiceMsg();
  TesselServiceMsg(const TesselServiceMsg&) = delete;
  TesselServiceMsg& operator=(const TesselServiceMsg&) = delete;

  // The 600-byte image, for copying out and restoring.
  unsigned char* image() { return reinterpret_cast<unsigned char*>(this); }
  const unsigned char* image() const { return reinterpret_cast<const unsigned char*>(this); }

  // Sets the header text fields, cutting them to their widths.
  void setHost(const char* text);
  void setGroup(const char* text);
  void setSystem(const char* text);
  void setKey(const char* text);

  // Empties the argument data: only the end marker remains.  Returns 0 when
  // memory is short.
  int clearData();

  // Makes room for `extra` more bytes after argData.position and before the
  // end marker; returns 0 when memory is short or the list would exceed the
  // library's limit.  Used by the writers of the argument data.
  int reserve(uint32_t extra);

  // Takes over a malloc'ed block holding a complete argument list of `length`
  // bytes (the end marker last).  The message frees it.
  void adoptData(char* block, uint32_t length);

  // Where decoded values of this message are kept (created on first use).
  TesselArena* arena();

  // ---- the image ----
  int32_t status;                          // 0: constructed
  uint32_t magic;                          // TESSEL_MSG_MAGIC
  unsigned char client[TESSEL_CLIENT_SLOT];  // byte copy of a TesselClient
  TesselBuffer argData;                    // encoded argument list
  TesselBuffer work1;                      // first work buffer
  TesselBuffer work2;                      // second work buffer
  uint32_t flags;                          // action flags; 0x200 on a report: last of a series
  uint32_t count;                          // reporting count
  int32_t intervalSec;                     // reporting interval
  int32_t intervalUsec;
  uint32_t agentVers;                      // version of the sending agent's program
  int32_t timeSec;                         // when the message was made
  int32_t timeUsec;
  uint32_t reserved0;
  uint32_t type;                           // 2, 12 trap; 4 event; 5 error; 6 action request
  uint32_t reserved1[2];
  int32_t priority;                        // 0 none, 1 low, 2 med, 3 high
  uint32_t reserved2[2];
  uint32_t agentProg;                      // program number of the sending agent
  uint32_t reserved3[10];
  char host[TESSEL_HOST_SIZE];             // host the report is about / comes from
  char group[TESSEL_GROUP_SIZE];           // schema group
  char system[TESSEL_SYSTEM_SIZE];         // target system
  char key[TESSEL_KEY_SIZE];               // table key
  uint32_t arglistLength;                  // bytes of the encoded argument list

  // ---- the library's own state, never copied ----
  uint32_t readOffset_;   // fetch cursor in the argument data
  uint32_t padding_;      // keeps the pointers below on 8-byte boundaries
  TesselArena* values_;   // decoded values
  char* ownedData_;       // argument block the message allocated
};
#pragma pack(pop)

enum : uint32_t { TESSEL_MSG_MAGIC = 0x54534d31 };  // "TSM1"

static_assert(offsetof(TesselServiceMsg, client) == 8, "client slot at byte 8");
static_assert(offsetof(TesselServiceMsg, argData) == 52, "argument buffer at byte 52");
static_assert(offsetof(TesselServiceMsg, work1) == 72, "first work buffer at byte 72");
static_assert(offsetof(TesselServiceMsg, work2) == 92, "second work buffer at byte 92");
static_assert(offsetof(TesselServiceMsg, type) == 144, "message type at byte 144");
static_assert(offsetof(TesselServiceMsg, priority) == 156, "priority at byte 156");
static_assert(offsetof(TesselServiceMsg, agentProg) == 168, "agent program at byte 168");
static_assert(offsetof(TesselServiceMsg, host) == 212, "host name at byte 212");
static_assert(offsetof(TesselServiceMsg, group) == 340, "group name at byte 340");
static_assert(offsetof(TesselServiceMsg, arglistLength) == 596, "arglistLength at byte 596");
static_assert(offsetof(TesselServiceMsg, readOffset_) == TESSEL_MSG_IMAGE, "image is 600 bytes");
// Pointers the message owns sit where leak checkers and the processor
// expect them.
static_assert(offsetof(TesselServiceMsg, values_) % 8 == 0, "aligned owned pointers");

#endif  // PLATFORM_TESSEL_TESSEL_SERVICE_MSG_H_
