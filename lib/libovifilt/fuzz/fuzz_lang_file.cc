// The language table.
#include "fuzz_support.h"
#include "parse_rcvhost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzWrite(fuzzDataPath("ovi_sender.lang"), data, size);
  set_db_locale_lang("db1");
  return 0;
}
