// Faults injected into a running station: consoles that fail in every way,
// forwarding and synchronisation subprocesses killed and stopped, qm.event
// stopped and killed, the daemon ended while reports flow, a burst while a
// console is stopped, storms of registrations, and a leak check.  After each,
// the daemon must have the registrations, subprocesses and descriptors it
// should, no zombie, and the healthy consoles every report in order.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "harness/fault_station.h"

namespace {

using FaultTest = FaultStation;

// Lines of a console for the element traps of a synchronisation.
int elementTraps(const FaultStation::Console& c) {
  return countLines(c.proc.output(), "{\"name\":\"added\",");
}

TEST_F(FaultTest, FailingConsolesCostOnlyTheirOwnReports) {
  startStation("2");
  Console& healthy = addConsole("536873472", "3");
  Console& silent = addConsole("536873473", "4", {"--silent"});
  Console& refusing = addConsole("536873474", "5");
  Console& vanishing = addConsole("536873475", "6");
  Console& nameless = addConsole("536873476", "7");
  nameless.addr = "127.0.0.2";
  for (Console* c : {&healthy, &silent, &refusing, &vanishing, &nameless})
    ASSERT_GT(registerConsole(*c), 0) << c->name;
  // A console that the access list does not name gets no subprocess.
  Console& stranger = addConsole("536873477", "8");
  stranger.addr = "127.0.0.3";
  EXPECT_EQ("0\n", request(stranger, "0x80"));
  ASSERT_TRUE(waitUntil([&] { return !statusTraps(stranger).empty(); }, 30));
  EXPECT_EQ("failed/Access denied", statusTraps(stranger)[0]);
  expectSettled();

  // Refusing: the process is gone, its programs still listed with rpcbind.
  refusing.proc.stop(SIGKILL);
  pid_t refused = refusing.sub;
  forget(refusing);
  // Vanishing: the process runs on, its programs are no longer listed.
  for (const std::string& vers : {vanishing.vers, std::string("10")})
    runInStation({"/usr/sbin/rpcinfo", "-d", vanishing.prog, vers});
  runInStation({"/usr/sbin/rpcinfo", "-d", "100101", vanishing.vers});

  sendReports(1, 10);
  for (Console* c : {&healthy, &vanishing, &nameless}) expectAll(*c, 1, 10);
  // Every call to the silent console times out, and counts as delivered.
  expectAll(silent, 1, 10);
  EXPECT_TRUE(daemon_.waitForOutput("[" + std::to_string(silent.sub) +
                                    "] ovi_sender: clnt_call failed: ", 10));
  // The refusing console's subprocess ends asking to be replaced, every
  // time it is given a report; its registration stays.
  EXPECT_TRUE(daemon_.waitForOutput("subprocess " + std::to_string(refused) +
                                    " terminated, exit code 1\n", 30));
  EXPECT_TRUE(waitUntil([&] { return liveChildren(daemon_.pid()).size() == expected_.size() + 1; },
                        30));

  // The vanished console's clients keep working until they are made anew,
  // which fails: its registration then goes for good.
  ASSERT_TRUE(signalChildOf(daemon_.pid(), vanishing.sub, SIGUSR2));
  forget(vanishing);
  EXPECT_TRUE(daemon_.waitForOutput("Client Creates failed -- exiting.\n", 30));
  EXPECT_TRUE(waitUntil([&] { return liveChildren(daemon_.pid()).size() == expected_.size() + 1; },
                        30));

  for (Console* c : {&healthy, &silent, &nameless}) deleteConsole(*c);
  EXPECT_EQ("0\n", request(refusing, "0x100"));
  expectSettled();
  EXPECT_TRUE(daemon_.running());
}

TEST_F(FaultTest, ASubprocessThatDiesWithReportsWaitingRestartsNoOtherOne) {
  startStation("2");
  Console& dying = addConsole("536873480", "3");
  Console& last = addConsole("536873481", "4");
  for (Console* c : {&dying, &last}) ASSERT_GT(registerConsole(*c), 0);
  sendReports(1, 1);
  expectAll(dying, 1, 1);
  // Reports wait for the stopped subprocess; when it is killed, the daemon
  // sees its pipe end before its death is reaped and tries the next
  // transfer, which breaks the pipe.
  ASSERT_TRUE(signalChildOf(daemon_.pid(), dying.sub, SIGSTOP));
  sendReports(2, 2);
  ASSERT_TRUE(signalChildOf(daemon_.pid(), dying.sub, SIGKILL));
  forget(dying);
  ASSERT_TRUE(daemon_.waitForOutput("caught SIGPIPE", 30)) << "no transfer broke a pipe";
  expectSettled();
  EXPECT_TRUE(alive(last.sub)) << "the last registered subprocess was restarted";
  sendReports(4, 10);
  expectAll(last, 1, 13);
}

TEST_F(FaultTest, KilledAndStoppedSubprocessesAreReapedOrResumed) {
  startStation();
  std::vector<Console*> consoles;
  ASSERT_NO_FATAL_FAILURE(addRegisteredConsoles(536873488, 3, &consoles));
  Console &a = *consoles[0], &b = *consoles[1], &c = *consoles[2];

  Process sender;
  startReports(&sender, 1, 300, 100);
  ASSERT_TRUE(waitForReport(a, 30, 60));
  ASSERT_TRUE(signalChildOf(daemon_.pid(), b.sub, SIGSTOP));
  ASSERT_TRUE(signalChildOf(daemon_.pid(), c.sub, SIGKILL));
  // Ended by a signal: reaped and not restarted.
  forget(c);
  ASSERT_EQ(0, sender.wait(120)) << sender.output() << sender.errors();
  EXPECT_EQ("sent 300 failed 0\n", sender.output());
  expectAll(a, 1, 300);
  std::vector<int> killed = seqs(c);
  expectIncreasing(killed, c.name);
  expectSettled();

  // The stopped one lost nothing: its reports waited in its cache.
  ASSERT_TRUE(signalChildOf(daemon_.pid(), b.sub, SIGCONT));
  expectAll(b, 1, 300);
  // Killed while stopped: reaped all the same.
  ASSERT_TRUE(signalChildOf(daemon_.pid(), b.sub, SIGSTOP));
  ASSERT_TRUE(signalChildOf(daemon_.pid(), b.sub, SIGKILL));
  forget(b);
  expectSettled();
  sendReports(301, 10);
  expectAll(a, 301, 310);
  EXPECT_EQ(killed, seqs(c)) << "no report after its subprocess died";
}

TEST_F(FaultTest, BurstWhileAConsoleIsStoppedFillsOnlyItsCache) {
  startStation();
  std::vector<Console*> consoles;
  ASSERT_NO_FATAL_FAILURE(addRegisteredConsoles(536873504, 3, &consoles));
  Console &a = *consoles[0], &b = *consoles[1], &stopped = *consoles[2];
  long before = residentKb(daemon_.pid());

  ASSERT_TRUE(stopped.proc.signal(SIGSTOP));
  double stoppedAt = monotonicSeconds();
  // In pieces smaller than a cache, each taken by the healthy consoles before
  // the next: they must lose nothing, while the stopped one's subprocess
  // takes one report a second (each call times out).
  for (int first = 1; first <= 5000; first += 1000) {
    sendReports(first, 1000);
    ASSERT_TRUE(waitForReport(a, first + 999)) << seqs(a).size();
    ASSERT_TRUE(waitForReport(b, first + 999)) << seqs(b).size();
  }
  long full = residentKb(daemon_.pid());
  ASSERT_TRUE(stopped.proc.signal(SIGCONT));
  double stoppedFor = monotonicSeconds() - stoppedAt;

  // Reports are delivered in order: once one sent now arrives, the cached
  // ones have all been delivered.
  int marker = 5001;
  EXPECT_TRUE(waitUntil([&] {
    sendReports(marker++, 1);
    return waitForReport(stopped, 5001, 1);
  }, 120));
  expectAll(a, 1, 5000);
  expectAll(b, 1, 5000);
  std::vector<int> got;
  for (int s : seqs(stopped))
    if (s <= 5000) got.push_back(s);
  expectIncreasing(got, stopped.name);
  ASSERT_GE(got.size(), 1024u);
  for (int i = 0; i < 1024; i++) ASSERT_EQ(i + 1, got[i]) << "the first 1024 fit in its cache";
  // The cache stopped at 1024: beyond that, only the reports its subprocess
  // took while the console was stopped (at most one a second) came in.
  EXPECT_LE(got.size(), 1024u + static_cast<size_t>(stoppedFor) + 2) << stoppedFor << " s";
#ifndef __SANITIZE_ADDRESS__
  // About 700 bytes a cached report: the healthy consoles' caches and a
  // full one (some 1.4 MB at most), not 5000 reports more (3.5 MB).
  EXPECT_LT(full - before, 3072) << "kB";
#else
  (void)full;
  (void)before;
#endif
  expectSettled();
}

TEST_F(FaultTest, DispatcherStoppedDelaysReportsAndKilledLeavesTheDaemonServing) {
  startStation();
  Console& a = addConsole("536873520", "3");
  Console& b = addConsole("536873521", "4");
  for (Console* x : {&a, &b}) ASSERT_GT(registerConsole(*x), 0);

  Process sender;
  startReports(&sender, 1, 200, 50);
  ASSERT_TRUE(waitForReport(a, 20, 60));
  ASSERT_TRUE(qm_.signal(SIGSTOP));
  sleepSeconds(2);
  ASSERT_TRUE(qm_.signal(SIGCONT));
  ASSERT_EQ(0, sender.wait(120)) << sender.errors();
  expectAll(a, 1, 200);
  expectAll(b, 1, 200);
  expectSettled();

  // Without qm.event the daemon still serves what is sent to it.
  qm_.stop(SIGKILL);
  sendReports(201, 20, 0, "100139");
  expectAll(a, 201, 220);
  expectAll(b, 201, 220);
  // qm.event's connection to the daemon is gone.
  expectSettled(1);
  int status = daemon_.stop(SIGTERM, 60);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(FaultTest, SynchronisationStoppedResumesAndKilledIsReaped) {
  startStation("2");
  Console& a = addConsole("536873536", "3");
  Console& b = addConsole("536873537", "4");
  for (Console* x : {&a, &b}) ASSERT_GT(registerConsole(*x), 0);

  // A synchronisation registers its console anew, then starts walking the
  // database in a subprocess of its own.
  auto synchronise = [&](pid_t* walker) {
    pid_t old = b.sub;
    int registered = countLines(daemon_.output(), "registered new rendezvous:\n");
    EXPECT_EQ("0\n", request(b, "0x200"));
    ASSERT_TRUE(waitUntil([&] {
      return countLines(daemon_.output(), "registered new rendezvous:\n") > registered;
    }, 30));
    std::string out = daemon_.output();
    size_t at = out.find("subproc_pid: ", out.rfind("registered new rendezvous:\n"));
    forget(b);
    b.sub = atoi(out.c_str() + at + strlen("subproc_pid: "));
    expected_.insert(b.sub);
    *walker = 0;
    ASSERT_TRUE(waitUntil([&] {
      std::set<pid_t> now = liveChildren(daemon_.pid());
      if (now.count(old) || now.size() != expected_.size() + 1) return false;
      for (pid_t p : now)
        if (!expected_.count(p)) *walker = p;
      return *walker != 0;
    }, 30));
  };

  pid_t walker;
  synchronise(&walker);
  ASSERT_TRUE(waitUntil([&] { return elementTraps(b) >= 1; }, 30));
  ASSERT_TRUE(signalChildOf(daemon_.pid(), walker, SIGSTOP));
  sendReports(1, 20);
  expectAll(a, 1, 20);
  expectAll(b, 1, 20);
  EXPECT_LT(elementTraps(b), 30);
  ASSERT_TRUE(signalChildOf(daemon_.pid(), walker, SIGCONT));
  ASSERT_TRUE(waitUntil([&] { return !alive(walker); }, 60));
  ASSERT_TRUE(waitUntil([&] {
    std::vector<std::string> traps = statusTraps(b);
    return !traps.empty() && traps.back() == "synched/Running";
  }, 30));
  // Every element once, to both consoles.
  EXPECT_TRUE(waitUntil([&] { return elementTraps(a) == 30 && elementTraps(b) == 30; }, 30));
  expectSettled();

  synchronise(&walker);
  ASSERT_TRUE(waitUntil([&] { return elementTraps(b) >= 31; }, 30));
  ASSERT_TRUE(signalChildOf(daemon_.pid(), walker, SIGKILL));
  ASSERT_TRUE(waitUntil([&] { return !alive(walker); }, 30));
  expectSettled();
  sendReports(21, 10);
  expectAll(a, 21, 30);
  expectAll(b, 21, 30);
  EXPECT_EQ(1, countLines(b.proc.output(), "\"value\":\"synched\"")) << "the killed one never ended";
  EXPECT_LT(elementTraps(b), 60);
}

TEST_F(FaultTest, SigtermWhileReportsFlowEndsTheDaemonAndItsSubprocesses) {
  startStation();
  std::vector<Console*> consoles;
  ASSERT_NO_FATAL_FAILURE(addRegisteredConsoles(536873552, 3, &consoles));
  Console &a = *consoles[0], &b = *consoles[1], &c = *consoles[2];

  Process sender;
  startReports(&sender, 1, 2000, 400);
  ASSERT_TRUE(waitForReport(a, 100, 60));
  // A stopped subprocess must not keep the others from seeing the end.  It
  // is held from here: once the daemon has ended, it is no longer its parent.
  HeldChild stopped(daemon_.pid(), b.sub);
  ASSERT_TRUE(stopped.signal(SIGSTOP));
  int status = daemon_.stop(SIGTERM, 60);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(0, WEXITSTATUS(status));
  // Each subprocess sees the daemon's end on its pipes.
  for (Console* x : {&a, &c}) EXPECT_TRUE(waitUntil([&] { return !alive(x->sub); }, 30)) << x->name;
  ASSERT_TRUE(stopped.signal(SIGCONT));
  EXPECT_TRUE(waitUntil([&] { return !alive(b.sub); }, 30));
  EXPECT_TRUE(qm_.waitForOutput("unsubscribed", 30)) << qm_.output();
  ASSERT_EQ(0, sender.wait(120)) << sender.errors();
  // What each console got is the beginning of the series, in order.
  for (Console* x : {&a, &b, &c}) {
    std::vector<int> got = seqs(*x);
    for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(static_cast<int>(i) + 1, got[i]) << x->name;
  }
  std::string table = runInStation({"/usr/sbin/rpcinfo", "-p"});
  EXPECT_EQ(std::string::npos, table.find("100139")) << table;
}

TEST_F(FaultTest, RegisterAndDeleteStormsFromSeveralConsolesLeaveAConsistentRegistry) {
  startStation();
  std::vector<Console*> all;
  for (const char* vers : {"3", "4", "5", "6"})
    all.push_back(&addConsole(std::to_string(536873568 + atoi(vers)), vers));
  // Each console registers and deletes itself ten times, all at once.
  std::vector<std::unique_ptr<Process>> storms;
  for (Console* c : all) {
    std::vector<std::string> argv = {
        "/bin/sh", "-c",
        "i=0; while [ $i -lt 10 ]; do"
        " \"$0\" \"$@\" --flags 0x80 >/dev/null || exit 1;"
        " \"$0\" \"$@\" --flags 0x100 >/dev/null || exit 1; i=$((i+1)); done",
        TESSEL_SEND_BIN, "--prog", "100139", "--type", "6",
        "tessel_rendez_addr=ipaddr:127.0.0.1", "tessel_rendez_prog=uint:" + c->prog,
        "tessel_rendez_vers=uint:" + c->vers, "vant_filter_file=string:f.filter",
        "vant_orx_name=string:office", "receiving_orx=string:" + c->name};
    storms.push_back(std::make_unique<Process>());
    ASSERT_TRUE(two_.start(storms.back().get(), station(), argv, env_));
  }
  for (auto& s : storms) EXPECT_EQ(0, s->wait(240)) << s->errors();
  for (Console* c : all) {
    ASSERT_TRUE(waitUntil([&] { return statusTraps(*c).size() == 10; }, 60)) << c->name;
    for (const std::string& t : statusTraps(*c)) EXPECT_EQ("succeeded/Running", t);
  }
  // Whatever registrations a delete overtaken by the next register left:
  // each with one subprocess and its three pipes, nothing else.
  pid_t d = daemon_.pid();
  EXPECT_TRUE(waitUntil([&] {
    size_t n = liveChildren(d).size();
    return n <= all.size() && noZombies(d) &&
           descriptorsOf(d).pipes == base_.pipes + 3 * static_cast<int>(n);
  }, 60)) << liveChildren(d).size() << " children, " << descriptorsOf(d).pipes << " pipes";
  for (Console* c : all) EXPECT_EQ("0\n", request(*c, "0x100"));
  expectSettled();

  for (Console* c : all) ASSERT_GT(registerConsole(*c), 0);
  sendReports(1, 20);
  for (Console* c : all) expectAll(*c, 1, 20);
  for (Console* c : all) deleteConsole(*c);
  expectSettled();
}

TEST_F(FaultTest, DaemonThatRegistersForwardsAndDeletesLeaksNothing) {
#ifndef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the leak check runs in the AddressSanitizer build";
#else
  startStation("1", {"ASAN_OPTIONS=detect_leaks=1:abort_on_error=0",
                     "LSAN_OPTIONS=exitcode=23:suppressions=" LSAN_SUPPRESSIONS});
  std::vector<Console*> consoles;
  ASSERT_NO_FATAL_FAILURE(addRegisteredConsoles(536873584, 3, &consoles));
  Console &a = *consoles[0], &b = *consoles[1], &c = *consoles[2];
  sendReports(1, 50);
  for (Console* x : {&a, &b, &c}) expectAll(*x, 1, 50);
  // A subprocess that ends by itself (its console is gone) runs the leak
  // check at its exit too; it is restarted.
  c.proc.stop(SIGTERM);
  pid_t gone = c.sub;
  forget(c);
  sendReports(51, 5);
  EXPECT_TRUE(waitUntil([&] { return !alive(gone); }, 30));
  deleteConsole(b);
  ASSERT_GT(registerConsole(b), 0);
  // A synchronisation and a refused request.
  EXPECT_EQ("0\n", request(a, "0x200", {"vant_filter_file=string:missing.filter"}));
  EXPECT_EQ("0\n", request(a, "0x200"));
  ASSERT_TRUE(waitUntil([&] { return elementTraps(a) >= 30; }, 60));
  sendReports(56, 50);
  expectAll(a, 1, 105);
  deleteConsole(b);
  int status = daemon_.stop(SIGTERM, 60);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << daemon_.errors();
  EXPECT_EQ(std::string::npos, daemon_.errors().find("LeakSanitizer")) << daemon_.errors();
  EXPECT_EQ(std::string::npos, daemon_.errors().find("ERROR:")) << daemon_.errors();
#endif
}

}  // namespace
