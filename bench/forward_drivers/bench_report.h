// The reports of the forwarding benchmark and how a report names the
// measurement it belongs to.
#ifndef BENCH_FORWARD_BENCH_REPORT_H_
#define BENCH_FORWARD_BENCH_REPORT_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "tessel/tessel_service_msg.h"

// Makes msg a plain trap (type 12, agent program 0) from host `from` with
// the data ifIndex (int 3), enterprise (oid 1.3.6.1.4.1.11) and text (a
// string) whose length brings the argument list to `size` bytes, or as
// close above as the encoding allows (never shorter than with an empty
// text).  Returns 0 when the message cannot hold it.
int bench_buildTrap(TesselServiceMsg* msg, const std::string& from, size_t size);

// The same trap as forwarded by another station: it also carries
// "vant_forwarded_by" naming a third host, so that a subprocess looks up its
// console's host name for the loop check before it delivers it.
int bench_buildForwardedTrap(TesselServiceMsg* msg, const std::string& from, size_t size);

// Makes msg a database-manager trap (agent program 100110, group
// "tessel_db_config") from host `from` announcing that `element` was added.
// Returns 0 when the message cannot hold it.
int bench_buildDbTrap(TesselServiceMsg* msg, const std::string& from, const std::string& element);

// Writes the run number into the message's key field ("bench-RUN"), which
// forwarding leaves as it is; bench_runOfKey reads it back (0 when the key
// names no run).
void bench_setRun(TesselServiceMsg* msg, uint32_t run);
uint32_t bench_runOfKey(const char* key);

#endif  // BENCH_FORWARD_BENCH_REPORT_H_
