// The tokenizer fed as a filter file: cache build with its template files,
// the message open, look-ups for every report kind, close.
#include "fuzz_support.h"
#include "message_info.h"
#include "parse_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    const char tmpl[] = "added membership,color\ndeleted drop\n";
    const char traps[] = "---Standard Traps---------%0-3,5%\nAcme%10-20%1.3.6.1.4.1.99\n";
    fuzzWrite(fuzzDataPath("t.db"), reinterpret_cast<const uint8_t*>(tmpl), sizeof tmpl - 1);
    fuzzWrite(fuzzDataPath("traps.lst"), reinterpret_cast<const uint8_t*>(traps), sizeof traps - 1);
    return true;
  }();
  (void)ready;
  if (!fuzzNamesStayInside(data, size)) return 0;
  // A new name each time makes the open rebuild whatever the file's time.
  static int turn;
  const char* name = (turn++ & 1) ? "f1" : "f0";
  fuzzWrite(fuzzDataPath(name), data, size);

  char message[256];
  ovi_openfilter_with_msg(name, message);
  ovi_openfilter(name);
  OVI_MessageInfo info{};
  static const int classes[] = {OVI_CLASS_EVENT, OVI_CLASS_TRAP, OVI_CLASS_DBMGR_TRAP,
                                OVI_CLASS_GLYPH_TRAP};
  for (int cls : classes) {
    for (int type : {OVI_TRAP_GENERIC, OVI_TRAP_ENTERPRISE}) {
      info.reportClass = static_cast<int16_t>(cls);
      info.trapType = type;
      info.trapNumber = 15;
      snprintf(info.enterprise, sizeof info.enterprise, "1.3.6.1.4.1.99");
      for (const FilterEntry* e = ovi_filter_cache(); e != nullptr; e = e->next)
        ovi_gethost(e->target, e->keyword, &info);
      ovi_getdefault("default", &info);
    }
  }
  ovi_closefilter();
  return 0;
}
