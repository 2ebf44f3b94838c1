// The Daemon: the one central object of ovi_sender.  main constructs it in
// the daemon process (ovi::daemon points at it); every forwarding
// subprocess works on its own copy, inherited through fork.
//
// Member functions are spread over the files of the roles they serve:
// daemon.cc (life cycle), svc_run.cc (service loop), dispatch.cc (requests),
// get_event.cc (subscription and report dispatch), signals.cc (signals and
// reaping), addpipe.cc and delete.cc (the registry).
#ifndef DAEMONS_OVI_SENDER_DAEMON_H_
#define DAEMONS_OVI_SENDER_DAEMON_H_

#include <netinet/in.h>
#include <signal.h>
#include <stdint.h>
#include <sys/select.h>
#include <sys/time.h>

#include <string>

#include "info_list.h"
#include "message_info.h"
#include "orxdb/orxdb.h"
#include "parse_filter.h"
#include "rendez.h"
#include "request.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_list.h"
#include "tessel/tessel_object.h"
#include "tessel/tessel_service_msg.h"

// The daemon's own RPC service, where reports and requests arrive.
enum : uint32_t { OVI_AGENT_PROG = 100139, OVI_AGENT_VERS = 10 };
// Placeholder pid: no subprocess.
enum { NO_SUBPROC_PID = 65536 };
// A TCP call to a receiver is abandoned when it has not ended this long
// after it began (and again every as many seconds while it hangs).
enum { TCP_ABORT_SECONDS = 5 };
// How a child of the daemon ends: after SUBPROCESS_RESTART the daemon
// registers the receiver of a forwarding subprocess again.
enum { SUBPROCESS_DONE = 0, SUBPROCESS_RESTART = 1 };

class Daemon : public TesselObject {
 public:
  // Registers the agent, creates the rendezvous list, reads the report-log
  // setting and installs the SIGCHLD and SIGPIPE handlers.  Success or
  // failure is left in initFailed.
  Daemon();
  // Constructs the object as a forwarding subprocess holds it after the fork:
  // members at their initial values, an empty rendezvous list, no agent
  // registration, no handlers.  For tests of the subprocess's work.
  struct Detached {};
  explicit Daemon(Detached);
  // Logs the shut-down, unsubscribes from qm.event (only in the process that
  // subscribed) and releases the agent registration.
  ~Daemon() override;

  // Unsubscribes from qm.event when this process subscribed.
  void my_exit();

  // Ends a child of the daemon (a forwarding, synchronisation or status-trap
  // subprocess) with SUBPROCESS_RESTART or SUBPROCESS_DONE.  Every end of a
  // child goes through here, but for the SIGUSR2 handler's, which must use
  // _exit.
  [[noreturn]] static void endSubprocess(int status);

  // The service loop; returns only when select reports a bad descriptor.
  void svc_run();

  // Handles one message of the agent's service (the current message).
  void doRequest(unsigned int type, char* system, char* group, char* key, unsigned int count,
                 struct timeval interval, unsigned int flags);
  // Reads the current action request's options; non-zero when every
  // mandatory option was found.
  int getRequestArgs(Request& request);

  // Subscribes with qm.event; ends the process with status 1 on failure.
  void GetEvents();
  // Copies the current report into the cache of every receiver whose cache
  // has room, unless this host forwarded it before or it closes a series.
  void dispatchReport(unsigned int type, char* system, char* group, char* key, unsigned int flags);
  // 1 when the report is to be forwarded (checkReport adds the closing-report
  // test to executeCheck's forwarded-by test).
  int checkReport(unsigned int type, char* system, char* group, char* key, unsigned int flags);
  int executeCheck(unsigned int type, char* system, char* group, char* key);

  // Registers a receiver and forks its forwarding subprocess, replacing a
  // registration that matches it.  1 on success; failures are reported to
  // the sender with formatStatus.  With `added`, *added is the new
  // registration on success.
  int addRendez(Request& request, Rendez** added = nullptr);
  // 1 and the subprocess pid of the first registration matching the request
  // fully or as the same console; 0 (pid 65536) otherwise.
  int rendezExists(Request& request, long& pid);
  // Signals the subprocesses of the registration matching the request fully;
  // 1 when one was found.  The registration goes when its end is reaped.
  int deleteRendez(Request& request);
  // Same address, program, version, filter file and database.
  static bool matchesFully(const Rendez& r, const Request& q);
  // The first registration not told to end that matches the request fully
  // (or, with consoleToo, as the same console), or null.  Call it with
  // signals blocked.
  Rendez* findRendez(const Request& request, bool consoleToo);
  // Tells the subprocess of r to end (SIGTERM) and marks r as ending.
  static void endRendez(Rendez* r);
  // In a forked child: closes the daemon's ends of every registration's
  // pipes.  Holding them would keep those subprocesses from seeing the
  // daemon go, and would take descriptors the child may need.
  void closeReceiverPipes();

