#include "pacer.h"

#include <sys/prctl.h>
#include <time.h>

#include "cli.h"

Pacer::Pacer(double rate) : interval_(rate > 0 ? 1.0 / rate : 0), next_(cli_now()) {
  // The default slack of 50 us would bunch sends at high rates.
  if (rate > 0) prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
}

void Pacer::wait() {
  if (interval_ == 0) return;
  if (cli_now() < next_) {
    struct timespec at;
    at.tv_sec = static_cast<time_t>(next_);
    at.tv_nsec = static_cast<long>((next_ - at.tv_sec) * 1e9);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
  }
  next_ += interval_;
}
