// The command-line form of a datum: NAME=TYPE:VALUE, and for an event datum
// NAME=TYPE:VALUE/OP:THRESHOLD:PRIORITY.  TYPE is a type code (1 to 23) or
// one of short ushort int uint long ulong float double string octets ipaddr
// time enum int32 oid.
#ifndef TOOLS_TESSEL_SEND_DATUM_TEXT_H_
#define TOOLS_TESSEL_SEND_DATUM_TEXT_H_

#include <stdint.h>

#include <string>
#include <vector>

struct DatumText {
  std::string name;
  uint32_t type = 0;
  std::vector<unsigned char> value;      // host form, as the protocol holds it
  int relationalOp = 0;                  // 0: no threshold
  std::vector<unsigned char> threshold;  // same type as value
  int priority = 0;                      // 1 to 3 with a threshold
};

// Parses text into *out.  A threshold is recognised only when withThreshold
// (event reports) and the text after the last '/' reads OP:THRESHOLD:PRIORITY.
// Returns 1 on success; otherwise 0 with the reason in *error.
int parseDatumText(const char* text, bool withThreshold, DatumText* out, std::string* error);

// Parses VALUE of a type code into host form.  Returns 1 on success.
int parseValueText(uint32_t type, const std::string& text, std::vector<unsigned char>* value,
                   std::string* error);

#endif  // TOOLS_TESSEL_SEND_DATUM_TEXT_H_
