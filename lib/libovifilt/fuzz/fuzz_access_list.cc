// The access list.
#include "fuzz_support.h"
#include "parse_accesslist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzWrite(fuzzDataPath("ovi_sender.conf"), data, size);
  ovi_openaccess();
  ovi_checkaccess("alpha", "db1");
  ovi_closeaccess();
  return 0;
}
