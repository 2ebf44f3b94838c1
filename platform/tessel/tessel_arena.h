// A bump allocator for values decoded from a message: every pointer it hands
// out stays valid until the arena is destroyed, so fetched data never dangle
// while their message lives.
#ifndef PLATFORM_TESSEL_TESSEL_ARENA_H_
#define PLATFORM_TESSEL_TESSEL_ARENA_H_

#include <stddef.h>

class TesselArena {
 public:
  TesselArena() : head_(nullptr), used_(0), room_(0) {}
  ~TesselArena();
  TesselArena(const TesselArena&) = delete;
  TesselArena& operator=(const TesselArena&) = delete;

  // 8-byte aligned block of n bytes, or null when memory is short.
  void* allocate(size_t n);

 private:
  struct Chunk;
  Chunk* head_;
  size_t used_;
  size_t room_;
};

#endif  // PLATFORM_TESSEL_TESSEL_ARENA_H_
