#include "tessel/tessel_codec.h"

#include <rpc/rpc.h>
#include <string.h>

#include "tessel/tessel_arena.h"
#include "tessel/tessel_oid.h"

const char* const TESSEL_ENDOFARGS = "tessel_endofargs";

namespace {

enum { kMaxName = TESSEL_NAME_SIZE - 1 };

uint32_t padded(uint32_t n) { return (n + 3) & ~3u; }

// An object identifier whose length is not a whole number of sub-identifiers
// (a text that an element's "pointer" property holds, say) travels as
// opaque bytes; the length tells the receiver which form it is.
bool oidAsBytes(uint32_t type, uint32_t length) {
  return type == TESSEL_OID && (length % 4 != 0 || length / 4 > TESSEL_OID_MAX_SUBIDS);
}

// Wire bytes of a value of this type and length, or -1 when the length does
// not fit the type.
int64_t valueWireSize(uint32_t type, uint32_t length) {
  if (oidAsBytes(type, length)) return length <= TESSEL_MAX_ARGLIST ? padded(length) : -1;
  switch (type) {
    case TESSEL_SHORT: case TESSEL_USHORT:
      return length == 2 ? 4 : -1;
    case TESSEL_INT: case TESSEL_UINT: case TESSEL_LONG: case TESSEL_ULONG:
    case TESSEL_ENUM: case TESSEL_INT32: case TESSEL_COUNTER: case TESSEL_GAUGE:
    case TESSEL_TICKS: case TESSEL_FLOAT: case TESSEL_IPADDR: case TESSEL_IPADDR2:
    case TESSEL_IPADDR3:
      return length == 4 ? 4 : -1;
    case TESSEL_DOUBLE: case TESSEL_PAIR:
      return length == 8 ? 8 : -1;
    case TESSEL_TIME:
      return length == 4 || length == 8 ? length : -1;
    case TESSEL_OID:
      return length;
    case TESSEL_STRING: case TESSEL_OCTETS: case TESSEL_HEX: case TESSEL_OPAQUE:
      return length <= TESSEL_MAX_ARGLIST ? padded(length) : -1;
    default:
      return -1;
  }
}

// Encodes or decodes one value in place: `value` points at length host-form
// bytes (encode) or at length writable bytes (decode).
bool xdrValue(XDR* x, uint32_t type, uint32_t length, unsigned char* value) {
  switch (type) {
    case TESSEL_SHORT: return xdr_short(x, reinterpret_cast<short*>(value));
    case TESSEL_USHORT: return xdr_u_short(x, reinterpret_cast<u_short*>(value));
    case TESSEL_INT: case TESSEL_LONG: case TESSEL_ENUM: case TESSEL_INT32:
      return xdr_int(x, reinterpret_cast<int*>(value));
    case TESSEL_UINT: case TESSEL_ULONG: case TESSEL_COUNTER: case TESSEL_GAUGE: case TESSEL_TICKS:
      return xdr_u_int(x, reinterpret_cast<u_int*>(value));
    case TESSEL_FLOAT: return xdr_float(x, reinterpret_cast<float*>(value));
    case TESSEL_DOUBLE: return xdr_double(x, reinterpret_cast<double*>(value));
    case TESSEL_PAIR:
      return xdr_int(x, reinterpret_cast<int*>(value)) && xdr_int(x, reinterpret_cast<int*>(value + 4));
    case TESSEL_TIME:
      if (length == 4) return xdr_int(x, reinterpret_cast<int*>(value));
      return xdr_int64_t(x, reinterpret_cast<int64_t*>(value));
    case TESSEL_OID:
      if (oidAsBytes(type, length)) return xdr_opaque(x, reinterpret_cast<char*>(value), length);
      for (uint32_t i = 0; i < length; i += 4)
        if (!xdr_u_int(x, reinterpret_cast<u_int*>(value + i))) return false;
      return true;
    default:
      return xdr_opaque(x, reinterpret_cast<char*>(value), length);
  }
}

bool isOpaque(uint32_t type, uint32_t length) {
  if (oidAsBytes(type, length)) return true;
  switch (type) {
    case TESSEL_STRING: case TESSEL_OCTETS: case TESSEL_HEX: case TESSEL_OPAQUE:
    case TESSEL_IPADDR: case TESSEL_IPADDR2: case TESSEL_IPADDR3:
      return true;
    default:
      return false;
  }
}

// Largest numeric value (an object identifier), with room for a NUL.
enum { kScratch = TESSEL_OID_MAX_SUBIDS * 4 + 8 };

bool encodeValue(XDR* x, uint32_t type, uint32_t length, const void* value) {
  if (valueWireSize(type, length) < 0) return false;
  if (length == 0) return true;
  if (isOpaque(type, length))
    return xdrValue(x, type, length, static_cast<unsigned char*>(const_cast<void*>(value)));
  // Callers may hand unaligned host-form numbers (stack bytes, packed
  // fields): encode from an aligned copy.
  alignas(8) unsigned char scratch[kScratch];
  memcpy(scratch, value, length);
  return xdrValue(x, type, length, scratch);
}

// Decodes a value into the arena (or only checks it when arena is null).
bool decodeValue(XDR* x, uint32_t remaining, uint32_t type, uint32_t length, TesselArena* arena,
                 void** out) {
  int64_t wire = valueWireSize(type, length);
  if (wire < 0 || wire > remaining) return false;
  alignas(8) unsigned char sink[kScratch];
  unsigned char* value;
  if (arena != nullptr) {
    value = static_cast<unsigned char*>(arena->allocate(length + 1));
    if (value == nullptr) return false;
  } else if (!isOpaque(type, length)) {
    value = sink;
  } else {
    // Opaque bytes need no decoding to be checked: skip them.
    *out = nullptr;
    return xdr_setpos(x, xdr_getpos(x) + static_cast<u_int>(wire));
  }
  if (!xdrValue(x, type, length, value)) return false;
  value[length] = '\0';
  *out = arena != nullptr ? value : nullptr;
  return true;
}

bool validName(const char* name) { return memchr(name, '\0', TESSEL_NAME_SIZE) != nullptr &&
                                          strlen(name) <= kMaxName; }

}  // namespace

