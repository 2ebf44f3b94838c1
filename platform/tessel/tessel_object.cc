#include "tessel/tessel_object.h"

#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include "tessel/tessel_config.h"

Tessel_error tessel_requestStatus;

TesselObject::TesselObject() : status(0) {}

TesselObject::~TesselObject() {}

namespace {

// Set while every signal is held blocked; the mask to give back then.
bool held = false;
sigset_t normalMask;

}  // namespace

sigset_t TesselObject::blockSignals() {
  sigset_t all, previous;
  sigfillset(&all);
  if (held) return all;
  sigprocmask(SIG_BLOCK, &all, &previous);
  return previous;
}

void TesselObject::unblockSignals(sigset_t mask) {
  // Held, every signal stays blocked until the holder waits or releases.
  if (held) return;
  sigprocmask(SIG_SETMASK, &mask, nullptr);
}

sigset_t TesselObject::holdSignals() {
  // Every child forked while they are held starts with the normal mask.
  static bool forkHandler = pthread_atfork(nullptr, nullptr, releaseHeldSignals) == 0;
  (void)forkHandler;
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &normalMask);
  held = true;
  return normalMask;
}

void TesselObject::releaseHeldSignals() {
  if (!held) return;
  held = false;
  sigprocmask(SIG_SETMASK, &normalMask, nullptr);
}

int TesselObject::killAll(int) { return 0; }

const char* TesselObject::lookup(const char* keyword) { return tessel_getConfig(keyword); }

int TesselObject::lockFile(int fd) { return lockf(fd, F_LOCK, 0) == 0; }

int TesselObject::unlockFile(int fd) { return lockf(fd, F_ULOCK, 0) == 0; }

int TesselObject::sendError(int code, const char* text) {
  formatStatus(code, code, "%s", text != nullptr ? text : "");
  return 1;
}

void TesselObject::formatStatus(int statusValue, int code, const char* format, ...) {
  tessel_requestStatus.status = statusValue;
  tessel_requestStatus.code = code;
  tessel_requestStatus.index = 0;
  va_list ap;
  va_start(ap, format);
  vsnprintf(tessel_requestStatus.message, sizeof tessel_requestStatus.message, format, ap);
  va_end(ap);
}
