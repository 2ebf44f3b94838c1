// Encoding of one datum inside an argument list.
//
// An argument list is a sequence of XDR-encoded data ending with the datum
// "tessel_endofargs".  Each datum is encoded as
//   string name<127>, unsigned type, unsigned length, value,
//   int relationalOp, and when relationalOp != 0: threshold value, int priority
// where a value is encoded by its type: 16-bit types as XDR short/unsigned
// short, 32-bit integers as int/unsigned int, float, double, a pair as two
// ints, a time as int (length 4) or hyper (length 8), an object identifier as
// its sub-identifiers, an IPv4 address as 4 opaque bytes and every other
// type as opaque bytes of the datum's length.
#ifndef PLATFORM_TESSEL_TESSEL_CODEC_H_
#define PLATFORM_TESSEL_TESSEL_CODEC_H_

#include <stdint.h>

#include "tessel/tessel_types.h"

class TesselArena;

// Largest argument list the library encodes or accepts.
enum { TESSEL_MAX_ARGLIST = 1 << 20 };

// Bytes taken by the end marker.
uint32_t tessel_endMarkerSize();

// Bytes the encoding of d takes (with its threshold when withThreshold and
// d.relationalOp != 0), or 0 when d cannot be encoded: a name of 128
// characters or more, type 0 or above 23, a length that does not fit its
// type, or a null value with a non-zero length.
uint32_t tessel_datumSize(const Tessel_event& d, bool withThreshold);

// Writes the encoding of d at out (room for tessel_datumSize bytes).  Returns
// the bytes written, 0 when d cannot be encoded.
uint32_t tessel_encodeDatum(const Tessel_event& d, bool withThreshold, char* out);

// Writes the end marker at out (room for tessel_endMarkerSize bytes).
void tessel_encodeEndMarker(char* out);

// Decodes the datum at buf[*offset] within the first len bytes of buf.  The
// value and threshold are copied into the arena, each followed by a NUL that
// the length does not count.  On success advances *offset and returns 1; on
// malformed or truncated input returns 0 and leaves *offset alone.  The end
// marker decodes as a datum named "tessel_endofargs" of type 0 and length 0.
int tessel_decodeDatum(const char* buf, uint32_t len, uint32_t* offset, Tessel_event* out,
                       TesselArena* arena);

// Checks that buf[0..len) is a well-formed argument list: data that decode,
// then the end marker exactly at the end.  Returns 1 when it is.
int tessel_checkArglist(const char* buf, uint32_t len);

#endif  // PLATFORM_TESSEL_TESSEL_CODEC_H_
