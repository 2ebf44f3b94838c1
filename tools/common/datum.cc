#include "datum.h"

#include <stdio.h>
#include <sys/time.h>

#include "tessel/tessel_generic.h"
#include "tessel/tessel_types.h"

int tools_putDatum(TesselServiceMsg* msg, const char* name, uint32_t type, const void* value,
                   uint32_t length) {
  Tessel_data d{};
  snprintf(d.name, sizeof d.name, "%s", name);
  d.type = type;
  d.length = length;
  d.value = const_cast<void*>(value);
  return TesselGeneric().putData(&d, msg) != 0 ? 1 : 0;
}

int tools_putText(TesselServiceMsg* msg, const char* name, const std::string& text) {
  return tools_putDatum(msg, name, TESSEL_STRING, text.data(), static_cast<uint32_t>(text.size()));
}

int tools_putWord(TesselServiceMsg* msg, const char* name, uint32_t type, uint32_t word) {
  return tools_putDatum(msg, name, type, &word, sizeof word);
}

void tools_stampTime(TesselServiceMsg* msg) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  msg->timeSec = static_cast<int32_t>(now.tv_sec);
  msg->timeUsec = static_cast<int32_t>(now.tv_usec);
}
