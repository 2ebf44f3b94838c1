#include "tessel/tessel_buffer.h"

#include <stdlib.h>

void TesselBuffer::setBuffer(char* block, uint32_t blockSize, uint32_t pos) {
  data = block;
  size = block != nullptr ? blockSize : 0;
  position = block != nullptr ? pos : 0;
  increment = 0;
}

TesselArglist::TesselArglist() : status(0), owned_(nullptr) {
  TesselBuffer::setBuffer(nullptr, 0, 0);
}

TesselArglist::~TesselArglist() { release(); }

void TesselArglist::release() {
  free(owned_);
  owned_ = nullptr;
}

int TesselArglist::alloc(uint32_t blockSize, uint32_t grow) {
  release();
  TesselBuffer::setBuffer(nullptr, 0, 0);
  if (blockSize == 0) blockSize = 1;
  owned_ = static_cast<char*>(malloc(blockSize));
  if (owned_ == nullptr) return 0;
  TesselBuffer::setBuffer(owned_, blockSize, 0);
  increment = grow > 0 ? grow : 1;
  return 1;
}

void TesselArglist::setBuffer(char* block, uint32_t blockSize, uint32_t pos) {
  if (block != owned_) release();
  TesselBuffer::setBuffer(block, blockSize, pos);
}