  // Checks a register or sync request and reports the outcome to the
  // receiver with a status trap sent by a short-lived child.  True when the
  // filter file, the access list and the database all accept it.
  bool validateArgs(Request& request);
  // Adds a text attribute to the trap last started.
  void error_trap(const char* name, const char* value);
  // True when the management database of that name exists.
  bool db_exists(const char* name);
  // Sends the status trap "vant_register_status"/"vant_register_reason" to
  // program prog version 10 on host.
  void sendStatusTrap(const char* host, uint32_t prog, int mode, const char* status,
                      const char* reason);
  // The name of a receiver's host, or its dotted address when it has none.
  static std::string hostOf(struct in_addr addr);

  // Registers the receiver and synchronises it with its database: 1 when a
  // registration was found and its synchronisation subprocess started.
  int syncRendez(Request& request);
  // Forks the synchronisation subprocess of r (which sends one trap per
  // element of r's database to this daemon, then the closing status trap to
  // r); 1 in the daemon after the fork, 0 when fork failed.
  int send_db_traps(Rendez* r);
  // Sends the end-of-synchronisation status trap to r and ends the process.
  [[noreturn]] void send_sync_end(Rendez* r, const char* reason);

  // ---- clients and delivery (client.cc, call.cc), in the subprocess ----
  // Destroys the clients toward the receiver and makes the four anew; 1 when
  // both UDP clients exist afterwards.
  int createClients();
  // Loads the UDP or TCP client (by the message's length: up to 6144 bytes
  // by UDP) into the message's client slot and sets transport; 0 when the
  // message needs TCP and there is no TCP client.
  int getClient(TesselServiceMsg* msg);
  int getEventClient(TesselServiceMsg* msg);
  // Makes the clients anew when a SIGUSR1 asked for it since they were last
  // made; a failure ends the subprocess with status 0.  The handler only
  // records the request: a call in progress may be using the old handles.
  void rebuildClientsIfAsked();
  // Deliver the message to the receiver's program (callRendez) or its Event
  // program 100101 (callEventRendez).  Return 1; a failure other than a
  // time-out ends the subprocess with status 1.
  int callRendez(TesselServiceMsg* msg);
  int callEventRendez(TesselServiceMsg* msg);

  // ---- filter evaluation (filter.cc), in the forwarding subprocess ----
  // Nonzero when the report passes the receiver's filter file; sets
  // filterPriority and newPriority.
  int filterReport(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                   TesselArglist* work2, OVI_MessageInfo* info, const char* host);
  // The matching record of each kind, or null; valid until the next look-up
  // of the same kind.
  const FilterEntry* filterByHost(const char* host, const OVI_MessageInfo* info);
  const FilterEntry* filterByComponent(const char* host, const OVI_MessageInfo* info);
  const FilterEntry* filterByViewName(const char* host, const OVI_MessageInfo* info);
  const FilterEntry* filterByViewType(const char* host, const OVI_MessageInfo* info);
  const FilterEntry* filterByDefault(const OVI_MessageInfo* info);

  // ---- element information (deliver.cc), in the forwarding subprocess ----
  // Turns the decoded data into the message's outgoing data (taking the list
  // over); nonzero when the message is to be delivered.
  int rebuildAttributes(infoList* list, TesselServiceMsg* msg, OVI_MessageInfo* info);
  // Adds one datum of a database-manager trap with the element information
  // its template asks for; 1 when handled, 0 when the template excluded it.
  int appendDBOption(TesselServiceMsg* msg, Tessel_data* datum, const char* templateFile);
  // Adds the element's property `name` as a datum of the attribute's type.
  void addToHeader(TesselServiceMsg* msg, orxdb_buffer* element, const char* name, int type);
  void sendIntAttribute(TesselServiceMsg* msg, const char* name, int32_t value);
  void sendStringAttribute(TesselServiceMsg* msg, const char* name, const char* text);

  // Sends the oldest cached report to every subprocess whose control pipe is
  // in `ready`; a failed transfer makes the subprocess restart.
  void sendCachedReport(fd_set& ready);
  // Transfers one report (its 600-byte image and argument list) to the
  // subprocess of r; 1 on success.  Uses only r and the RPC descriptor set.
  static int sendToChild(const unsigned char* header, TesselArglist* arglist, Rendez* r);

  // The forwarding subprocess: never returns normally.
  void sendToRendez(Rendez* r);
  // Decodes, filters and delivers one received report.
  void forwardReport(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                     TesselArglist* work2, const char* localHost);
  // Asks the daemon for the next report and receives it; exits (1: restart,
  // 0: no restart) when the transfer fails.  Uses only the subprocess's ends
  // of the pipes in r.
  static void receiveReport(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                            TesselArglist* work2, Rendez* r);
  // Reads one report from the daemon into msg and the three lists; 1 on
  // success, 0 after a failure that ends the subprocess.
  static int recvFromParent(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                            TesselArglist* work2, Rendez* r);

