// The synchronisation walk, its pacing and its subprocess, with the element
// traps and pauses recorded instead of sent and slept.  The closing status
// trap goes to a receiver served by the test itself on a transient program.
#include "sync.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <rpc/rpc.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "daemon.h"
#include "harness/station.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_xdr.h"

namespace {

typedef std::vector<std::string> Events;

// What the hooks saw, in order; a forked walk appends the same lines, each
// after its pid, to eventFd.  A call that breaks the hook's contract is
// recorded with a "bad " in front.
Events events;
int eventFd = -1;
int startFailures = 0;  // starts to refuse before accepting

void record(bool good, const std::string& e) {
  events.push_back(good ? e : "bad " + e);
  std::string line = std::to_string(getpid()) + " " + events.back() + "\n";
  if (eventFd >= 0 && write(eventFd, line.data(), line.size()) < 0) abort();
}

int recordStart(const char* host, unsigned long sendingProg, unsigned long sendingVers,
                const char* group, const char* destHost, unsigned long destProg,
                unsigned long destVers, int mode, struct timeval timeout) {
  char local[256] = {};
  gethostname(local, sizeof local - 1);
  const char* lang = getenv("LANG");
  record(strcmp(host, local) == 0 && sendingProg == 100110 && sendingVers == 10 &&
             strcmp(group, "tessel_db_config") == 0 && strcmp(destHost, "localhost") == 0 &&
             destProg == 100139 && destVers == 10 && mode == 1 && timeout.tv_sec == 10 &&
             timeout.tv_usec == 0,
         std::string("start LANG=") + (lang != nullptr ? lang : "") + " ORX_NAME=" +
             getenv("ORX_NAME"));
  return startFailures-- > 0 ? 0 : 1;
}

int recordBuild(const Tessel_data* d, int* status) {
  const char* value = static_cast<const char*>(d->value);
  record(d->type == 9 && d->length == strlen(value) + 1 && status != nullptr && *status == 0,
         std::string(d->name) + " " + value);
  return 1;
}

int recordSend(struct timeval timeout, void* reserved1, void* reserved2) {
  record(timeout.tv_sec == 0 && timeout.tv_usec == 0 && reserved1 == nullptr &&
             reserved2 == nullptr,
         "send");
  return 1;
}

void recordPause(unsigned int seconds) { record(true, "pause " + std::to_string(seconds)); }

// A view tree: V1 and V2 (a longer type beginning "view") in Home, V3 in
// V1; N is in no view.
const char kTree[] =
    "element Home view.root\n"
    "element A component.host\nelement V1 view.net\nelement B component.host\n"
    "element V2 viewpoint.x\nelement C component.host\nelement V3 view.net\n"
    "element D component.host\nelement E component.host\nelement N component.host\n"
    "member A Home\nmember V1 Home\nmember B Home\nmember V2 Home\n"
    "member C V1\nmember V3 V1\nmember D V3\nmember E V2\n";

// All a walk of kTree records when started in language lang, one pause
// before the 7th trap; a whole synchronisation subprocess adds a settling
// pause before its end trap.
Events treeWalk(const char* lang, bool whole = false) {
  Events all = {std::string("start LANG=") + (lang != nullptr ? lang : "") + " ORX_NAME=office",
                "added A", "send", "added V1", "send", "added B", "send", "added V2", "send",
                "added C", "send", "added V3", "send", "pause 1", "added D", "send",
                "added E", "send"};
  if (whole) all.push_back("pause 1");
  return all;
}

class SyncWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = sync_ops;
    sync_ops = {recordStart, recordBuild, recordSend, recordPause};
    resetWalk();
  }
  void TearDown() override {
    sync_ops = saved_;
    orxdb_close();
    unsetenv("ORX_NAME");
  }
  static void resetWalk() {
    sending_traps = nactions = rep_count = change_rep_count = 0;
    events.clear();
    startFailures = 0;
  }
  void open(const std::string& description) {
    station_.loadDatabase("office", description);
    setenv("ORX_NAME", "office", 1);
    ASSERT_NE(0, orxdb_open());
  }

  Station station_;
  SyncOps saved_;
};

TEST_F(SyncWalkTest, ViewsAreAnnouncedBeforeTheirContents) {
  open(kTree);
  process_this_view("Home");
  EXPECT_EQ(treeWalk(getenv("LANG")), events);
  EXPECT_EQ(8, change_rep_count * 6 + rep_count);  // eight traps, one pause
}

