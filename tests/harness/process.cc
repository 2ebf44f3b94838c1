#include "process.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

double monotonicSeconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

void sleepSeconds(double s) {
  struct timespec ts = {static_cast<time_t>(s), static_cast<long>((s - (long)s) * 1e9)};
  nanosleep(&ts, nullptr);
}

static std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

Process::Process() : pid_(-1), status_(-1) {
  char tmpl[] = "/tmp/ovi_proc_XXXXXX";
  dir_ = mkdtemp(tmpl);
}

Process::~Process() {
  if (pid_ > 0 && status_ == -1) stop(SIGKILL, 5);
  std::string cmd = "rm -rf " + dir_;
  if (system(cmd.c_str()) != 0) {
  }
}

bool Process::start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  fflush(nullptr);
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int out = open((dir_ + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open((dir_ + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    for (const std::string& e : env) putenv(strdup(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  status_ = -1;
  return true;
}

bool Process::running() {
  if (pid_ <= 0 || status_ != -1) return false;
  int status;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    return false;
  }
  return true;
}

std::string Process::output() const { return readFile(dir_ + "/stdout"); }
std::string Process::errors() const { return readFile(dir_ + "/stderr"); }

std::vector<std::string> Process::lines() const {
  std::vector<std::string> out;
  std::istringstream in(output());
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

bool Process::waitForOutput(const std::string& needle, double seconds) {
  return waitUntil([&] { return output().find(needle) != std::string::npos; }, seconds);
}

bool Process::waitForLines(size_t n, double seconds) {
  return waitUntil([&] { return lines().size() >= n; }, seconds);
}

int Process::wait(double seconds) {
  if (pid_ <= 0) return -1;
  if (status_ != -1) return status_;
  waitUntil([&] { return !running(); }, seconds);
  return status_;
}

int Process::stop(int signo, double seconds) {
  if (pid_ <= 0) return -1;
  if (running()) kill(pid_, signo);
  if (wait(seconds) == -1) {
    kill(pid_, SIGKILL);
    wait(5);
  }
  return status_;
}

int runProgram(const std::vector<std::string>& argv, std::string* out, double seconds,
               const std::vector<std::string>& env) {
  Process p;
  if (!p.start(argv, env)) return -1;
  int status = p.wait(seconds);
  if (status == -1) status = p.stop(SIGKILL);
  if (out != nullptr) *out = p.output();
  return status;
}

char processState(pid_t pid) {
  FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return 0;
  char state = 0;
  if (fscanf(f, "%*d (%*[^)]) %c", &state) != 1) state = 0;
  fclose(f);
  return state;
}
