#include "message_json.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "cli.h"
#include "parse_filter.h"
#include "tessel/tessel_generic.h"

static bool isIntegerType(uint32_t type) {
  return (type >= 1 && type <= 6) || type == 14 || type == 15;
}

bool messageJson(unsigned long prog, unsigned long vers, unsigned long proc,
                 TesselServiceMsg* msg, std::string* line) {
  char head[256];
  snprintf(head, sizeof head, "{\"prog\":%lu,\"vers\":%lu,\"proc\":%lu,\"type\":%u,\"agent_prog\":%u,",
           prog, vers, proc, msg->type, msg->agentProg);
  std::string out = head;
  out += "\"host\":" + cli_jsonString(msg->host) + ",\"group\":" + cli_jsonString(msg->group);
  out += ",\"priority\":" + std::to_string(msg->priority) + ",\"data\":[";
  tessel_msgRewind(msg);
  Tessel_event d;
  bool first = true;
  for (;;) {
    if (!tessel_msgNextDatum(msg, &d)) return false;
    if (d.type == 0) break;
    if (!first) out += ",";
    first = false;
    out += "{\"name\":" + cli_jsonString(d.name) + ",\"type\":" + std::to_string(d.type) +
           ",\"length\":" + std::to_string(d.length) + ",\"value\":";
    const char* text = value2str(d.type, d.value, d.length);
    out += text == nullptr ? "null" : isIntegerType(d.type) ? text : cli_jsonString(text);
    out += "}";
  }
  *line = out + "]}";
  return true;
}

int printMessageJson(const struct svc_req* rq, TesselServiceMsg* msg) {
  std::string line;
  if (!messageJson(rq->rq_prog, rq->rq_vers, rq->rq_proc, msg, &line)) return 0;
  printf("%s\n", line.c_str());
  fflush(stdout);
  return 1;
}