// A pause before the 7th and the 13th trap, of 1 second for the first 200
// pauses, then 2, 3 and at most 4.
TEST_F(SyncWalkTest, PausesComeEverySixTrapsAndLengthen) {
  std::string flat = "element Home view.root\n";
  for (int i = 1; i <= 13; i++)
    flat += "element e" + std::to_string(i) + " component.host\nmember e" + std::to_string(i) +
            " Home\n";
  open(flat);
  const struct { int before; int first, second; } schedule[] = {
      {0, 1, 1}, {198, 1, 1}, {199, 1, 2}, {399, 2, 3}, {599, 3, 4}, {600, 4, 4}, {5000, 4, 4}};
  for (const auto& s : schedule) {
    SCOPED_TRACE("after " + std::to_string(s.before) + " pauses");
    resetWalk();
    change_rep_count = s.before;
    process_this_view("Home");
    // The pauses: the number of the element trap each came before, and its length.
    std::vector<std::pair<int, int>> pauses;
    int traps = 0;
    for (const std::string& e : events) {
      if (e.compare(0, 6, "added ") == 0) traps++;
      if (e.compare(0, 6, "pause ") == 0) pauses.emplace_back(traps + 1, std::stoi(e.substr(6)));
    }
    EXPECT_EQ((std::vector<std::pair<int, int>>{{7, s.first}, {13, s.second}}), pauses);
    EXPECT_EQ(s.before + 2, change_rep_count);
  }
}

TEST_F(SyncWalkTest, CyclesOfViewsEndAndViewsThatCannotBeEnumeratedAnnounceNothing) {
  open("element Home view.root\nelement L view.loop\nelement M component.host\n"
       "element Empty view.net\nmember L Home\nmember M L\nmember Home L\nmember L L\n");
  process_this_view("Nowhere");
  process_this_view("Empty");
  EXPECT_TRUE(events.empty());
  process_this_view("Home");
  EXPECT_EQ((Events{"added L", "send", "added M", "send", "added Home", "send", "added L",
                    "send"}),
            Events(events.begin() + 1, events.end()));
  resetWalk();
  orxdb_close();
  process_this_view("Home");  // no database open
  EXPECT_TRUE(events.empty());
}

TEST_F(SyncWalkTest, AFailedStartIsTriedAgainAtTheNextElement) {
  open("element Home view.root\nelement A component.host\nelement B component.host\n"
       "member A Home\nmember B Home\n");
  startFailures = 1;
  process_this_view("Home");
  ASSERT_EQ(4u, events.size());
  EXPECT_EQ(events[0], events[1]);  // two starts
  EXPECT_EQ((Events{"added B", "send"}), Events(events.begin() + 2, events.end()));
  EXPECT_EQ(2, rep_count);  // the element without a trap counts all the same

  // A started trap sends only what was added since its last send.
  EXPECT_NE(0, vant_sync_start_report("tessel_db_config"));
  EXPECT_EQ(0, vant_sync_send_report());
  EXPECT_EQ(1, vant_sync_build_report("A", "added"));
  EXPECT_EQ(1, vant_sync_send_report());
  EXPECT_EQ(0, vant_sync_send_report());
}

// ---- the synchronisation subprocess ----

// The status traps the receiver got: "name=value ... prog priority host".
Events statusTraps;

void receiveStatusTrap(struct svc_req* rq, SVCXPRT* xprt) {
  TesselServiceMsg msg;
  if (rq->rq_proc != TESSEL_PROC_MESSAGE ||
      !svc_getargs(xprt, (xdrproc_t)_tessel_serialMsg, (char*)&msg)) {
    svcerr_decode(xprt);
    return;
  }
  std::string text;
  Tessel_event d;
  while (tessel_msgNextDatum(&msg, &d) && d.type != 0)
    text += std::string(d.name) + "=" + std::string(static_cast<char*>(d.value), d.length) + " ";
  statusTraps.push_back(text + std::to_string(msg.agentProg) + " " +
                        std::to_string(msg.priority) + " " + msg.host);
  Tessel_error status;
  memset(&status, 0, sizeof status);
  svc_sendreply(xprt, (xdrproc_t)_tessel_xdrStatus, (char*)&status);
}

