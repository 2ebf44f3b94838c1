// Pacing for the programs that drive a station in tests and benchmarks
// (station_probe, the forwarding benchmark's senders).
#ifndef TOOLS_TEST_SUPPORT_PACER_H_
#define TOOLS_TEST_SUPPORT_PACER_H_

// Sends at `rate` per second (0: as fast as possible).  wait() blocks until
// the next send is due, the first being due at construction; a sender that
// falls behind sends at once, so that the average rate holds.  A signal
// that is caught ends a wait early, so that a sender asked to stop does not
// sleep on.
class Pacer {
 public:
  explicit Pacer(double rate);
  void wait();

 private:
  double interval_;
  double next_;
};

#endif  // TOOLS_TEST_SUPPORT_PACER_H_
