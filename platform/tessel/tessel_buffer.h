// Buffer descriptors and argument lists.
//
// A TesselBuffer only describes a block: its address, its size (the bytes the
// block can hold), a position (where the next datum is written) and the
// increment by which a growing writer enlarges it.  It never owns or frees
// the block: descriptors live inside the 600-byte message image, which is
// copied byte for byte between processes, so ownership is kept by the objects
// that hold the descriptors (TesselArglist, TesselServiceMsg).
#ifndef PLATFORM_TESSEL_TESSEL_BUFFER_H_
#define PLATFORM_TESSEL_TESSEL_BUFFER_H_

#include <stdint.h>

#pragma pack(push, 4)
class TesselBuffer {
 public:
  char* data;          // the block, or null
  uint32_t size;       // bytes the block holds
  uint32_t position;   // bytes written so far / next write offset
  uint32_t increment;  // growth step for writers, at least 1 when set

  // Points the descriptor at caller-owned bytes; (null, 0, 0) detaches it.
  void setBuffer(char* block, uint32_t blockSize, uint32_t pos);
};
#pragma pack(pop)

static_assert(sizeof(TesselBuffer) == 20, "a buffer descriptor fills 20 bytes of the message image");

// An argument list: one descriptor and the block it owns.  status is 0 after
// construction.
class TesselArglist : public TesselBuffer {
 public:
  TesselArglist();
  ~TesselArglist();
  TesselArglist(const TesselArglist&) = delete;
  TesselArglist& operator=(const TesselArglist&) = delete;

  // Gives the list a new owned block of `blockSize` bytes (at least 1) that
  // grows by `grow`; releases the block it owned before.  Position becomes 0.
  // Returns non-zero on success, 0 when memory is short (the list is then
  // left without a block).
  int alloc(uint32_t blockSize, uint32_t grow);

  // As TesselBuffer::setBuffer, after releasing the block the list owned.
  void setBuffer(char* block, uint32_t blockSize, uint32_t pos);

  int status;

 private:
  void release();
  char* owned_;
};

#endif  // PLATFORM_TESSEL_TESSEL_BUFFER_H_
