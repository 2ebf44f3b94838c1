// The JSON line a console prints for a message it received.
#ifndef TOOLS_OVI_CONSOLE_MESSAGE_JSON_H_
#define TOOLS_OVI_CONSOLE_MESSAGE_JSON_H_

#include <rpc/rpc.h>

#include <string>

#include "tessel/tessel_service_msg.h"

// {"prog":P,"vers":V,"proc":N,"type":T,"agent_prog":A,"host":"...","group":"...",
//  "priority":N,"data":[{"name":"...","type":T,"length":L,"value":V},...]}
// A value is a JSON number for the integer types 1 to 6, 14 and 15, null for
// a type that has no text form, and otherwise a string with its text.
// Returns false when the message's data are malformed.
bool messageJson(unsigned long prog, unsigned long vers, unsigned long proc,
                 TesselServiceMsg* msg, std::string* line);

// Prints the JSON line of a message received by the call rq on standard
// output and flushes it.  Returns 1 when printed, 0 when the message's data
// are malformed (nothing is printed then).
int printMessageJson(const struct svc_req* rq, TesselServiceMsg* msg);

#endif  // TOOLS_OVI_CONSOLE_MESSAGE_JSON_H_
