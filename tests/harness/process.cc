#include "process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
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

std::string readFile(const std::string& path) {
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
  // Emptied before the fork: a wait for output right after a second start
  // must not find the first run's.
  for (const char* name : {"/stdout", "/stderr"})
    if (truncate((dir_ + name).c_str(), 0) != 0 && errno != ENOENT) return false;
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

bool Process::signal(int signo) {
  // Only wait() and running() reap the child, and they record its status.
  if (pid_ <= 0 || status_ != -1) return false;
  return kill(pid_, signo) == 0;
}

int Process::stop(int signo, double seconds) {
  if (pid_ <= 0) return -1;
  // Plain kill() is safe: the child has not been waited for (running() and
  // wait() would have recorded it), so its pid is still its own.
  if (running()) kill(pid_, signo);
  if (wait(seconds) == -1) {
    kill(pid_, SIGKILL);
    wait(5);
  }
  return status_;
}

bool exitedZero(int status) {
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int runProgram(const std::vector<std::string>& argv, std::string* out, double seconds,
               const std::vector<std::string>& env, std::string* err) {
  Process p;
  if (!p.start(argv, env)) return -1;
  int status = p.wait(seconds);
  if (status == -1) status = p.stop(SIGKILL);
  if (out != nullptr) *out = p.output();
  if (err != nullptr) *err = p.errors();
  return status;
}

std::vector<std::string> linesWith(const Process& p, const std::string& part) {
  std::vector<std::string> out;
  for (const std::string& l : p.lines())
    if (l.find(part) != std::string::npos) out.push_back(l);
  return out;
}

// The state letter and parent of /proc/PID/stat; false when pid is gone.
// The fields follow the last ')': the command name may hold one.
static bool readStat(pid_t pid, char* state, pid_t* parent) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t end = stat.rfind(')');
  long ppid = 0;
  if (end == std::string::npos || sscanf(stat.c_str() + end + 1, " %c %ld", state, &ppid) != 2)
    return false;
  *parent = static_cast<pid_t>(ppid);
  return true;
}

char processState(pid_t pid) {
  char state = 0;
  pid_t parent;
  return readStat(pid, &state, &parent) ? state : 0;
}

std::vector<std::pair<pid_t, char>> childrenOf(pid_t parent) {
  std::vector<std::pair<pid_t, char>> out;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return out;
  while (struct dirent* e = readdir(proc)) {
    pid_t pid = atoi(e->d_name);
    char state;
    pid_t ppid;
    if (pid > 0 && readStat(pid, &state, &ppid) && ppid == parent) out.emplace_back(pid, state);
  }
  closedir(proc);
  return out;
}

std::set<pid_t> liveChildren(pid_t parent) {
  std::set<pid_t> out;
  for (auto& c : childrenOf(parent))
    if (c.second != 'Z') out.insert(c.first);
  return out;
}

bool noZombies(pid_t parent) {
  for (auto& c : childrenOf(parent))
    if (c.second == 'Z') return false;
  return true;
}

HeldChild::HeldChild(pid_t parent, pid_t pid) : fd_(-1) {
  if (parent <= 0 || pid <= 0) return;
  int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return;
  // Checked once the descriptor is open: if pid has been given to another
  // process by then, the descriptor holds the ended one and signals fail.
  char state = 0;
  pid_t ppid = 0;
  if (readStat(pid, &state, &ppid) && ppid == parent && state != 'Z' && state != 'X') {
    fd_ = fd;
    return;
  }
  close(fd);
}

HeldChild::~HeldChild() {
  if (fd_ >= 0) close(fd_);
}

bool HeldChild::signal(int signo) const {
  return fd_ >= 0 && syscall(SYS_pidfd_send_signal, fd_, signo, nullptr, 0) == 0;
}

bool signalChildOf(pid_t parent, pid_t pid, int signo) {
  return HeldChild(parent, pid).signal(signo);
}