class SyncSubprocessTest : public SyncWalkTest {
 protected:
  void SetUp() override {
    SyncWalkTest::SetUp();
    statusTraps.clear();
    eventFd = ::open((station_.root() + "/events").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(eventFd, 0);
    prog_ = 0x40000000 + static_cast<unsigned long>(getpid() % 0x100000) * 16;
    udp_ = svcudp_bufcreate(RPC_ANYSOCK, TESSEL_UDP_BUFSIZE, TESSEL_UDP_BUFSIZE);
    ASSERT_NE(nullptr, udp_);
    pmap_unset(prog_, 10);
    if (!svc_register(udp_, prog_, 10, receiveStatusTrap, IPPROTO_UDP))
      GTEST_SKIP() << "rpcbind does not take a registration";
    strcpy(d_.hostname, "station");
    station_.loadDatabase("office", kTree);
  }
  void TearDown() override {
    for (pid_t pid : children_)
      if (waitpid(pid, nullptr, WNOHANG) == 0) {
        // Still this process's unreaped child: its pid cannot be another's.
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    if (udp_ != nullptr) {
      svc_unregister(prog_, 10);
      svc_destroy(udp_);
    }
    close(eventFd);
    eventFd = -1;
    SyncWalkTest::TearDown();
  }
  // Registers a receiver on this test's program (version 3: the closing trap
  // goes to version 10 all the same) and starts its synchronisation.
  pid_t startSync(const char* filterFile, const char* orxName) {
    Rendez* r = new Rendez;
    inet_aton("127.0.0.1", &r->rendez_addr);
    r->rendez_prog = static_cast<uint32_t>(prog_);
    r->rendez_vers = 3;
    snprintf(r->filter_file, sizeof r->filter_file, "%s", filterFile);
    snprintf(r->orx_name, sizeof r->orx_name, "%s", orxName);
    EXPECT_NE(0, d_.rendezList->append(r, 0));
    EXPECT_EQ(1, d_.send_db_traps(r));
    if (r->sync_pid > 0) children_.push_back(r->sync_pid);
    return r->sync_pid;
  }
  static bool exited(pid_t pid) {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
  }
  // Serves the receiver until it holds `traps` status traps and pid has
  // ended (not reaped); false after 20 seconds.
  bool serveUntilEnded(pid_t pid, size_t traps) {
    for (int i = 0; i < 1000; i++) {
      if (statusTraps.size() >= traps && exited(pid)) return true;
      fd_set ready = svc_fdset;
      struct timeval tv = {0, 20000};
      if (select(FD_SETSIZE, &ready, nullptr, nullptr, &tv) > 0) svc_getreqset(&ready);
    }
    return false;
  }
  // Reaps pid; its exit status, or -1.
  static int reap(pid_t pid) {
    int status;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // The events a subprocess recorded, without its pid.
  Events eventsOf(pid_t pid) const {
    Events out;
    std::ifstream in(station_.root() + "/events");
    std::string prefix = std::to_string(pid) + " ";
    for (std::string line; std::getline(in, line);)
      if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line.substr(prefix.size()));
    return out;
  }

  Daemon d_{Daemon::Detached{}};
  unsigned long prog_ = 0;
  SVCXPRT* udp_ = nullptr;
  std::vector<pid_t> children_;
};

TEST_F(SyncSubprocessTest, RunOneAfterAnotherInTheLanguageOfTheirDatabaseThenSaySynched) {
  station_.writeData("ovi_sender.lang", "other fr_FR\noffice\n  de_DE.UTF-8 office C\n");
  pid_t a = startSync("first.filter", "office");
  pid_t b = startSync("second.filter", "office");
  ASSERT_TRUE(serveUntilEnded(a, 1));
  // The first has ended but is not reaped yet: the second still waits.
  EXPECT_TRUE(eventsOf(b).empty());
  EXPECT_FALSE(exited(b));
  EXPECT_EQ(0, reap(a));
  ASSERT_TRUE(serveUntilEnded(b, 2));
  EXPECT_EQ(0, reap(b));
  EXPECT_EQ(treeWalk("de_DE.UTF-8", true), eventsOf(a));
  EXPECT_EQ(eventsOf(a), eventsOf(b));
  pid_t c = startSync("third.filter", "missing");
  ASSERT_TRUE(serveUntilEnded(c, 3));
  EXPECT_EQ(0, reap(c));
  EXPECT_TRUE(eventsOf(c).empty());
  const std::string synched = "vant_register_status=synched vant_register_reason=";
  EXPECT_EQ(synched + "Running 100139 1 station", statusTraps[1]);
  EXPECT_EQ(synched + "Sync : can't open db 100139 1 station", statusTraps[2]);
}

}  // namespace
