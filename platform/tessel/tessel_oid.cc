#include "tessel/tessel_oid.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char* tessel_oid2string(unsigned int length, const void* value) {
  // 128 sub-identifiers of at most 10 digits and a dot each.
  static char text[TESSEL_OID_MAX_SUBIDS * 11 + 1];
  text[0] = '\0';
  if (value == nullptr || length == 0 || length % 4 != 0 || length / 4 > TESSEL_OID_MAX_SUBIDS)
    return text;
  const unsigned char* p = static_cast<const unsigned char*>(value);
  size_t used = 0;
  for (unsigned int i = 0; i < length / 4; i++) {
    uint32_t sub;
    memcpy(&sub, p + 4 * i, 4);
    used += snprintf(text + used, sizeof text - used, i == 0 ? "%u" : ".%u", sub);
  }
  return text;
}

int tessel_string2oid(const char* text, std::vector<uint32_t>* oid) {
  oid->clear();
  if (text == nullptr || *text == '\0') return 0;
  const char* p = text;
  for (;;) {
    if (*p < '0' || *p > '9') return 0;
    errno = 0;
    char* end;
    unsigned long long sub = strtoull(p, &end, 10);
    if (errno != 0 || sub > 0xffffffffULL) return 0;
    if (oid->size() == TESSEL_OID_MAX_SUBIDS) return 0;
    oid->push_back(static_cast<uint32_t>(sub));
    if (*end == '\0') return 1;
    if (*end != '.') return 0;
    p = end + 1;
  }
}
