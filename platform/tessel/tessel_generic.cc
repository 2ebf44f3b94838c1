#include "tessel/tessel_generic.h"

#include <string.h>

#include "tessel/tessel_codec.h"

static int putEncoded(const Tessel_event& d, bool withThreshold, TesselServiceMsg* msg) {
  if (msg == nullptr) return 0;
  uint32_t size = tessel_datumSize(d, withThreshold);
  if (size == 0 || !msg->reserve(size)) return 0;
  char* at = msg->argData.data + msg->argData.position;
  if (tessel_encodeDatum(d, withThreshold, at) != size) return 0;
  msg->argData.position += size;
  tessel_encodeEndMarker(msg->argData.data + msg->argData.position);
  msg->arglistLength = msg->argData.position + tessel_endMarkerSize();
  return 1;
}

int TesselGeneric::putData(const Tessel_data* datum, TesselServiceMsg* msg) {
  if (datum == nullptr) return 0;
  Tessel_event d;
  memset(&d, 0, sizeof d);
  static_cast<Tessel_data&>(d) = *datum;
  return putEncoded(d, false, msg);
}

int TesselGeneric::putEvent(const Tessel_event* datum, TesselServiceMsg* msg) {
  return datum != nullptr && putEncoded(*datum, true, msg);
}

static const Tessel_event& endMarker() {
  static Tessel_event marker = [] {
    Tessel_event d;
    memset(&d, 0, sizeof d);
    strcpy(d.name, TESSEL_ENDOFARGS);
    d.value = const_cast<char*>("");
    return d;
  }();
  return marker;
}

// Decodes the datum at *offset of the message's argument data.
static int decodeAt(TesselServiceMsg* msg, uint32_t* offset, Tessel_event* out) {
  if (msg->arglistLength == 0) {
    *out = endMarker();
    return 1;
  }
  if (msg->argData.data == nullptr || msg->arglistLength > msg->argData.size) return 0;
  TesselArena* arena = msg->arena();
  if (arena == nullptr) return 0;
  return tessel_decodeDatum(msg->argData.data, msg->arglistLength, offset, out, arena);
}

int tessel_msgNextDatum(TesselServiceMsg* msg, Tessel_event* out) {
  if (msg == nullptr || out == nullptr) return 0;
  uint32_t offset = msg->readOffset_;
  if (!decodeAt(msg, &offset, out)) return 0;
  msg->readOffset_ = out->type == 0 ? 0 : offset;
  return 1;
}

void tessel_msgRewind(TesselServiceMsg* msg) {
  if (msg != nullptr) msg->readOffset_ = 0;
}

int tessel_msgFindDatum(TesselServiceMsg* msg, const char* name, Tessel_event* out) {
  if (msg == nullptr || name == nullptr) return 0;
  uint32_t offset = 0;
  Tessel_event d;
  while (decodeAt(msg, &offset, &d) && d.type != 0) {
    if (strcmp(d.name, name) == 0) {
      *out = d;
      return 1;
    }
  }
  return 0;
}
