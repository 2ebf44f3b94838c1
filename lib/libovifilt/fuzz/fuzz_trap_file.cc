// A trap template file: its lines, the trap-number lists and the predicate.
#include <string>

#include "fuzz_support.h"
#include "message_info.h"
#include "parse_trap.h"
#include "trap_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzWrite(fuzzDataPath("fz.lst"), data, size);
  ovi_free_trap_file_cache(0);
  ovi_add_trap_file_to_cache("fz.lst");
  OVI_MessageInfo info{};
  info.reportClass = OVI_CLASS_TRAP;
  for (int type : {OVI_TRAP_GENERIC, OVI_TRAP_ENTERPRISE}) {
    for (int number : {0, 4, 40000, -1}) {
      info.trapType = type;
      info.trapNumber = number;
      snprintf(info.enterprise, sizeof info.enterprise, "1.3.6.1.4.1.99");
      pass_event_or_trap("traps", "fz.lst", &info);
    }
  }
  std::string list(reinterpret_cast<const char*>(data), size);
  is_trap_no_okay(7, list.c_str());
  ovi_free_trap_file_cache(0);
  ovi_close_trapfile_after_reading();
  return 0;
}
