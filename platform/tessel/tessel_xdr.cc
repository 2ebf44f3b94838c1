#include "tessel/tessel_xdr.h"

#include <stdlib.h>
#include <string.h>

#include "tessel/tessel_codec.h"

namespace {

enum : u_int { kWireFormat = 1 };
enum : u_int { kPiece = 64 * 1024 };

bool_t xdrText(XDR* x, char* field, u_int width) {
  if (x->x_op == XDR_ENCODE) field[width - 1] = '\0';
  char* p = field;
  return xdr_string(x, &p, width - 1);
}

bool_t encodeArglist(XDR* x, TesselServiceMsg* msg) {
  u_int length = msg->arglistLength;
  if (length > TESSEL_MAX_ARGLIST) return FALSE;
  if (length > 0 && (msg->argData.data == nullptr || length > msg->argData.size)) return FALSE;
  return xdr_u_int(x, &length) && (length == 0 || xdr_opaque(x, msg->argData.data, length));
}

bool_t decodeArglist(XDR* x, TesselServiceMsg* msg) {
  u_int length;
  if (!xdr_u_int(x, &length) || length > TESSEL_MAX_ARGLIST) return FALSE;
  char* block = nullptr;
  u_int have = 0;
  while (have < length) {
    // Grow with the bytes that arrived, never ahead of them by more than a piece.
    u_int piece = length - have < kPiece ? length - have : kPiece;
    char* grown = static_cast<char*>(realloc(block, have + piece));
    if (grown == nullptr) break;
    block = grown;
    if (!xdr_opaque(x, block + have, piece)) break;
    have += piece;
  }
  if (have < length || !tessel_checkArglist(block, length)) {
    free(block);
    return FALSE;
  }
  msg->adoptData(block, length);
  return TRUE;
}

}  // namespace

bool_t _tessel_serialMsg(XDR* x, TesselServiceMsg* msg) {
  if (x->x_op == XDR_FREE) return TRUE;
  u_int format = kWireFormat;
  if (!xdr_u_int(x, &format) || format != kWireFormat) return FALSE;
  bool_t ok = xdr_u_int(x, &msg->type) && xdr_u_int(x, &msg->flags) && xdr_u_int(x, &msg->count) &&
              xdr_int(x, &msg->intervalSec) && xdr_int(x, &msg->intervalUsec) &&
              xdr_int(x, &msg->priority) && xdr_u_int(x, &msg->agentProg) &&
              xdr_u_int(x, &msg->agentVers) && xdr_int(x, &msg->timeSec) &&
              xdr_int(x, &msg->timeUsec) && xdrText(x, msg->host, sizeof msg->host) &&
              xdrText(x, msg->group, sizeof msg->group) &&
              xdrText(x, msg->system, sizeof msg->system) && xdrText(x, msg->key, sizeof msg->key);
  if (!ok) return FALSE;
  return x->x_op == XDR_ENCODE ? encodeArglist(x, msg) : decodeArglist(x, msg);
}

bool_t tessel_xdrVoid(XDR*, void*) { return TRUE; }

bool_t _tessel_xdrStatus(XDR* x, Tessel_error* status) {
  if (x->x_op == XDR_FREE) return TRUE;
  return xdr_int(x, &status->status) && xdr_int(x, &status->code) && xdr_int(x, &status->index) &&
         xdrText(x, status->message, sizeof status->message);
}