  // Reaps the children whose ends the SIGCHLD handler recorded, in the
  // order of effects of the handler: trace, then reapRendez.
  void reapChildren();
  // Clears the sync_pid of the registration whose synchronisation had pid.
  void forgetSyncSubprocess(pid_t pid);
  // Removes the registration whose subprocess had pid; with restart, registers
  // it again.  0 when no registration has that pid.
  int reapRendez(long pid, int restart);
  // True when pid is the subprocess of a registration in rendezList.  Reads
  // the list without blocking signals: call it with the list stable.
  bool isForwardingSubprocess(pid_t pid) const;
  // Discards every cached report of the rendezvous; returns 1.
  int flushReportCache(Rendez* rendez);

  // ---- the status file (status.cc), in the daemon process ----
  // Notes that what the status file says is out of date: a change of the
  // registry is written at the next pass of the service loop, new counts
  // within a second.
  void statusChanged(bool registry) {
    statusStale = true;
    if (registry) statusUrgent = true;
  }
  // Writes the status file when it is due; called by the service loop,
  // whose signals are held, so the walk of the registry needs no blocking.
  // Returns how long the loop may sleep before it is due (null when nothing
  // is pending).
  struct timespec* writeStatusWhenDue(struct timespec* wait);
  // Writes the status file now: the daemon, its subscription and each
  // registration with its counts, as JSON, replacing the file whole.
  // 1 on success.
  int writeStatus();
  // Removes the status file (the daemon is ending).
  void removeStatus();

  int initFailed = 0;                 // 1 after a failed construction
  char* logFile = nullptr;            // report-log path (owned)
  volatile int currentSubprocPid = NO_SUBPROC_PID;  // target of the SIGPIPE handler
  TesselList* rendezList = nullptr;   // Rendez*, in registration order (owned)
  char hostname[256] = "";            // this host's name
  uint32_t eventRendezProg = 0;       // 100139 once subscribed; 0 in subprocesses
  struct timeval eventTimeout = {30, 0};
  char filterFile[1024] = "";         // filter file of the latest action request
  char orxName[1024] = "";            // database of the latest action request
  int callMeMom = 0;                  // 1 once subscribing began; 0 in subprocesses
  time_t startTime = 0;               // when the daemon started
  bool statusStale = false;           // the status file is out of date
  bool statusUrgent = false;          // ... because the registry changed
  struct timespec statusWritten = {}; // when it was last written (monotonic)

  // What only a forwarding subprocess uses, set after the fork: the daemon's
  // own copy keeps these values as constructed.
  struct Subprocess {
    volatile sig_atomic_t alarmFired = 0;         // set by SIGALRM
    volatile sig_atomic_t clientsRecreated = 0;   // set by SIGUSR1, cleared after a call
    volatile sig_atomic_t clientsStale = 0;       // SIGUSR1 asked for clients not yet made
    volatile sig_atomic_t shutdownRequested = 0;  // set by SIGUSR2
    volatile sig_atomic_t callState = 0;          // 3 during a call to the receiver, 4 after
    struct in_addr rendezAddr = {};               // its receiver
    uint32_t rendezProg = 0;
    uint32_t rendezVers = 0;
    // Its ends of the three pipes (control out, control in, data), owned by
    // its copy of its Rendez.
    ReportChannel* channel = nullptr;
    TesselClient* udpEventClient = nullptr;       // clients toward the receiver
    TesselClient* tcpEventClient = nullptr;
    TesselClient* udpClient = nullptr;
    TesselClient* tcpClient = nullptr;
    int transport = 0;                            // 17 or 6: the client last chosen
    struct timeval timerStart = {};               // start of the current TCP call
    int32_t reportPriority = 0;                   // priority of the report
    int32_t newPriority = 0;                      // priority the filter gives it
    int32_t filterPriority = 0;                   // least priority the filter passes
  } child;

 private:
  int loadClient(TesselServiceMsg* msg, bool event);
  int deliver(TesselServiceMsg* msg, bool event);
  // The child's half of addRendez: prepares the subprocess and runs it.
  [[noreturn]] void startSubprocess(Rendez* r);
};

// The request callback given to the forwarding library.
void do_request(unsigned int type, char* system, char* group, char* key, unsigned int count,
                struct timeval* interval, unsigned int flags);

// The shutdown callback given to the forwarding library: destroys the Daemon.
void shutdown_daemon(int reason);

#endif  // DAEMONS_OVI_SENDER_DAEMON_H_
