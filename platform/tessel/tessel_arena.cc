#include "tessel/tessel_arena.h"

#include <stdlib.h>

struct TesselArena::Chunk {
  Chunk* next;
  // The chunk's bytes follow; max_align_t keeps them aligned.
  alignas(max_align_t) unsigned char bytes[1];
};

TesselArena::~TesselArena() {
  while (head_ != nullptr) {
    Chunk* next = head_->next;
    free(head_);
    head_ = next;
  }
}

void* TesselArena::allocate(size_t n) {
  n = (n + 7) & ~static_cast<size_t>(7);
  if (n == 0) n = 8;
  if (head_ == nullptr || room_ - used_ < n) {
    size_t room = n > 4096 ? n : 4096;
    Chunk* chunk = static_cast<Chunk*>(malloc(offsetof(Chunk, bytes) + room));
    if (chunk == nullptr) return nullptr;
    chunk->next = head_;
    head_ = chunk;
    used_ = 0;
    room_ = room;
  }
  void* p = head_->bytes + used_;
  used_ += n;
  return p;
}
