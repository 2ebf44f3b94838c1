// The enterprise list below the installation base directory.
#include "fuzz_support.h"
#include "parse_filter.h"
#include "parse_trap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    fuzzRoot();  // sets OVI_ROOT before the path is mapped
    std::string fixed = std::string(ovi_get_ovi_installation_base_dir()) + "/agents/enterprises.oid";
    return tessel_path(fixed.c_str());
  }();
  fuzzWrite(path, data, size);
  char message[256];
  if (build_enterprise_list_cache(message)) {
    const char* name = get_enp_name_from_index(2);
    if (name != nullptr) get_oid_from_name(name);
    get_index_from_enp_name("Acme");
  }
  free_enterprise_list_cache();
  return 0;
}
