// A whole station for fault-injection tests, run inside the first of two
// stations in namespaces of their own (its own rpcbind, so the tests need no
// lock on the host's programs): qm.event, ovi_sender and receiving consoles
// (test_receiver), with numbered reports sent by station_probe.
//
// The fixture keeps the set of forwarding subprocesses it expects the daemon
// to have, and checks after each fault that the daemon settled: exactly those
// children alive, no zombie, three pipe descriptors per registration, its
// sockets and files as at start.
#ifndef TESTS_HARNESS_FAULT_STATION_H_
#define TESTS_HARNESS_FAULT_STATION_H_

#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "harness/daemon_fixture.h"
#include "harness/two_stations.h"

// Descriptors of a process by kind, from /proc/PID/fd.
struct Descriptors {
  int pipes = 0;
  int sockets = 0;
  int others = 0;
};

inline Descriptors descriptorsOf(pid_t pid) {
  Descriptors d;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return d;
  while (struct dirent* e = readdir(fds)) {
    if (e->d_name[0] == '.') continue;
    char target[PATH_MAX];
    ssize_t n = readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
    if (n < 0) continue;
    target[n] = '\0';
    if (strncmp(target, "pipe:", 5) == 0) d.pipes++;
    else if (strncmp(target, "socket:", 7) == 0) d.sockets++;
    else d.others++;
  }
  closedir(fds);
  return d;
}

// Resident memory of a process in kB, 0 when unknown.
inline long residentKb(pid_t pid) {
  FILE* f = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (f == nullptr) return 0;
  char line[256];
  long kb = 0;
  while (fgets(line, sizeof line, f) != nullptr)
    if (sscanf(line, "VmRSS: %ld", &kb) == 1) break;
  fclose(f);
  return kb;
}

// True while pid exists and has not ended (a zombie has ended).
inline bool alive(pid_t pid) {
  char state = processState(pid);
  return state != 0 && state != 'Z' && state != 'X';
}

class FaultStation : public ::testing::Test {
 public:
  // A receiving console: test_receiver serving prog at vers (and 10) and
  // the Event program at vers, registered as receiving console `name`.
  struct Console {
    Console(std::string prog, std::string vers, std::string name)
        : prog(std::move(prog)), vers(std::move(vers)), name(std::move(name)) {}
    std::string prog, vers, name;
    std::string addr = "127.0.0.1";
    Process proc;
    pid_t sub = 0;  // its forwarding subprocess, once registered
  };

 protected:
  void SetUp() override {
    OVI_REQUIRE_TWO_STATIONS(two_);
    files_.writeData("f.filter", "default - - - pass all.tmpl\n");
    files_.writeData("all.tmpl", "added membership\n");
    // Consoles on loopback are "localhost"; 127.0.0.2 has no name, so the
    // access list names it by its address.
    files_.writeData("ovi_sender.conf", "localhost office\n127.0.0.2 office\n");
    std::string db = "element Home view.home\n";
    for (int i = 1; i <= 30; i++)
      db += "element n" + std::to_string(i) + " component.router\nmember n" + std::to_string(i) +
            " Home\n";
    files_.loadDatabase("office", db);
    env_ = files_.env();
  }

  void TearDown() override {
    consoles_.clear();
    if (daemon_.running()) daemon_.stop(SIGTERM, 30);
    if (qm_.running()) qm_.stop(SIGTERM, 10);
  }

  // Starts qm.event and ovi_sender at trace level `level`, then takes the
  // daemon's descriptors as they are once qm.event has delivered a report.
  // daemonEnv is added to the daemon's environment; a descriptorLimit above
  // 0 starts the daemon with that soft limit on open descriptors.
  void startStation(const char* level = "1", const std::vector<std::string>& daemonEnv = {},
                    int descriptorLimit = 0) {
    ASSERT_TRUE(two_.start(&qm_, station(), {QM_EVENT_BIN, "-d", "1"}, env_));
    ASSERT_TRUE(qm_.waitForOutput("serving program", 20)) << qm_.errors();
    std::vector<std::string> env = env_;
    env.insert(env.end(), daemonEnv.begin(), daemonEnv.end());
    std::vector<std::string> argv = {OVI_SENDER_BIN, "-d", level};
    if (descriptorLimit > 0)  // the shell execs the daemon: the pid stays the same
      argv.insert(argv.begin(), {"/bin/sh", "-c",
                                 "ulimit -Sn " + std::to_string(descriptorLimit) +
                                     " && exec \"$0\" \"$@\""});
    ASSERT_TRUE(two_.start(&daemon_, station(), argv, env));
    // A subscription of this daemon, not one qm.event restored from its file.
    ASSERT_TRUE(waitUntil([&] {
      std::string out = qm_.output();
      size_t at = out.find(": subscribed ");
      return at != std::string::npos &&
             out.find("program 100139 version 10", at) != std::string::npos;
    }, 30))
        << daemon_.output() << daemon_.errors();
    sendReports(0, 1);
    ASSERT_TRUE(waitUntil([&] { return descriptorsOf(daemon_.pid()).sockets >= 3; }, 20));
    base_ = descriptorsOf(daemon_.pid());
  }

