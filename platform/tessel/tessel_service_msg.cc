#include "tessel/tessel_service_msg.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "tessel/tessel_arena.h"
#include "tessel/tessel_codec.h"

TesselServiceMsg::TesselServiceMsg() {
  memset(static_cast<void*>(this), 0, sizeof *this);
  magic = TESSEL_MSG_MAGIC;
}

TesselServiceMsg::~TesselServiceMsg() {
  free(ownedData_);
  delete values_;
}

static void copyText(char* field, size_t width, const char* text) {
  if (text == nullptr) text = "";
  strncpy(field, text, width - 1);
  field[width - 1] = '\0';
}

void TesselServiceMsg::setHost(const char* text) { copyText(host, sizeof host, text); }
void TesselServiceMsg::setGroup(const char* text) { copyText(group, sizeof group, text); }
void TesselServiceMsg::setSystem(const char* text) { copyText(system, sizeof system, text); }
void TesselServiceMsg::setKey(const char* text) { copyText(key, sizeof key, text); }

int TesselServiceMsg::reserve(uint32_t extra) {
  uint64_t needed = static_cast<uint64_t>(argData.position) + extra + tessel_endMarkerSize();
  if (needed > TESSEL_MAX_ARGLIST || argData.position > argData.size) return 0;
  if (argData.data != nullptr && needed <= argData.size) return 1;
  uint64_t grown = static_cast<uint64_t>(argData.size) + (argData.increment > 0 ? argData.increment : 256);
  if (grown < 2ull * argData.size) grown = 2ull * argData.size;
  if (grown < needed) grown = needed;
  if (grown > TESSEL_MAX_ARGLIST) grown = TESSEL_MAX_ARGLIST;
  char* block = static_cast<char*>(malloc(grown));
  if (block == nullptr) return 0;
  if (argData.position > 0) memcpy(block, argData.data, argData.position);
  free(ownedData_);  // only ever the block argData described, or null
  ownedData_ = block;
  argData.data = block;
  argData.size = static_cast<uint32_t>(grown);
  if (argData.increment == 0) argData.increment = 256;
  return 1;
}

int TesselServiceMsg::clearData() {
  argData.position = 0;
  if (!reserve(0)) return 0;
  tessel_encodeEndMarker(argData.data);
  arglistLength = tessel_endMarkerSize();
  readOffset_ = 0;
  return 1;
}

void TesselServiceMsg::adoptData(char* block, uint32_t length) {
  free(ownedData_);
  ownedData_ = block;
  uint32_t marker = tessel_endMarkerSize();
  argData.data = block;
  argData.size = length;
  argData.position = length >= marker ? length - marker : 0;
  argData.increment = 256;
  arglistLength = length;
  readOffset_ = 0;
}

TesselArena* TesselServiceMsg::arena() {
  if (values_ == nullptr) values_ = new (std::nothrow) TesselArena;
  return values_;
}
