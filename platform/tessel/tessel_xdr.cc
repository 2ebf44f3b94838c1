#include "tessel/tessel_xdr.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <new>

#include "tessel/tessel_codec.h"

namespace {

enum : u_int { kWireFormat = 1 };
enum : u_int { kPiece = 64 * 1024 };
// Header fields and texts take well under this.
enum : u_int { kMaxEnvelope = TESSEL_MAX_ARGLIST + 4096 };

}  // namespace

uint32_t tessel_crc32(const void* data, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t c = i;
      for (int k = 0; k < 8; k++) c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  }
  uint32_t c = 0xffffffffu;
  while (n-- > 0) c = table[(c ^ *p++) & 0xff] ^ (c >> 8);
  return c ^ 0xffffffffu;
}

namespace {

bool_t xdrText(XDR* x, char* field, u_int width) {
  if (x->x_op == XDR_ENCODE) field[width - 1] = '\0';
  char* p = field;
  return xdr_string(x, &p, width - 1);
}

// The message's fields and argument list, inside the envelope.
bool_t xdrBody(XDR* x, TesselServiceMsg* msg, u_int available) {
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
  u_int length = msg->arglistLength;
  if (x->x_op == XDR_ENCODE) {
    if (length > 0 && (msg->argData.data == nullptr || length > msg->argData.size)) return FALSE;
    return xdr_u_int(x, &length) && (length == 0 || xdr_opaque(x, msg->argData.data, length));
  }
  if (!xdr_u_int(x, &length) || length > TESSEL_MAX_ARGLIST) return FALSE;
  // The argument list must end exactly where the body does.
  if (((length + 3) & ~3u) != available - xdr_getpos(x)) return FALSE;
  if (length == 0) {
    msg->adoptData(nullptr, 0);  // a message without data
    return TRUE;
  }
  char* block = static_cast<char*>(malloc(length));
  if (block == nullptr || !xdr_opaque(x, block, length) || !tessel_checkArglist(block, length)) {
    free(block);
    return FALSE;
  }
  msg->adoptData(block, length);
  return TRUE;
}

u_int bodySize(TesselServiceMsg* msg) {
  auto text = [](const char* s, size_t width) { return 4 + ((strnlen(s, width - 1) + 3) & ~3u); };
  return 11 * 4 + text(msg->host, sizeof msg->host) + text(msg->group, sizeof msg->group) +
         text(msg->system, sizeof msg->system) + text(msg->key, sizeof msg->key) + 4 +
         ((msg->arglistLength + 3) & ~3u);
}

bool_t encode(XDR* x, TesselServiceMsg* msg) {
  if (msg->arglistLength > TESSEL_MAX_ARGLIST) return FALSE;
  u_int size = bodySize(msg);
  std::unique_ptr<char[]> body(new (std::nothrow) char[size]);
  if (!body) return FALSE;
  XDR bx;
  xdrmem_create(&bx, body.get(), size, XDR_ENCODE);
  bool_t ok = xdrBody(&bx, msg, size) && xdr_getpos(&bx) == size;
  xdr_destroy(&bx);
  u_int crc = tessel_crc32(body.get(), size);
  return ok && xdr_u_int(x, &size) && xdr_opaque(x, body.get(), size) && xdr_u_int(x, &crc);
}

bool_t decode(XDR* x, TesselServiceMsg* msg) {
  u_int size;
  if (!xdr_u_int(x, &size) || size > kMaxEnvelope) return FALSE;
  // Grow with the bytes that actually arrive, never ahead of them by more
  // than a piece, so that a forged size costs no memory.
  char* body = nullptr;
  u_int have = 0;
  while (have < size) {
    u_int piece = size - have < kPiece ? size - have : kPiece;
    char* grown = static_cast<char*>(realloc(body, have + piece));
    if (grown == nullptr) break;
    body = grown;
    if (!xdr_opaque(x, body + have, piece)) break;
    have += piece;
  }
  u_int crc;
  bool_t ok = have == size && xdr_u_int(x, &crc) &&
              crc == tessel_crc32(body, size);
  if (ok) {
    XDR bx;
    xdrmem_create(&bx, body, size, XDR_DECODE);
    ok = xdrBody(&bx, msg, size);
    xdr_destroy(&bx);
  }
  free(body);
  return ok;
}

}  // namespace

bool_t _tessel_serialMsg(XDR* x, TesselServiceMsg* msg) {
  if (x->x_op == XDR_FREE) return TRUE;
  return x->x_op == XDR_ENCODE ? encode(x, msg) : decode(x, msg);
}

bool_t tessel_xdrVoid(XDR*, void*) { return TRUE; }

bool_t _tessel_xdrStatus(XDR* x, Tessel_error* status) {
  if (x->x_op == XDR_FREE) return TRUE;
  return xdr_int(x, &status->status) && xdr_int(x, &status->code) && xdr_int(x, &status->index) &&
         xdrText(x, status->message, sizeof status->message);
}
