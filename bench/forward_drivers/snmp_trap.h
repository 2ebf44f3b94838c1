// SNMPv2c trap datagrams for the peer forwarder's measurement, encoded by
// hand (BER) so that the sender needs no SNMP library and costs little.
#ifndef BENCH_FORWARD_SNMP_TRAP_H_
#define BENCH_FORWARD_SNMP_TRAP_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

// BER pieces: a length, a whole tag-length-value, an integer of the given
// tag (two's complement, fewest bytes; `isUnsigned` keeps a leading zero
// byte where the top bit is set), an object identifier from dotted text.
// berOid returns "" for a text that is not an object identifier of at least
// two arcs.
std::string ber_length(size_t n);
std::string ber_tlv(unsigned char tag, const std::string& content);
std::string ber_integer(unsigned char tag, int64_t value, bool isUnsigned = false);
std::string ber_oid(const char* dotted);

// A whole SNMPv2c trap message: sysUpTime.0, snmpTrapOID.0, ifIndex and a
// text varbind that holds `text` padded with "x" so that the datagram is
// `size` bytes (or as near below as the encoding allows; never shorter than
// with `text` alone).
std::string snmp_v2cTrap(const std::string& community, int32_t requestId, uint32_t uptime,
                         const std::string& text, size_t size);

#endif  // BENCH_FORWARD_SNMP_TRAP_H_
