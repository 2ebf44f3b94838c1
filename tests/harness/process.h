// Child processes for end-to-end tests: started with their output captured
// in files, waited for with bounds, and always ended by their pid.
#ifndef TESTS_HARNESS_PROCESS_H_
#define TESTS_HARNESS_PROCESS_H_

#include <signal.h>
#include <sys/types.h>

#include <string>
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

  // Waits for the exit; returns the wait status, or -1 after `seconds`.
  int wait(double seconds);
  // Sends signo, waits up to `seconds`, then SIGKILL; returns the wait status.
  int stop(int signo = SIGTERM, double seconds = 5);

 private:
  pid_t pid_;
  int status_;
  std::string dir_;
};

// Runs a program to its end (at most `seconds`); returns the wait status and
// its standard output in *out.
int runProgram(const std::vector<std::string>& argv, std::string* out, double seconds = 30,
               const std::vector<std::string>& env = {});

// Polls until ready() is true; false after `seconds`.
template <typename Ready>
bool waitUntil(Ready ready, double seconds);

// The state letter of /proc/PID/stat ('Z' for a zombie), or 0 when the
// process is gone.
char processState(pid_t pid);

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
