// A value object around one ONC RPC client handle.
//
// TesselClient is 44 bytes so that it can be copied byte for byte into the
// client slot of a message; such a copy shares the handle with its original
// and must never be destroyed.  Only the original closes the handle
// (destroyClient or the destructor).
#ifndef PLATFORM_TESSEL_TESSEL_CLIENT_H_
#define PLATFORM_TESSEL_TESSEL_CLIENT_H_

#include <netinet/in.h>
#include <rpc/rpc.h>
#include <stdint.h>
#include <sys/time.h>

#include "tessel/tessel_service_msg.h"

enum { TESSEL_PROTO_UDP = 17, TESSEL_PROTO_TCP = 6 };

// Largest datagram the library's UDP clients and services send or receive.
enum { TESSEL_UDP_BUFSIZE = 65000 };

#pragma pack(push, 4)
class TesselClient {
 public:
  TesselClient();
  ~TesselClient();  // closes the handle, like destroyClient()
  TesselClient(const TesselClient&) = delete;
  TesselClient& operator=(const TesselClient&) = delete;

  // Opens a client for program/version on host over protocol 17 (UDP) or 6
  // (TCP): asks the host's rpcbind for the port, then (TCP) connects, each
  // step bounded by timeout.  `reserved` must be 0.  Returns non-zero on
  // success; on failure clnt_spcreateerror("") says why.
  int getClient(struct in_addr host, unsigned long protocol, unsigned long program,
                unsigned long version, unsigned int reserved, struct timeval timeout);

  // Closes the handle, if any.
  void destroyClient();

  // Copies this object byte for byte into the message's client slot.
  void loadInto(TesselServiceMsg* msg) const;

  // The handle a message's client slot holds, or null.
  static CLIENT* handleIn(const TesselServiceMsg* msg);

  CLIENT* handle() const { return handle_; }
  int protocol() const { return protocol_; }

  // The fields are public only so that the layout stays standard; use the
  // accessors.
  int32_t status;  // 0: constructed
  int32_t protocol_;
  CLIENT* handle_;
  uint32_t program_;
  uint32_t version_;
  struct in_addr addr_;
  int32_t timeoutSec_;
  int32_t timeoutUsec_;
  uint32_t reserved_[2];
};
#pragma pack(pop)

static_assert(sizeof(TesselClient) == TESSEL_CLIENT_SLOT, "a client fills the message's client slot");

// Port of program/version/protocol on host from its rpcbind, within timeout.
// Returns 0 and sets rpc_createerr when it cannot be found.
unsigned short tessel_getport(struct in_addr host, unsigned long program, unsigned long version,
                              unsigned long protocol, struct timeval timeout);

// Resolves a host name or dotted address to an IPv4 address.  Returns 1 on
// success.
int tessel_resolve(const char* host, struct in_addr* addr);

// Makes program/version free for this process to register with the local
// rpcbind: a registration whose server no longer answers is removed.
// Returns 1 when the program can be registered, 0 when a live server holds it.
int tessel_claimProgram(unsigned long program, unsigned long version);
#endif  // PLATFORM_TESSEL_TESSEL_CLIENT_H_
