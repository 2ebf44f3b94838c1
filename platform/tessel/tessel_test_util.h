// Helpers shared by the protocol library's tests.
#ifndef PLATFORM_TESSEL_TESSEL_TEST_UTIL_H_
#define PLATFORM_TESSEL_TESSEL_TEST_UTIL_H_

#include <string.h>

#include <string>
#include <vector>

#include "tessel/tessel_generic.h"
#include "tessel/tessel_service_msg.h"
#include "tessel/tessel_types.h"

// A datum over owned bytes.
inline Tessel_event makeDatum(const char* name, uint32_t type, const void* value, uint32_t length) {
  Tessel_event d;
  memset(&d, 0, sizeof d);
  strncpy(d.name, name, sizeof d.name - 1);
  d.type = type;
  d.length = length;
  d.value = const_cast<void*>(value);
  return d;
}

// Every datum of msg up to (not including) the end marker; empty on a decode
// failure, with *ok false.
inline std::vector<Tessel_event> fetchAll(TesselServiceMsg* msg, bool* ok) {
  std::vector<Tessel_event> out;
  *ok = false;
  Tessel_event d;
  for (int i = 0; i < 100000; i++) {
    if (!tessel_msgNextDatum(msg, &d)) return {};
    if (d.type == 0) {
      *ok = strcmp(d.name, TESSEL_ENDOFARGS) == 0;
      return out;
    }
    out.push_back(d);
  }
  return {};
}

#endif  // PLATFORM_TESSEL_TESSEL_TEST_UTIL_H_
