// Calls the station's programs receive from its tools: the action request a
// console sends to ovi_sender, and a caller pointed at a program by host name.
#ifndef TOOLS_COMMON_STATION_CALLS_H_
#define TOOLS_COMMON_STATION_CALLS_H_

#include <netinet/in.h>
#include <stdint.h>

#include <string>

#include "tessel/tessel_call.h"
#include "tessel/tessel_service_msg.h"

// ovi_sender's RPC program and version: action requests go there.
enum : unsigned long { OVI_SENDER_PROG = 100139, OVI_SENDER_VERS = 10 };

// The flags of an action request.
enum : uint32_t { ACTION_REGISTER = 0x80, ACTION_DELETE = 0x100, ACTION_SYNC = 0x200 };

// What a console asks of ovi_sender.
struct ActionRequest {
  uint32_t flags = ACTION_REGISTER;
  struct in_addr addr = {0};           // where the console serves
  uint32_t prog = 0, vers = 0;         // its rendezvous program and version
  std::string filter;                  // "vant_filter_file"
  std::string db;                      // "vant_orx_name"
  const char* receivingOrx = nullptr;  // "receiving_orx"; null: not sent
};

// Makes the freshly constructed msg that request: type 6, the flags, this
// host's name, and the options "tessel_rendez_addr" (ipaddr),
// "tessel_rendez_prog" and "tessel_rendez_vers" (uint), "vant_filter_file",
// "vant_orx_name" and, when given, "receiving_orx" (strings), in that
// order.  Returns 1, or 0 when the options do not fit.
int tools_buildActionRequest(const ActionRequest& request, TesselServiceMsg* msg);

// Resolves host (a name or a dotted address) into *addr.  Returns 1;
// otherwise 0 after writing "PROGRAM: reason" on standard error.
int tools_resolve(const char* program, const char* host, struct in_addr* addr);

// Resolves host and points caller at program/version there (its clients
// made within 10 seconds when first needed).  Returns 1; otherwise 0 after
// writing "PROGRAM: reason" on standard error.
int tools_aimCaller(const char* program, const char* host, unsigned long prog,
                    unsigned long vers, TesselCaller* caller);

#endif  // TOOLS_COMMON_STATION_CALLS_H_
