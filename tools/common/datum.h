// Building the data of a message the station's programs send.
#ifndef TOOLS_COMMON_DATUM_H_
#define TOOLS_COMMON_DATUM_H_

#include <stdint.h>

#include <string>

#include "tessel/tessel_service_msg.h"

// Appends one datum to msg's argument data: `name` (cut to the protocol's
// width), type code `type` and the `length` bytes at `value` in host form;
// the message keeps its own copy of both.  Returns 1, or 0 when the datum
// cannot be encoded or memory is short (the message is unchanged then).
int tools_putDatum(TesselServiceMsg* msg, const char* name, uint32_t type, const void* value,
                   uint32_t length);

// A string datum (type 9) holding the bytes of text.
int tools_putText(TesselServiceMsg* msg, const char* name, const std::string& text);

// A four-byte datum of any four-byte type (int, uint, ipaddr in network
// order...) holding word as the host holds it.
int tools_putWord(TesselServiceMsg* msg, const char* name, uint32_t type, uint32_t word);

// Sets the message's time fields to the current time.
void tools_stampTime(TesselServiceMsg* msg);

#endif  // TOOLS_COMMON_DATUM_H_
