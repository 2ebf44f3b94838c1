#include "parse_filter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "tessel/tessel_oid.h"

static const char* const relop[] = {
    "No Operator",
    "Equal To",
    "Not Equal To",
    "Less Than",
    "Less Than Or Equal To ",
    "Greater Than ",
    "Greater Than Or Equal To ",
    "Changed ",
    "Increased By ",
    "Decreased By ",
    "Increased By More Than ",
    "Increased By Less Than ",
    "Decreased By More Than ",
    "Decreased By Less Than ",
    "Trap ",
};

const char* relop2str(unsigned int op) {
  return op < sizeof relop / sizeof relop[0] ? relop[op] : "unknown operator";
}

const char* prio2str(unsigned int priority) {
  if (priority <= 1) return "low";
  return priority == 2 ? "med" : "high";
}

// Values come from decoded messages and caller buffers of any alignment.
template <typename T>
static T load(const void* value) {
  T v;
  memcpy(&v, value, sizeof v);
  return v;
}

char* value2str(unsigned int type, const void* value, unsigned int length) {
  static char text[256];
  memset(text, 0, sizeof text);
  if (type < 1 || type > 22) return nullptr;
  if (value == nullptr) return text;
  const unsigned char* bytes = static_cast<const unsigned char*>(value);
  switch (type) {
    case 1:
      snprintf(text, sizeof text, "%d", load<int16_t>(value));
      break;
    case 2:
      snprintf(text, sizeof text, "%u", load<uint16_t>(value));
      break;
    case 3: case 5: case 14: case 15:
      snprintf(text, sizeof text, "%d", load<int32_t>(value));
      break;
    case 4: case 6: case 20: case 21: case 22:
      snprintf(text, sizeof text, "%u", load<uint32_t>(value));
      break;
    case 7:
      snprintf(text, sizeof text, "%f", load<float>(value));
      break;
    case 8:
      snprintf(text, sizeof text, "%f", load<double>(value));
      break;
    case 9: {
      size_t n = strnlen(static_cast<const char*>(value), length);
      if (n > sizeof text - 1) n = sizeof text - 1;
      memcpy(text, value, n);
      break;
    }
    case 10: case 16:
      for (unsigned int i = 0; i < length && 2 * i + 2 < sizeof text; i++)
        snprintf(text + 2 * i, 3, "%02x", bytes[i]);
      break;
    case 11: case 18: case 19:
      snprintf(text, sizeof text, "%s", inet_ntoa(load<struct in_addr>(value)));
      break;
    case 12:
      snprintf(text, sizeof text, "%d.%d", load<int32_t>(bytes), load<int32_t>(bytes + 4));
      break;
    case 13: {
      time_t t = length == 8 ? static_cast<time_t>(load<int64_t>(value))
                             : static_cast<time_t>(load<int32_t>(value));
      char buf[64];
      snprintf(text, sizeof text, "%s", ctime_r(&t, buf) != nullptr ? buf : "");
      break;
    }
    case 17:
      snprintf(text, sizeof text, "%s", tessel_oid2string(length, value));
      break;
  }
  return text;
}
