// XDR routines for whole messages and reply statuses, as given to clnt_call
// and the RPC service.
//
// A message travels in an envelope: the body as counted opaque bytes, then
// the CRC-32 of the body.  The body holds: unsigned format (1), type, flags,
// count, interval seconds and microseconds, priority, agent program and
// version, time seconds and microseconds, the texts host<127>, group<127>,
// system<63> and key<63>, then the argument list as counted opaque bytes that
// end where the body ends.
//
// The envelope is read in pieces as its bytes actually arrive, so a forged
// size costs no more memory than the input that came with it; the checksum
// refuses a datagram cut short, which a UDP service would otherwise complete
// with what its buffer held from an earlier request.  The body is then
// decoded from memory and its argument list checked to be well formed.
#ifndef PLATFORM_TESSEL_TESSEL_XDR_H_
#define PLATFORM_TESSEL_TESSEL_XDR_H_

#include <rpc/rpc.h>
#include <stddef.h>
#include <stdint.h>

#include "tessel/tessel_service_msg.h"
#include "tessel/tessel_types.h"

// Encodes msg (XDR_ENCODE) or decodes into a freshly constructed msg
// (XDR_DECODE); XDR_FREE does nothing, the message frees its own storage.
bool_t _tessel_serialMsg(XDR* xdrs, TesselServiceMsg* msg);

// Encodes or decodes nothing: the argument and result of NULL procedures.
bool_t tessel_xdrVoid(XDR* xdrs, void* nothing);

// CRC-32 (IEEE) of n bytes.
uint32_t tessel_crc32(const void* data, size_t n);

// The status record of a reply.
bool_t _tessel_xdrStatus(XDR* xdrs, Tessel_error* status);

#endif  // PLATFORM_TESSEL_TESSEL_XDR_H_
