// Object identifiers as the protocol carries them: an array of unsigned 32-bit
// sub-identifiers in host byte order; the value length is 4 bytes a sub-identifier.
#ifndef PLATFORM_TESSEL_TESSEL_OID_H_
#define PLATFORM_TESSEL_TESSEL_OID_H_

#include <stdint.h>

#include <vector>

// Most sub-identifiers an object identifier may hold.
enum { TESSEL_OID_MAX_SUBIDS = 128 };

// Dotted text ("1.3.6.1.4.1.11") of the object identifier of `length` bytes at
// `value`.  Returns a library buffer overwritten by the next call; the text is
// empty when the length is 0, not a multiple of 4 or above the limit.
char* tessel_oid2string(unsigned int length, const void* value);

// Parses dotted text into sub-identifiers.  Returns 1 on success, 0 when the
// text is empty, has an empty or non-numeric part, a part above 2^32-1, or
// more than TESSEL_OID_MAX_SUBIDS parts.
int tessel_string2oid(const char* text, std::vector<uint32_t>* oid);

#endif  // PLATFORM_TESSEL_TESSEL_OID_H_
