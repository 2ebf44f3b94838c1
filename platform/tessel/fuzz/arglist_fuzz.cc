// Feeds arbitrary bytes to the argument-list decoder, as a received pipe
// body would reach it.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>

#include "tessel/tessel_codec.h"
#include "tessel/tessel_generic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> copy(new char[size + 1]);
  if (size > 0) memcpy(copy.get(), data, size);
  tessel_checkArglist(copy.get(), size);
  TesselServiceMsg msg;
  msg.argData.setBuffer(copy.get(), size, 0);
  msg.arglistLength = size;
  Tessel_event d;
  for (int i = 0; i < 100000 && tessel_msgNextDatum(&msg, &d) && d.type != 0; i++) {
  }
  return 0;
}
