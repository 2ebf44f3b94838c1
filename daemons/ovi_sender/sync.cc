// Synchronisation of a receiver with its management database.
#include "sync.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "daemon.h"
#include "log.h"
#include "orxdb/orxdb.h"
#include "parse_rcvhost.h"
#include "tessel/tessel_trap.h"

int32_t sending_traps = 0;
int32_t nactions = 0;
int32_t rep_count = 0;
int32_t change_rep_count = 0;

void sync_sleep_seconds(unsigned int seconds) {
  struct timespec left = {static_cast<time_t>(seconds), 0};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

SyncOps sync_ops = {tessel_start_trap, tessel_build_report, tessel_send_report,
                    sync_sleep_seconds};

namespace {

const unsigned long kDbManagerProg = 100110;
const unsigned long kDbManagerVers = 10;
// Element traps before each pause, and the longest pause.
const int32_t kTrapsPerPause = 6;
const unsigned int kLongestPause = 4;

// Holds "ORX_NAME=..." for the life of the subprocess: putenv keeps the pointer.
char syncOrxNameEnv[sizeof "ORX_NAME=" + REQUEST_TEXT_SIZE];

// The names of the sub-views met while one view is enumerated, in order.
// Owns the nodes and the name copies.
class SubViews {
 public:
  struct Node {
    char* name;
    Node* next;
  };
  SubViews() : head_(nullptr), tail_(&head_) {}
  ~SubViews() {
    while (head_ != nullptr) {
      Node* next = head_->next;
      free(head_->name);
      free(head_);
      head_ = next;
    }
  }
  SubViews(const SubViews&) = delete;
  SubViews& operator=(const SubViews&) = delete;

  // 0 when memory is short (the view is then not walked).
  int append(const char* name) {
    Node* n = static_cast<Node*>(malloc(sizeof(Node)));
    char* copy = strdup(name);
    if (n == nullptr || copy == nullptr) {
      free(n);
      free(copy);
      return 0;
    }
    n->name = copy;
    n->next = nullptr;
    *tail_ = n;
    tail_ = &n->next;
    return 1;
  }
  const Node* first() const { return head_; }

 private:
  Node* head_;
  Node** tail_;
};

// The views being walked, innermost first: a chain through the frames of
// process_this_view.
struct WalkFrame {
  const char* view;
  const WalkFrame* outer;
};
const WalkFrame* walking = nullptr;

bool beingWalked(const char* view) {
  for (const WalkFrame* f = walking; f != nullptr; f = f->outer)
    if (strcmp(f->view, view) == 0) return true;
  return false;
}

void pace() {
  if (rep_count < kTrapsPerPause) return;
  unsigned int seconds = static_cast<unsigned int>(change_rep_count / 200) + 1;
  if (seconds > kLongestPause) seconds = kLongestPause;
  sync_ops.pause(seconds);
  rep_count = 0;
  change_rep_count++;
}

// True while another receiver's synchronisation, as the daemon recorded it
// when it forked this process, is still running (or not yet reaped).
bool earlierSyncRunning(TesselList* list, const Rendez* self) {
  for (TesselListNode* n = list->first(); n != nullptr; n = list->next(n)) {
    const Rendez* other = static_cast<const Rendez*>(TesselList::data(n));
    if (other != self && other->sync_pid > 0 && kill(other->sync_pid, 0) == 0) return true;
  }
  return false;
}

}  // namespace

void process_this_view(const char* view) {
  orxdb_enumeration* handle = orxdb_enumerate_elements(view, 0);
  if (handle == nullptr) return;
  SubViews subViews;
  for (const char* name; (name = orxdb_get_next_element(handle)) != nullptr;) {
    orxdb_buffer buffer;
    bool read = orxdb_read(name, &buffer) != 0;
    if (!read) ovi_trace(3, "process_this_view : Database read error %d for %s\n", orx_error, name);
    pace();
    vant_sync_start_report("tessel_db_config");
    vant_sync_build_report(name, "added");
    vant_sync_send_report();
    rep_count++;
    if (!read) continue;
    const char* type = orxdb_get_element_type(&buffer);
    if (type != nullptr && strncmp(type, "view", 4) == 0 && !subViews.append(name))
      ovi_trace(1, "process_this_view : no memory to remember view %s\n", name);
  }
  // Only one enumeration is open at a time: this one ends before the descent.
  orxdb_free_enumeration_handle(handle);

  WalkFrame frame = {view, walking};
  walking = &frame;
  for (const SubViews::Node* n = subViews.first(); n != nullptr; n = n->next) {
    if (beingWalked(n->name)) {
      ovi_trace(3, "process_this_view : view %s is inside itself, not walked again\n", n->name);
      continue;
    }
    process_this_view(n->name);
  }
  walking = frame.outer;
}

int vant_sync_start_report(const char* group) {
  if (sending_traps != 0) {
    nactions = 0;
    return sending_traps;
  }
  char host[256];
  if (gethostname(host, sizeof host) != 0) host[0] = '\0';
  host[sizeof host - 1] = '\0';
  sending_traps = sync_ops.startTrap(host, kDbManagerProg, kDbManagerVers, group, "localhost",
                                     OVI_AGENT_PROG, OVI_AGENT_VERS, 1, {10, 0});
  nactions = 0;
  return sending_traps;
}

int vant_sync_build_report(const char* value, const char* name) {
  if (sending_traps == 0) return 0;
  Tessel_data d;
  memset(&d, 0, sizeof d);
  snprintf(d.name, sizeof d.name, "%s", name);
  d.type = TESSEL_STRING;
  d.length = static_cast<uint32_t>(strlen(value) + 1);
  d.value = const_cast<char*>(value);
  nactions++;
  int status = 0;
  return sync_ops.buildReport(&d, &status);
}

int vant_sync_send_report() {
  if (nactions == 0 || sending_traps == 0) return 0;
  nactions = 0;
  return sync_ops.sendReport({0, 0}, nullptr, nullptr);
}

int Daemon::syncRendez(Request& request) {
  ovi_trace(1, "Daemon::syncRendez\n");
  addRendez(request);
  Rendez* found = nullptr;
  sigset_t mask = blockSignals();
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
    Rendez* r = static_cast<Rendez*>(TesselList::data(n));
    if (matchesFully(*r, request)) {
      found = r;
      break;
    }
  }
  unblockSignals(mask);
  if (found == nullptr) return 0;
  send_db_traps(found);
  return 1;
}

