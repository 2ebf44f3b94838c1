// Base class of the framework's agents: signal masking, configuration
// look-up, file locks and the status of the request being handled.
#ifndef PLATFORM_TESSEL_TESSEL_OBJECT_H_
#define PLATFORM_TESSEL_TESSEL_OBJECT_H_

#include <signal.h>

#include "tessel/tessel_types.h"

// Status returned to the sender of the request being handled: cleared by the
// forwarding library before each request, sent back in its reply.
extern Tessel_error tessel_requestStatus;

class TesselObject {
 public:
  TesselObject();

  // Blocks every signal; returns the mask in force before.  While signals
  // are held (below) it makes no system call.
  virtual sigset_t blockSignals();
  // The framework's agents keep no children of their own: nothing to signal.
  // Returns the number of processes signalled (0).
  virtual int killAll(int signo);
  // Text configured for keyword in orx.conf, or null.
  virtual const char* lookup(const char* keyword);
  // Exclusive lock on an open file; 1 on success, 0 on failure.
  virtual int lockFile(int fd);
  // Records an error status for the current request; returns 1.
  virtual int sendError(int code, const char* text);
  // Restores a mask returned by blockSignals.
  virtual void unblockSignals(sigset_t mask);

  // A loop that waits in pselect() with the normal mask may hold every
  // signal blocked the rest of the time: handlers then run only while it
  // waits, and blockSignals/unblockSignals inside it make no system call
  // (unblockSignals leaves every signal blocked).
  // holdSignals blocks them all and returns the normal mask; a child forked
  // while they are held gets the normal mask back at once (a fork handler
  // calls releaseHeldSignals), and so does a holder that releases them.
  static sigset_t holdSignals();
  static void releaseHeldSignals();
  // Releases a lock taken with lockFile; 1 on success, 0 on failure.
  virtual int unlockFile(int fd);

  virtual ~TesselObject();

  // Records the failure status (and a message made from format) that the
  // forwarding library returns to the sender of the request being handled.
  void formatStatus(int status, int code, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

  int status;  // 0 after construction
};

#endif  // PLATFORM_TESSEL_TESSEL_OBJECT_H_
