// Feeds arbitrary message bodies to what the daemon process does with a
// message of its RPC service before any side effect: the decoding of the
// whole message, the reading of an action request's options
// (Daemon::getRequestArgs) and the forwarded-by check of a report
// (Daemon::checkReport).
//
// The input is the body of the message's envelope; the fuzzer adds the
// envelope and its checksum, which a mutation would otherwise break, so that
// the mutations reach the decoder of the body and of its argument list.
#include <arpa/inet.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

#include "daemon.h"
#include "tessel/tessel_codec.h"
#include "tessel/tessel_xdr.h"
#include "vant/vant_agent.h"
#include "vant/vant_fetch.h"

namespace {

void putWord(std::vector<char>* out, uint32_t word) {
  uint32_t net = htonl(word);
  const char* p = reinterpret_cast<const char*>(&net);
  out->insert(out->end(), p, p + 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Daemon* daemon = new Daemon(Daemon::Detached{});
  if (size > TESSEL_MAX_ARGLIST) return 0;
  std::vector<char> envelope;
  putWord(&envelope, static_cast<uint32_t>(size));
  envelope.insert(envelope.end(), data, data + size);
  envelope.resize(envelope.size() + ((4 - size % 4) % 4), '\0');
  putWord(&envelope, tessel_crc32(data, size));

  XDR x;
  xdrmem_create(&x, envelope.data(), envelope.size(), XDR_DECODE);
  TesselServiceMsg msg;
  bool decoded = _tessel_serialMsg(&x, &msg);
  xdr_destroy(&x);
  if (!decoded) return 0;

  aTesselVantRendez = &msg;
  Request request;
  memset(&request, 0, sizeof request);
  daemon->getRequestArgs(request);
  daemon->checkReport(msg.type, msg.system, msg.group, msg.key, msg.flags);
  for (unsigned int type : {4u, 5u, 12u}) daemon->executeCheck(type, msg.system, msg.group, msg.key);
  aTesselVantRendez = nullptr;
  return 0;
}