uint32_t tessel_endMarkerSize() {
  // name, type 0, length 0, relationalOp 0
  return 4 + padded(strlen(TESSEL_ENDOFARGS)) + 4 + 4 + 4;
}

uint32_t tessel_datumSize(const Tessel_event& d, bool withThreshold) {
  if (!validName(d.name) || d.type == 0 || d.type > TESSEL_TYPE_MAX) return 0;
  int64_t wire = valueWireSize(d.type, d.length);
  if (wire < 0 || (d.length > 0 && d.value == nullptr)) return 0;
  int64_t total = 4 + padded(strlen(d.name)) + 4 + 4 + wire + 4;
  if (withThreshold && d.relationalOp != 0) {
    if (d.length > 0 && d.threshold == nullptr) return 0;
    total += wire + 4;
  }
  return total > TESSEL_MAX_ARGLIST ? 0 : static_cast<uint32_t>(total);
}

uint32_t tessel_encodeDatum(const Tessel_event& d, bool withThreshold, char* out) {
  uint32_t size = tessel_datumSize(d, withThreshold);
  if (size == 0) return 0;
  XDR x;
  xdrmem_create(&x, out, size, XDR_ENCODE);
  char* name = const_cast<char*>(d.name);
  u_int type = d.type, length = d.length;
  int relop = withThreshold ? d.relationalOp : 0;
  int priority = d.priority;
  bool ok = xdr_string(&x, &name, kMaxName) && xdr_u_int(&x, &type) && xdr_u_int(&x, &length) &&
            encodeValue(&x, d.type, d.length, d.value) && xdr_int(&x, &relop);
  if (ok && relop != 0)
    ok = encodeValue(&x, d.type, d.length, d.threshold) && xdr_int(&x, &priority);
  xdr_destroy(&x);
  return ok ? size : 0;
}

void tessel_encodeEndMarker(char* out) {
  XDR x;
  xdrmem_create(&x, out, tessel_endMarkerSize(), XDR_ENCODE);
  char* name = const_cast<char*>(TESSEL_ENDOFARGS);
  u_int zero = 0;
  int relop = 0;
  xdr_string(&x, &name, kMaxName);
  xdr_u_int(&x, &zero);
  xdr_u_int(&x, &zero);
  xdr_int(&x, &relop);
  xdr_destroy(&x);
}

int tessel_decodeDatum(const char* buf, uint32_t len, uint32_t* offset, Tessel_event* out,
                       TesselArena* arena) {
  if (buf == nullptr || *offset >= len) return 0;
  uint32_t avail = len - *offset;
  XDR x;
  xdrmem_create(&x, const_cast<char*>(buf) + *offset, avail, XDR_DECODE);
  Tessel_event d;
  memset(&d, 0, sizeof d);
  char* name = d.name;
  u_int type = 0, length = 0;
  int relop = 0;
  bool ok = xdr_string(&x, &name, kMaxName) && xdr_u_int(&x, &type) && xdr_u_int(&x, &length);
  if (ok && type == 0) {
    // Only the end marker may carry type 0, and it has no value.
    ok = strcmp(d.name, TESSEL_ENDOFARGS) == 0 && length == 0 && xdr_int(&x, &relop) && relop == 0;
    d.value = const_cast<char*>("");
  } else if (ok) {
    d.type = type;
    d.length = length;
    ok = type <= TESSEL_TYPE_MAX &&
         decodeValue(&x, avail - xdr_getpos(&x), type, length, arena, &d.value) &&
         xdr_int(&x, &relop);
    if (ok && relop != 0) {
      ok = decodeValue(&x, avail - xdr_getpos(&x), type, length, arena, &d.threshold) &&
           xdr_int(&x, &d.priority);
    }
  }
  uint32_t used = ok ? xdr_getpos(&x) : 0;
  xdr_destroy(&x);
  if (!ok) return 0;
  d.type = type;
  d.length = length;
  d.relationalOp = relop;
  *out = d;
  *offset += used;
  return 1;
}

int tessel_checkArglist(const char* buf, uint32_t len) {
  if (len > TESSEL_MAX_ARGLIST) return 0;
  uint32_t offset = 0;
  Tessel_event d;
  while (tessel_decodeDatum(buf, len, &offset, &d, nullptr)) {
    if (d.type == 0) return offset == len;
  }
  return 0;
}