int Daemon::send_db_traps(Rendez* r) {
  ovi_trace(2, "Daemon::send_db_traps\n");
  fflush(stdout);
  pid_t pid = fork();
  if (pid < 0) {
    // No pid is recorded: a later synchronisation must not wait on it.
    r->sync_pid = 0;
    ovi_trace(1, "fork(2) failed\n");
    return 0;
  }
  r->sync_pid = pid;
  if (pid > 0) return 1;

  signal(SIGTERM, SIG_DFL);
  signal(SIGQUIT, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  signal(SIGCHLD, SIG_DFL);
  // A write to a closed socket shows as EPIPE where it happens; the daemon's
  // SIGPIPE handler has no business here.
  signal(SIGPIPE, SIG_IGN);
  // A delete request ends the synchronisation with SIGTERM, whatever the
  // daemon had blocked when it forked.
  sigset_t ending;
  sigemptyset(&ending);
  for (int s : {SIGTERM, SIGINT, SIGQUIT}) sigaddset(&ending, s);
  sigprocmask(SIG_UNBLOCK, &ending, nullptr);
  closeReceiverPipes();

  // Synchronisations run one after another, in the order requested.  A short
  // nap between polls leaves the processor to the one that runs.
  if (rendezList->count() > 1) {
    while (earlierSyncRunning(rendezList, r)) {
      struct timespec nap = {0, 10 * 1000 * 1000};
      nanosleep(&nap, nullptr);
    }
  }

  snprintf(syncOrxNameEnv, sizeof syncOrxNameEnv, "ORX_NAME=%s", r->orx_name);
  putenv(syncOrxNameEnv);
  set_db_locale_lang(r->orx_name);
  if (!orxdb_open()) send_sync_end(r, "Sync : can't open db");
  process_this_view("Home");
  // The element traps travel through the daemon and each receiver's
  // subprocess, the end trap goes straight to the receiver: a moment's wait
  // lets the last element traps arrive first.
  sync_ops.pause(1);
  send_sync_end(r, "Running");
}

void Daemon::send_sync_end(Rendez* r, const char* reason) {
  {
    std::string host = hostOf(r->rendez_addr);
    ovi_trace(3, "Daemon::syncdone\n");
    ovi_trace(3, "rendez Host is %s\n", host.c_str());
    sendStatusTrap(host.c_str(), r->rendez_prog, 1, "synched", reason);
    ovi_trace(3, "Done trying to send report to %s\n", host.c_str());
  }
  endSubprocess(SUBPROCESS_DONE);
}
