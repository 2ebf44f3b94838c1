// The walk of a synchronisation subprocess: every element of the management
// database, view by view from "Home", announced in one database-manager trap
// each ("added" = the element's name) to this daemon's own service on the
// local host, so that the traps reach every receiver whose filter passes
// them.  The Daemon members syncRendez, send_db_traps and send_sync_end
// (daemon.h) start the subprocess and end it.
//
// The module state below is process-wide.  The daemon process never touches
// it, so each synchronisation subprocess starts from zeros.
#ifndef DAEMONS_OVI_SENDER_SYNC_H_
#define DAEMONS_OVI_SENDER_SYNC_H_

#include <stdint.h>
#include <sys/time.h>

#include "tessel/tessel_types.h"

// Result of the last start of the element trap: non-zero once one succeeded
// (the started trap is then reused for every element).
extern int32_t sending_traps;
// Data added to the element trap since it was last sent.
extern int32_t nactions;
// Element traps sent since the last pause, and pauses made so far.
extern int32_t rep_count;
extern int32_t change_rep_count;

// Announces every element of the named view, in the database's order, then
// walks each of its sub-views (elements whose type begins "view") the same
// way, in the order met.  The view itself is not announced.  Before the 7th,
// 13th, 19th... trap of the subprocess it pauses: 1 second for the first 200
// pauses, 2 for the next 200, 3 for the next 200, then 4.  A view that
// cannot be enumerated announces nothing; an element that cannot be read is
// announced but not walked.  A view met again inside itself is announced
// but not walked again, so a cycle of views ends.
void process_this_view(const char* view);

// Starts the element trap once per process (from this host, program 100110
// version 10, in `group`, to "localhost" program 100139 version 10) and
// clears nactions.  Returns sending_traps: non-zero when a trap is started.
// A failed start is tried again at the next call.
int vant_sync_start_report(const char* group);

// Adds the text datum name = value (its length counting the NUL) to the
// started trap.  0 when no trap is started, else the library's result.
int vant_sync_build_report(const char* value, const char* name);

// Sends the data added since the last send.  0 when nothing is started or
// nothing was added, else the library's result.
int vant_sync_send_report();

// The protocol-library calls of the element traps and the pacing pause.
// They default to tessel_start_trap, tessel_build_report, tessel_send_report
// and a sleep of whole seconds; tests put recorders in their place.
struct SyncOps {
  int (*startTrap)(const char* sendingHost, unsigned long sendingProg,
                   unsigned long sendingVers, const char* group, const char* destHost,
                   unsigned long destProg, unsigned long destVers, int mode,
                   struct timeval timeout);
  int (*buildReport)(const Tessel_data* datum, int* status);
  int (*sendReport)(struct timeval timeout, void* reserved1, void* reserved2);
  void (*pause)(unsigned int seconds);
};
extern SyncOps sync_ops;

// The default pause: sleeps the whole seconds, signals notwithstanding.
void sync_sleep_seconds(unsigned int seconds);

#endif  // DAEMONS_OVI_SENDER_SYNC_H_
