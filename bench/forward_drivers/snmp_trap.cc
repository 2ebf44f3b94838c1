#include "snmp_trap.h"

#include <stdlib.h>

#include <vector>

std::string ber_length(size_t n) {
  if (n < 0x80) return std::string(1, static_cast<char>(n));
  std::string bytes;
  for (; n > 0; n >>= 8) bytes.insert(bytes.begin(), static_cast<char>(n & 0xff));
  return std::string(1, static_cast<char>(0x80 | bytes.size())) + bytes;
}

std::string ber_tlv(unsigned char tag, const std::string& content) {
  return std::string(1, static_cast<char>(tag)) + ber_length(content.size()) + content;
}

std::string ber_integer(unsigned char tag, int64_t value, bool isUnsigned) {
  std::string bytes;
  uint64_t u = static_cast<uint64_t>(value);
  for (int i = 0; i < 8; i++) bytes.insert(bytes.begin(), static_cast<char>((u >> (8 * i)) & 0xff));
  // Drop leading bytes that only repeat the sign.
  while (bytes.size() > 1) {
    unsigned char first = bytes[0], second = bytes[1];
    bool redundant = (first == 0x00 && !(second & 0x80)) ||
                     (!isUnsigned && first == 0xff && (second & 0x80));
    if (!redundant) break;
    bytes.erase(bytes.begin());
  }
  return ber_tlv(tag, bytes);
}

std::string ber_oid(const char* dotted) {
  std::vector<uint32_t> arcs;
  const char* p = dotted;
  for (;;) {
    char* end;
    if (*p < '0' || *p > '9') return "";  // no sign, blank or empty arc
    unsigned long arc = strtoul(p, &end, 10);
    if (arc > 0xffffffffUL) return "";
    arcs.push_back(static_cast<uint32_t>(arc));
    if (*end == '\0') break;
    if (*end != '.') return "";
    p = end + 1;
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) return "";
  std::string content;
  auto base128 = [&content](uint64_t v) {
    std::string b(1, static_cast<char>(v & 0x7f));
    for (v >>= 7; v > 0; v >>= 7) b.insert(b.begin(), static_cast<char>(0x80 | (v & 0x7f)));
    content += b;
  };
  base128(static_cast<uint64_t>(arcs[0]) * 40 + arcs[1]);
  for (size_t i = 2; i < arcs.size(); i++) base128(arcs[i]);
  return ber_tlv(0x06, content);
}

namespace {

const unsigned char kSequence = 0x30, kInteger = 0x02, kOctets = 0x04, kTicks = 0x43,
                    kTrapPdu = 0xa7;

std::string varbind(const char* oid, const std::string& value) {
  return ber_tlv(kSequence, ber_oid(oid) + value);
}

std::string encode(const std::string& community, int32_t requestId, uint32_t uptime,
                   const std::string& text, size_t pad) {
  std::string binds = varbind("1.3.6.1.2.1.1.3.0", ber_integer(kTicks, uptime, true)) +
                      varbind("1.3.6.1.6.3.1.1.4.1.0", ber_oid("1.3.6.1.4.1.8072.2.3.0.1")) +
                      varbind("1.3.6.1.2.1.2.2.1.1.3", ber_integer(kInteger, 3)) +
                      varbind("1.3.6.1.4.1.8072.2.3.2.1.0",
                              ber_tlv(kOctets, text + std::string(pad, 'x')));
  std::string pdu = ber_integer(kInteger, requestId) + ber_integer(kInteger, 0) +
                    ber_integer(kInteger, 0) + ber_tlv(kSequence, binds);
  return ber_tlv(kSequence, ber_integer(kInteger, 1) + ber_tlv(kOctets, community) +
                                ber_tlv(kTrapPdu, pdu));
}

}  // namespace

std::string snmp_v2cTrap(const std::string& community, int32_t requestId, uint32_t uptime,
                         const std::string& text, size_t size) {
  size_t base = encode(community, requestId, uptime, text, 0).size();
  size_t pad = size > base ? size - base : 0;
  std::string trap = encode(community, requestId, uptime, text, pad);
  // Longer length fields may overshoot: shrink the padding until it fits.
  while (trap.size() > size && pad > 0) trap = encode(community, requestId, uptime, text, --pad);
  return trap;
}
