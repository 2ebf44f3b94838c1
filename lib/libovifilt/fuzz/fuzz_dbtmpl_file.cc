// A database template file: records, flags and prefix look-ups.
#include "fuzz_support.h"
#include "parse_dbtmpl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzWrite(fuzzDataPath("fz.db"), data, size);
  ovi_free_db_file_cache();
  ovi_add_db_file_to_cache("fz.db");
  ovi_opentemplate("fz.db");
  for (const char* name : {"added", "a", "deleted", "Changed", "x"}) ovi_getTemplateEntry(name);
  std::string flags(reinterpret_cast<const char*>(data), size);
  getFlags(flags.c_str());
  ovi_free_db_file_cache();
  ovi_close_db_template_file();
  return 0;
}
