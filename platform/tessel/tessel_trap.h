// Sending traps from an agent: start a trap once (its addressing), then add
// data and send as often as needed.  The started trap keeps its addressing
// after a send; each send carries the data added since the previous one.
// The state is process-wide: a forked child works on its own copy.
#ifndef PLATFORM_TESSEL_TESSEL_TRAP_H_
#define PLATFORM_TESSEL_TESSEL_TRAP_H_

#include <sys/time.h>

#include "tessel/tessel_types.h"

// Largest argument list a trap or a delivery sends over UDP; longer ones go
// over TCP.
enum { TESSEL_UDP_LIMIT = 6144 };

// Starts a trap (message type 12) from sendingHost, agent program and version
// sendingProg/sendingVers, in schema group `group`, to program destProg
// version destVers on destHost.  `mode` is the priority the trap carries
// (1 low, 2 med, 3 high).  The destination is looked up within timeout.
// Returns non-zero when the trap was started; tessel_sperror() says why not.
int tessel_start_trap(const char* sendingHost, unsigned long sendingProg, unsigned long sendingVers,
                      const char* group, const char* destHost, unsigned long destProg,
                      unsigned long destVers, int mode, struct timeval timeout);

// Adds one datum to the started trap.  *status is set to 0 on success and to
// -1 otherwise.  Returns non-zero on success.
int tessel_build_report(const Tessel_data* datum, int* status);

// Sends the started trap with the data added since the last send, waiting at
// most timeout for the receiver's answer (a zero timeout waits the library's
// default of 5 s).  The data are cleared whatever the outcome.  Returns
// non-zero when the receiver accepted the trap.  The two pointers are
// reserved and must be null.
int tessel_send_report(struct timeval timeout, void* reserved1, void* reserved2);

#endif  // PLATFORM_TESSEL_TESSEL_TRAP_H_
