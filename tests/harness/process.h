// Child processes for end-to-end tests: started with their output captured
// in files, waited for with bounds, and always ended by their pid.
//
// A pid is signalled only while it cannot name another process: a Process
// signals its own child until it has waited for it, and a process the test
// did not start (a subprocess of the daemon) is signalled through a pidfd
// after a check of its parent (HeldChild, signalChildOf).
#ifndef TESTS_HARNESS_PROCESS_H_
#define TESTS_HARNESS_PROCESS_H_

#include <signal.h>
#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

class Process {
 public:
  Process();
  ~Process();  // ends the process if it still runs
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts argv[0] with the arguments; env entries ("NAME=value") are added
  // to the inherited environment.  Returns true when the process started.
  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

  pid_t pid() const { return pid_; }
  bool running();

  // Standard output (and error) so far.
  std::string output() const;
  std::string errors() const;
  // Lines of standard output so far.
  std::vector<std::string> lines() const;

  // Waits until the output contains needle; false after `seconds`.
  bool waitForOutput(const std::string& needle, double seconds);
  // Waits until the output has at least n lines; false after `seconds`.
  bool waitForLines(size_t n, double seconds);

  // Sends signo; false once the process has been waited for.  Until then
  // its pid stays its own, even after it has ended.
  bool signal(int signo);

  // Waits for the exit; returns the wait status, or -1 after `seconds`.
  int wait(double seconds);
  // Sends signo, waits up to `seconds`, then SIGKILL; returns the wait status.
  int stop(int signo = SIGTERM, double seconds = 5);

 private:
  pid_t pid_;
  int status_;
  std::string dir_;
};

// A process the test did not start but knows as a child of one it did, held
// through a pidfd taken while it was that parent's live child: signals reach
// that process, even after the parent has ended and it has been orphaned,
// and never another that was given its pid.
class HeldChild {
 public:
  HeldChild(pid_t parent, pid_t pid);
  ~HeldChild();
  HeldChild(const HeldChild&) = delete;
  HeldChild& operator=(const HeldChild&) = delete;

  // True when pid was a live child of parent when this was made.
  bool held() const { return fd_ >= 0; }
  // Sends signo; true when the held process still existed to receive it.
  bool signal(int signo) const;

 private:
  int fd_;
};

// Sends signo to pid only when it is, at that moment, a live child of
// parent; true when it was signalled.
bool signalChildOf(pid_t parent, pid_t pid, int signo);

// Runs a program to its end (at most `seconds`); returns the wait status
// (-1 when it could not start) and its standard output in *out and standard
// error in *err.
int runProgram(const std::vector<std::string>& argv, std::string* out, double seconds = 30,
               const std::vector<std::string>& env = {}, std::string* err = nullptr);

// True for the wait status of a program that ran and exited with status 0.
bool exitedZero(int status);

// The lines of p's standard output so far that contain part.
std::vector<std::string> linesWith(const Process& p, const std::string& part);

// The contents of a file, "" when it cannot be read.
std::string readFile(const std::string& path);

// Polls until ready() is true; false after `seconds`.
template <typename Ready>
bool waitUntil(Ready ready, double seconds);

// The state letter of /proc/PID/stat ('Z' for a zombie), or 0 when the
// process is gone.
char processState(pid_t pid);

// Pids whose parent is pid, with their state letters.
std::vector<std::pair<pid_t, char>> childrenOf(pid_t parent);
// The live children of pid.
std::set<pid_t> liveChildren(pid_t parent);
// True once pid has no child left unreaped.
bool noZombies(pid_t parent);

double monotonicSeconds();
void sleepSeconds(double s);

template <typename Ready>
bool waitUntil(Ready ready, double seconds) {
  double deadline = monotonicSeconds() + seconds;
  while (!ready()) {
    if (monotonicSeconds() > deadline) return false;
    sleepSeconds(0.02);
  }
  return true;
}

#endif  // TESTS_HARNESS_PROCESS_H_
