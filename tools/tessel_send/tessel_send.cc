// tessel_send: sends one report (or action request) to a program of the
// station, like snmptrap, and prints the status of each reply.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli.h"
#include "datum.h"
#include "datum_text.h"
#include "station_calls.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_service_msg.h"

namespace {

const char kProgram[] = "tessel_send";

void usage(FILE* out) {
  fprintf(out,
          "usage: tessel_send [--to HOST] [--prog N] [--vers N] [--type event|trap|error|TYPE]\n"
          "                   [--agent-prog N] [--from HOST] [--group TEXT] [--system TEXT]\n"
          "                   [--key TEXT] [--flags N] [--priority N] [--count N] [--tcp]\n"
          "                   DATUM...\n"
          "Sends a report by procedure 1 to program --prog (100101) version --vers (10) on\n"
          "--to (localhost), --count times, and prints the status of each reply.\n"
          "DATUM is NAME=TYPE:VALUE; an event datum may end in /OP:THRESHOLD:PRIORITY.\n"
          "TYPE is a code or short ushort int uint long ulong float double string octets\n"
          "ipaddr time enum int32 oid.\n");
}

struct Options {
  std::string to = "localhost";
  uint64_t prog = QM_EVENT_PROG;
  uint64_t vers = QM_EVENT_VERS;
  uint64_t type = TESSEL_MSG_EVENT;
  uint64_t agentProg = 0;
  std::string from;
  std::string group, system, key;
  uint64_t flags = 0;
  int64_t priority = 0;
  uint64_t count = 1;
  bool tcp = false;
};

int parseMessageType(const char* text, uint64_t* type) {
  if (strcmp(text, "event") == 0) *type = TESSEL_MSG_EVENT;
  else if (strcmp(text, "trap") == 0) *type = TESSEL_MSG_TRAP;
  else if (strcmp(text, "error") == 0) *type = TESSEL_MSG_ERROR;
  else return cli_parseUnsigned(text, UINT32_MAX, type);
  return 1;
}

// Parses the options; returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options* o) {
  enum { kTo = CLI_LONG, kProg, kVers, kType, kAgentProg, kFrom, kGroup, kSystem, kKey, kFlags,
         kPriority, kCount, kTcp };
  auto take = [o](int c, const char* value) -> int {
    switch (c) {
      case kTo: o->to = value; break;
      case kProg: return cli_parseUnsigned(value, UINT32_MAX, &o->prog);
      case kVers: return cli_parseUnsigned(value, UINT32_MAX, &o->vers);
      case kType: return parseMessageType(value, &o->type);
      case kAgentProg: return cli_parseUnsigned(value, UINT32_MAX, &o->agentProg);
      case kFrom: o->from = value; break;
      case kGroup: o->group = value; break;
      case kSystem: o->system = value; break;
      case kKey: o->key = value; break;
      case kFlags: return cli_parseUnsigned(value, UINT32_MAX, &o->flags);
      case kPriority: return cli_parseSigned(value, INT32_MIN, INT32_MAX, &o->priority);
      case kCount: return cli_parseUnsigned(value, UINT32_MAX, &o->count);
      case kTcp: o->tcp = true; break;
    }
    return CLI_TAKEN;
  };
  return cli_getOptions(kProgram, argc, argv, "",
                        "to= prog= vers= type= agent-prog= from= group= system= key= flags= "
                        "priority= count= tcp",
                        usage, take);
}

// Builds the message from the options and data; returns 0 with a message on
// standard error when a datum is bad.
int buildMessage(const Options& o, char** data, int ndata, TesselServiceMsg* msg) {
  msg->type = static_cast<uint32_t>(o.type);
  msg->agentProg = static_cast<uint32_t>(o.agentProg);
  msg->flags = static_cast<uint32_t>(o.flags);
  msg->priority = static_cast<int32_t>(o.priority);
  char host[256] = "";
  if (o.from.empty()) gethostname(host, sizeof host - 1);
  msg->setHost(o.from.empty() ? host : o.from.c_str());
  msg->setGroup(o.group.c_str());
  msg->setSystem(o.system.c_str());
  msg->setKey(o.key.c_str());
  tools_stampTime(msg);
  if (!msg->clearData()) return 0;
  bool event = o.type == TESSEL_MSG_EVENT;
  TesselGeneric generic;
  for (int i = 0; i < ndata; i++) {
    DatumText d;
    std::string error;
    if (!parseDatumText(data[i], event, &d, &error)) {
      cli_error(kProgram, "%s", error.c_str());
      return 0;
    }
    Tessel_event datum;
    memset(&datum, 0, sizeof datum);
    snprintf(datum.name, sizeof datum.name, "%s", d.name.c_str());
    datum.type = d.type;
    datum.length = static_cast<uint32_t>(d.value.size());
    datum.value = d.value.data();
    datum.relationalOp = d.relationalOp;
    datum.threshold = d.threshold.data();
    datum.priority = d.priority;
    if (!generic.putEvent(&datum, msg)) {
      cli_error(kProgram, "datum cannot be encoded: %s", data[i]);
      return 0;
    }
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int status = parseOptions(argc, argv, &o); status >= 0) return status;
  signal(SIGPIPE, SIG_IGN);
  TesselServiceMsg msg;
  if (!buildMessage(o, argv + optind, argc - optind, &msg)) return 2;
  TesselCaller caller;
  if (!tools_aimCaller(kProgram, o.to.c_str(), o.prog, o.vers, &caller)) return 1;
  for (uint64_t i = 0; i < o.count; i++) {
    Tessel_error reply;
    if (!caller.send(&msg, {25, 0}, &reply, o.tcp ? TESSEL_PROTO_TCP : 0)) {
      cli_error(kProgram, "%s", tessel_sperror());
      return 1;
    }
    printf("%d\n", reply.status);
  }
  return 0;
}
