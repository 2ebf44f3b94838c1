#include "bench_report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

#include "tessel/tessel_generic.h"

namespace {

const char kKeyPrefix[] = "bench-";

int put(TesselServiceMsg* msg, const char* name, uint32_t type, const void* value,
        uint32_t length) {
  Tessel_data d;
  memset(&d, 0, sizeof d);
  snprintf(d.name, sizeof d.name, "%s", name);
  d.type = type;
  d.length = length;
  d.value = const_cast<void*>(value);
  return TesselGeneric().putData(&d, msg);
}

void stamp(TesselServiceMsg* msg, uint32_t agentProg, const std::string& from) {
  struct timeval now;
  gettimeofday(&now, nullptr);
  msg->timeSec = static_cast<int32_t>(now.tv_sec);
  msg->timeUsec = static_cast<int32_t>(now.tv_usec);
  msg->type = TESSEL_MSG_TRAP;
  msg->agentProg = agentProg;
  msg->setHost(from.c_str());
}

int fillTrap(TesselServiceMsg* msg, size_t textLength) {
  int32_t ifIndex = 3;
  const uint32_t enterprise[] = {1, 3, 6, 1, 4, 1, 11};
  std::string text(textLength, 't');
  return msg->clearData() && put(msg, "ifIndex", TESSEL_INT, &ifIndex, 4) &&
         put(msg, "enterprise", TESSEL_OID, enterprise, sizeof enterprise) &&
         put(msg, "text", TESSEL_STRING, text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace

int bench_buildTrap(TesselServiceMsg* msg, const std::string& from, size_t size) {
  stamp(msg, 0, from);
  if (!fillTrap(msg, 0)) return 0;
  size_t base = msg->arglistLength;
  return size <= base || fillTrap(msg, size - base);
}

int bench_buildForwardedTrap(TesselServiceMsg* msg, const std::string& from, size_t size) {
  static const char kThirdHost[] = "gamma";
  return bench_buildTrap(msg, from, size) &&
         put(msg, "vant_forwarded_by", TESSEL_STRING, kThirdHost, sizeof kThirdHost - 1);
}

int bench_buildDbTrap(TesselServiceMsg* msg, const std::string& from, const std::string& element) {
  stamp(msg, 100110, from);
  msg->setGroup("tessel_db_config");
  return msg->clearData() &&
         put(msg, "added", TESSEL_STRING, element.data(), static_cast<uint32_t>(element.size()));
}

void bench_setRun(TesselServiceMsg* msg, uint32_t run) {
  char key[32];
  snprintf(key, sizeof key, "%s%u", kKeyPrefix, run);
  msg->setKey(key);
}

uint32_t bench_runOfKey(const char* key) {
  if (strncmp(key, kKeyPrefix, sizeof kKeyPrefix - 1) != 0) return 0;
  const char* digits = key + sizeof kKeyPrefix - 1;
  if (*digits < '0' || *digits > '9') return 0;
  char* end;
  unsigned long run = strtoul(digits, &end, 10);
  return *end == '\0' && run <= UINT32_MAX ? static_cast<uint32_t>(run) : 0;
}
