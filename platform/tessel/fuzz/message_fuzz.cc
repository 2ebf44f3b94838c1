// Feeds arbitrary bytes to the decoder of a whole message, then reads every
// datum of what decoded.
#include <stddef.h>
#include <stdint.h>

#include "tessel/tessel_generic.h"
#include "tessel/tessel_xdr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  XDR x;
  xdrmem_create(&x, const_cast<char*>(reinterpret_cast<const char*>(data)), size, XDR_DECODE);
  TesselServiceMsg msg;
  if (_tessel_serialMsg(&x, &msg)) {
    Tessel_event d;
    for (int i = 0; i < 100000 && tessel_msgNextDatum(&msg, &d) && d.type != 0; i++) {
    }
  }
  xdr_destroy(&x);
  return 0;
}