  const std::string& station() const { return two_.first(); }

  // Runs a program of the station to its end; returns its standard output.
  std::string runInStation(const std::vector<std::string>& argv, double seconds = 60) {
    std::string out, err;
    int status = two_.run(station(), argv, &out, seconds, env_, &err);
    EXPECT_EQ(0, status) << argv[0] << ": " << out << err;
    return out;
  }

  Console& addConsole(const std::string& prog, const std::string& vers,
                      std::vector<std::string> options = {}) {
    consoles_.push_back(std::make_unique<Console>(prog, vers, "c" + vers));
    Console& c = *consoles_.back();
    std::vector<std::string> argv = {TEST_RECEIVER_BIN, "--prog", prog, "--vers", vers};
    argv.insert(argv.end(), options.begin(), options.end());
    EXPECT_TRUE(two_.start(&c.proc, station(), argv, env_));
    EXPECT_TRUE(c.proc.waitForOutput("ready", 20)) << c.proc.errors();
    return c;
  }

  // Starts n consoles serving programs firstProg, firstProg + 1, ... at
  // versions 3, 4, ... into *added and registers each; a console that gets
  // no subprocess fails the test.
  void addRegisteredConsoles(long firstProg, int n, std::vector<Console*>* added) {
    for (int i = 0; i < n; i++)
      added->push_back(&addConsole(std::to_string(firstProg + i), std::to_string(3 + i)));
    for (Console* c : *added) ASSERT_GT(registerConsole(*c), 0) << c->name;
  }

  // Sends an action request for the console with the given flags.  An
  // option "NAME=TYPE:VALUE" replaces the usual one of that name or adds to
  // them; "NAME=" leaves it out.  Returns the reply's status line.
  std::string request(const Console& c, const char* flags,
                      const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv = {TESSEL_SEND_BIN, "--prog", "100139", "--type", "6",
                                     "--flags", flags};
    std::vector<std::string> usual = {"tessel_rendez_addr=ipaddr:" + c.addr,
                                      "tessel_rendez_prog=uint:" + c.prog,
                                      "tessel_rendez_vers=uint:" + c.vers,
                                      "vant_filter_file=string:f.filter",
                                      "vant_orx_name=string:office",
                                      "receiving_orx=string:" + c.name};
    for (const std::string& o : options) {
      std::string name = o.substr(0, o.find('='));
      for (auto it = usual.begin(); it != usual.end(); ++it)
        if (it->compare(0, name.size() + 1, name + "=") == 0) {
          usual.erase(it);
          break;
        }
    }
    argv.insert(argv.end(), usual.begin(), usual.end());
    for (const std::string& o : options)
      if (o.find('=') != o.size() - 1) argv.push_back(o);
    return runInStation(argv);
  }

  // The status traps a console received so far, as "status/reason".
  static std::vector<std::string> statusTraps(const Console& c) {
    std::vector<std::string> out;
    const std::string key = "\"vant_register_status\",\"type\":9,\"length\":";
    for (const std::string& l : c.proc.lines()) {
      size_t at = l.find(key);
      if (at == std::string::npos) continue;
      out.push_back(valueAfter(l, at) + "/" +
                    valueAfter(l, l.find("\"vant_register_reason\"", at)));
    }
    return out;
  }

  // Registers the console and finds its new forwarding subprocess.
  pid_t registerConsole(Console& c) {
    size_t traps = statusTraps(c).size();
    EXPECT_EQ("0\n", request(c, "0x80"));
    EXPECT_TRUE(waitUntil([&] { return statusTraps(c).size() > traps; }, 30))
        << c.name << ": no status trap\n" << daemon_.output();
    std::vector<std::string> got = statusTraps(c);
    EXPECT_EQ("succeeded/Running", got.empty() ? "" : got.back());
    pid_t found = 0;
    EXPECT_TRUE(waitUntil([&] {
      std::set<pid_t> now = liveChildren(daemon_.pid());
      if (now.size() != expected_.size() + 1) return false;
      for (pid_t p : now)
        if (!expected_.count(p)) found = p;
      return found != 0;
    }, 30)) << c.name << ": no subprocess";
    c.sub = found;
    if (found != 0) expected_.insert(found);
    return found;
  }

