#include "vant/vant_fetch.h"

#include <string.h>

#include "tessel/tessel_generic.h"
#include "vant/vant_agent.h"

int vant_fetch_event(Tessel_event* datum, TesselServiceMsg* msg) {
  if (msg == nullptr) msg = aTesselVantRendez;
  return datum != nullptr && tessel_msgNextDatum(msg, datum);
}

int vant_fetch_data(Tessel_data* datum, TesselServiceMsg* msg) {
  Tessel_event e;
  if (datum == nullptr || !vant_fetch_event(&e, msg)) return 0;
  *datum = e;
  return 1;
}

int tessel_fetch_msginfo(Tessel_msginfo* info) {
  TesselServiceMsg* m = aTesselVantRendez;
  if (m == nullptr || info == nullptr) return 0;
  tessel_msgRewind(m);
  memset(info, 0, sizeof *info);
  info->type = m->type;
  info->priority = m->priority;
  info->agentProg = m->agentProg;
  info->agentVers = m->agentVers;
  info->flags = m->flags;
  info->arglistLength = m->arglistLength;
  memcpy(info->host, m->host, sizeof info->host);
  memcpy(info->group, m->group, sizeof info->group);
  memcpy(info->system, m->system, sizeof info->system);
  memcpy(info->key, m->key, sizeof info->key);
  return 1;
}

static int intValue(const Tessel_event& d) {
  int v = 0;
  if (d.length == 4) memcpy(&v, d.value, 4);
  return v;
}

int tessel_fetch_error(Tessel_error* error) {
  TesselServiceMsg* m = aTesselVantRendez;
  if (m == nullptr || error == nullptr || m->type != TESSEL_MSG_ERROR) return 0;
  memset(error, 0, sizeof *error);
  Tessel_event d;
  tessel_msgRewind(m);
  for (;;) {
    if (!tessel_msgNextDatum(m, &d)) return 0;
    if (d.type == 0) break;
    if (strcmp(d.name, "vant_error_code") == 0) error->code = intValue(d);
    else if (strcmp(d.name, "vant_error_index") == 0) error->index = intValue(d);
    else if (strcmp(d.name, "vant_error_message") == 0 && d.type == TESSEL_STRING)
      strncpy(error->message, static_cast<char*>(d.value), sizeof error->message - 1);
  }
  return 1;
}

int TesselEntity::fetchOption(const char* name, Tessel_data* arg) {
  Tessel_event d;
  if (arg == nullptr || !tessel_msgFindDatum(aTesselVantRendez, name, &d)) return 0;
  *arg = d;
  return 1;
}
