// Feeds arbitrary bytes to the schema parser and the tables it fills.  The
// parse must never be abandoned (its stack cannot run out on any input), and
// whatever it read must be safe to look up.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "attribute.h"
#include "parser_driver.h"

namespace {

const uint8_t* input = nullptr;
size_t inputSize = 0;
size_t inputPos = 0;

int inputSource() { return inputPos < inputSize ? input[inputPos++] : -1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  input = data;
  inputSize = size;
  inputPos = 0;
  if (dbparse_schema(inputSource, "fuzz.schema") != 0) abort();
  for (const char* name : {"status", "a", "x"}) {
    translateEnum(name, 1);
    getAttrValues(name);
    getAttributes(name);
  }
  free_attribute_lists();
  return 0;
}
