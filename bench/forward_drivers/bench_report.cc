#include "bench_report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "datum.h"
#include "tessel/tessel_types.h"

namespace {

const char kKeyPrefix[] = "bench-";
const uint32_t kIfIndex = 3;

void stamp(TesselServiceMsg* msg, uint32_t agentProg, const std::string& from) {
  tools_stampTime(msg);
  msg->type = TESSEL_MSG_TRAP;
  msg->agentProg = agentProg;
  msg->setHost(from.c_str());
}

int fillTrap(TesselServiceMsg* msg, size_t textLength) {
  const uint32_t enterprise[] = {1, 3, 6, 1, 4, 1, 11};
  return msg->clearData() && tools_putWord(msg, "ifIndex", TESSEL_INT, kIfIndex) &&
         tools_putDatum(msg, "enterprise", TESSEL_OID, enterprise, sizeof enterprise) &&
         tools_putText(msg, "text", std::string(textLength, 't'));
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
  return bench_buildTrap(msg, from, size) && tools_putText(msg, "vant_forwarded_by", kThirdHost);
}

int bench_buildDbTrap(TesselServiceMsg* msg, const std::string& from, const std::string& element) {
  stamp(msg, 100110, from);
  msg->setGroup("tessel_db_config");
  return msg->clearData() && tools_putText(msg, "added", element);
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
