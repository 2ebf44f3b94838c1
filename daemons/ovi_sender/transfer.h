// The framing of a report between the daemon and a subprocess: a 600-byte
// message image, then the argument list in chunks, each announced by one
// ok_to_read byte and asked for by one ok_to_write byte.
#ifndef DAEMONS_OVI_SENDER_TRANSFER_H_
#define DAEMONS_OVI_SENDER_TRANSFER_H_

#include <stdint.h>
#include <string.h>

enum {
  TRANSFER_HEADER = 600,    // bytes of every message header
  TRANSFER_PIPE_BUF = 5120, // the atomic pipe-write size the framing keeps to
  TRANSFER_CHUNK = 4520,    // PIPE_BUF - header: largest piece of a body
  TRANSFER_ATTEMPTS = 5,    // most reads or writes for one header or chunk
};

// The argument-list length in the last four bytes of a header (host order).
inline uint32_t transfer_arglistLength(const unsigned char* header) {
  uint32_t length;
  memcpy(&length, header + TRANSFER_HEADER - 4, 4);
  return length;
}

// Descriptor count for select: the soft limit on open descriptors, at most
// the size of a descriptor set.
int transfer_descriptorCount();

#endif  // DAEMONS_OVI_SENDER_TRANSFER_H_
