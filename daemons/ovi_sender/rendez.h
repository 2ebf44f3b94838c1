// One registered receiver (a rendezvous) and its forwarding subprocess, and
// the reports waiting for that subprocess.
#ifndef DAEMONS_OVI_SENDER_RENDEZ_H_
#define DAEMONS_OVI_SENDER_RENDEZ_H_

#include <netinet/in.h>
#include <stdint.h>
#include <sys/types.h>

#include "request.h"
#include "tessel/tessel_list.h"

// Most reports a rendezvous's cache holds; later ones are lost for it alone.
enum { REPORT_CACHE_LIMIT = 1024 };

// A report waiting to be transferred: owned copies of the 600-byte message
// image and of the argument-list bytes (as many as the image's last word
// says).  Whoever removes it frees header, then arglistData, then the entry.
struct CachedReport {
  unsigned char* header;
  char* arglistData;
};

// Owned by Daemon::rendezList.  In the daemon the descriptors are its ends of
// the three pipes; in the subprocess, the subprocess's ends.
struct Rendez {
  pid_t subproc_pid;        // forwarding subprocess
  pid_t sync_pid;           // synchronisation subprocess, 0 when none
  struct in_addr rendez_addr;
  uint32_t rendez_prog;
  uint32_t rendez_vers;
  char filter_file[REQUEST_TEXT_SIZE];
  char orx_name[REQUEST_TEXT_SIZE];
  char recv_orx[REQUEST_TEXT_SIZE];
  int control_out_fd;       // ok_to_read bytes to the child / ok_to_write bytes to the parent
  int control_in_fd;        // the other direction; non-blocking on both sides
  int data_fd;              // report bytes, parent to child
  TesselList* report_cache; // CachedReport entries, oldest first
  // Told to end (replaced or deleted) and waiting to be reaped: no request
  // matches it any more and it is never restarted, so that requests that
  // follow one another closely leave one registration, not several.
  bool ending;
};

#endif  // DAEMONS_OVI_SENDER_RENDEZ_H_
