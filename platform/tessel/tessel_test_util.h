// Helpers shared by the protocol library's tests.
#ifndef PLATFORM_TESSEL_TESSEL_TEST_UTIL_H_
#define PLATFORM_TESSEL_TESSEL_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "tessel/tessel_generic.h"
#include "tessel/tessel_service_msg.h"
#include "tessel/tessel_types.h"

// A datum over the caller's bytes.
inline Tessel_event makeDatum(const char* name, uint32_t type, const void* value, uint32_t length) {
  Tessel_event d = {};
  strncpy(d.name, name, sizeof d.name - 1);
  d.type = type;
  d.length = length;
  d.value = const_cast<void*>(value);
  return d;
}

// Appends one datum to msg; non-zero on success.
inline int put(TesselServiceMsg* msg, const char* name, uint32_t type, const void* value,
               uint32_t length) {
  Tessel_event d = makeDatum(name, type, value, length);
  return TesselGeneric().putData(&d, msg);
}

// Every datum of msg before the end marker; a test failure and nothing when
// the list does not decode up to the end marker.
inline std::vector<Tessel_event> fetchAll(TesselServiceMsg* msg) {
  std::vector<Tessel_event> out;
  Tessel_event d;
  while (out.size() < 100000 && tessel_msgNextDatum(msg, &d)) {
    if (d.type == 0 && strcmp(d.name, TESSEL_ENDOFARGS) == 0) return out;
    if (d.type == 0) break;
    out.push_back(d);
  }
  ADD_FAILURE() << "argument list does not decode";
  return {};
}

#endif  // PLATFORM_TESSEL_TESSEL_TEST_UTIL_H_