  // Deletes the console's registration and waits until its subprocess is
  // gone.
  void deleteConsole(Console& c) {
    EXPECT_EQ("0\n", request(c, "0x100"));
    EXPECT_TRUE(waitUntil([&] { return !liveChildren(daemon_.pid()).count(c.sub); }, 30));
    forget(c);
  }

  // The console's subprocess is expected to be gone.
  void forget(Console& c) {
    expected_.erase(c.sub);
    c.sub = 0;
  }

  // Sends `count` reports numbered from `first` to qm.event (or to the
  // program given) and waits for every answer.
  void sendReports(int first, int count, int rate = 0, const std::string& prog = "100101") {
    std::vector<std::string> argv = {PROBE_BIN, "reports", "--prog", prog, "--first",
                                     std::to_string(first), "--count", std::to_string(count)};
    if (rate > 0) argv.insert(argv.end(), {"--rate", std::to_string(rate)});
    EXPECT_EQ("sent " + std::to_string(count) + " failed 0\n", runInStation(argv, 300));
  }

  // Starts sending reports in the background.
  void startReports(Process* sender, int first, int count, int rate) {
    ASSERT_TRUE(two_.start(sender, station(),
                           {PROBE_BIN, "reports", "--first", std::to_string(first), "--count",
                            std::to_string(count), "--rate", std::to_string(rate)},
                           env_));
  }

  // The numbers of the reports the console received, in arrival order.
  static std::vector<int> seqs(const Console& c) {
    std::vector<int> out;
    const std::string key = "{\"name\":\"seq\",\"type\":3,\"length\":4,\"value\":";
    for (const std::string& l : c.proc.lines()) {
      if (l.find("\"prog\":100101") == std::string::npos) continue;
      size_t at = l.find(key);
      if (at != std::string::npos) out.push_back(atoi(l.c_str() + at + key.size()));
    }
    return out;
  }

  // Waits until the console received report `last`.
  static bool waitForReport(const Console& c, int last, double seconds = 120) {
    return waitUntil([&] {
      std::vector<int> got = seqs(c);
      return !got.empty() && got.back() >= last;
    }, seconds);
  }

  // Every report from first to last, once each and in order.
  static void expectAll(const Console& c, int first, int last) {
    ASSERT_TRUE(waitForReport(c, last)) << c.name << " got " << seqs(c).size();
    std::vector<int> want;
    for (int i = first; i <= last; i++) want.push_back(i);
    std::vector<int> got;
    for (int s : seqs(c))
      if (s >= first && s <= last) got.push_back(s);
    EXPECT_EQ(want, got) << c.name;
  }

  // Reports received at most once each and in order (some may be missing).
  static void expectIncreasing(const std::vector<int>& got, const std::string& who) {
    for (size_t i = 1; i < got.size(); i++)
      ASSERT_LT(got[i - 1], got[i]) << who << " at " << i;
  }

  // Waits until the daemon has exactly the expected subprocesses and no
  // zombie, then checks its descriptors: `socketsGone` of its sockets at
  // start may have been closed by their peers.
  void expectSettled(int socketsGone = 0) {
    pid_t d = daemon_.pid();
    const int sockets = base_.sockets - socketsGone;
    EXPECT_TRUE(waitUntil([&] { return liveChildren(d) == expected_ && noZombies(d); }, 30))
        << "children " << liveChildren(d).size() << ", expected " << expected_.size();
    const int pipes = base_.pipes + 3 * static_cast<int>(expected_.size());
    EXPECT_TRUE(waitUntil([&] {
      Descriptors now = descriptorsOf(d);
      return now.pipes == pipes && now.sockets == sockets;
    }, 30));
    Descriptors now = descriptorsOf(d);
    EXPECT_EQ(pipes, now.pipes);
    EXPECT_EQ(sockets, now.sockets);
    // The filter module keeps one filter and one template file open.
    EXPECT_LE(now.others, base_.others + 2);
    // A subprocess holds its own three pipe ends and none of the others'.
    for (pid_t p : expected_) {
      if (!alive(p)) continue;
      EXPECT_EQ(base_.pipes + 3, descriptorsOf(p).pipes) << "subprocess " << p;
    }
  }

  TwoStations two_;
  Station files_;
  std::vector<std::string> env_;
  Process qm_, daemon_;
  std::vector<std::unique_ptr<Console>> consoles_;
  std::set<pid_t> expected_;
  Descriptors base_;

 private:
  // The JSON string value that follows the key at `at` in a console line.
  static std::string valueAfter(const std::string& line, size_t at) {
    if (at == std::string::npos) return "";
    size_t v = line.find("\"value\":\"", at);
    if (v == std::string::npos) return "";
    v += 9;
    return line.substr(v, line.find('"', v) - v);
  }
};

#endif  // TESTS_HARNESS_FAULT_STATION_H_
