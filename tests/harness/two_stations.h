// Two stations on one machine for end-to-end tests, made by
// scripts/stations.sh: each station has its own network, mount and UTS
// namespaces, its own host name, /etc/hosts and rpcbind, and the two are
// joined by a veth pair (first station 10.201.0.1, second 10.201.0.2).  Both
// host names resolve on both stations.
//
// A TwoStations object owns the stations and a temporary directory holding
// their state and logs: the constructor brings them up, the destructor takes
// them down (every process inside them ends) and removes the directory.  If
// the test process dies first, a watchdog of the script takes them down.
//
// Programs run inside a station get the test's environment plus the entries
// given (pass "OVI_ROOT=..." to give each station its own files) and the
// test's working directory; the file system is the host's apart from /run.
//
// Usage:
//   TwoStations two;
//   OVI_REQUIRE_TWO_STATIONS(two);   // skips when namespaces are unavailable
//   std::string out;
//   EXPECT_EQ(0, two.run("alpha", {"/usr/bin/rpcinfo", "-p"}, &out));
#ifndef TESTS_HARNESS_TWO_STATIONS_H_
#define TESTS_HARNESS_TWO_STATIONS_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "harness/process.h"

class TwoStations {
 public:
  explicit TwoStations(const std::string& first = "alpha", const std::string& second = "beta");
  ~TwoStations();
  TwoStations(const TwoStations&) = delete;
  TwoStations& operator=(const TwoStations&) = delete;

  // False when this machine cannot make the namespaces (not root, tools
  // missing, no permission); the test should skip.
  bool available() const { return available_; }
  // True while both stations run.
  bool up() const { return up_; }
  // Why they are not available or not up: the script's messages.
  const std::string& why() const { return why_; }

  const std::string& dir() const { return dir_; }
  const std::string& first() const { return names_[0]; }
  const std::string& second() const { return names_[1]; }
  // The station's veth address ("10.201.0.1"), "" for an unknown station.
  std::string address(const std::string& station) const;
  // Value of the script's status line "KEY=VALUE" (e.g. "alpha.netns"), ""
  // when absent.  Read when the stations came up.
  std::string status(const std::string& key) const;

  // Runs argv (argv[0] a path or a name on PATH) inside the station to its
  // end, at most `seconds`; returns the wait status (-1 when it could not be
  // started) and its standard output and error in *out and *err.
  int run(const std::string& station, const std::vector<std::string>& argv, std::string* out,
          double seconds = 30, const std::vector<std::string>& env = {},
          std::string* err = nullptr) const;
  // Starts argv inside the station in *proc; proc->pid() is the program's own
  // pid, so proc->stop() signals it directly.  True when it started.
  bool start(Process* proc, const std::string& station, const std::vector<std::string>& argv,
             const std::vector<std::string>& env = {}) const;
  // Pids of every process now inside the station.
  std::vector<pid_t> pids(const std::string& station) const;

  // Ends every process inside the stations and removes the namespaces; true
  // when nothing is left.  Safe to call again; the destructor calls it.
  bool down();

 private:
  std::vector<std::string> command(const std::string& verb) const;

  std::string names_[2];
  std::string dir_;
  std::vector<std::pair<std::string, std::string>> status_;
  bool available_ = false;
  bool up_ = false;
  std::string why_;
};

// Skips the current test when namespaces are unavailable here and fails it
// when the stations did not come up for another reason.
#define OVI_REQUIRE_TWO_STATIONS(two)                                        \
  do {                                                                       \
    if (!(two).available()) GTEST_SKIP() << "two stations: " << (two).why(); \
    ASSERT_TRUE((two).up()) << "two stations did not come up: " << (two).why(); \
  } while (0)

#endif  // TESTS_HARNESS_TWO_STATIONS_H_
