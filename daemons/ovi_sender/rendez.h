// One registered receiver (a rendezvous) and its forwarding subprocess, and
// the reports waiting for that subprocess.
#ifndef DAEMONS_OVI_SENDER_RENDEZ_H_
#define DAEMONS_OVI_SENDER_RENDEZ_H_

#include <netinet/in.h>
#include <stdint.h>
#include <sys/types.h>
#include <time.h>

#include <memory>

#include "report_channel.h"
#include "request.h"
#include "tessel/tessel_list.h"

// Most reports a rendezvous's cache holds; later ones are lost for it alone.
enum { REPORT_CACHE_LIMIT = 1024 };

// A report waiting to be transferred: owned copies of the 600-byte message
// image and of the argument-list bytes (as many as the image's last word
// says, and one more so that an empty list still has a block).
struct CachedReport {
  std::unique_ptr<unsigned char[]> header;
  std::unique_ptr<char[]> arglistData;

  // A copy of the message's image and argument list, or null when memory
  // is short.
  static std::unique_ptr<CachedReport> copyOf(const unsigned char* image, const char* arglist,
                                              uint32_t length);
};

// The reports waiting for one subprocess, oldest first.  Owns them: a report
// leaves the cache only to be freed.
class ReportCache {
 public:
  ReportCache() = default;
  ~ReportCache() { clear(); }
  ReportCache(const ReportCache&) = delete;
  ReportCache& operator=(const ReportCache&) = delete;

  int count() const { return list_.count(); }
  // Appends a report; 0 when memory is short (the report is then freed).
  int append(std::unique_ptr<CachedReport> report);
  // The oldest report, or null when the cache is empty.
  CachedReport* oldest() const;
  // Frees the oldest report.
  void dropOldest();
  // Frees every report.
  void clear();

 private:
  TesselList list_;  // CachedReport*, owned
};

// Owned by Daemon::rendezList.  In the daemon the channel holds its ends of
// the three pipes; in the subprocess, the subprocess's ends.
struct Rendez {
  pid_t subproc_pid = 0;        // forwarding subprocess
  pid_t sync_pid = 0;           // synchronisation subprocess, 0 when none
  struct in_addr rendez_addr = {};
  uint32_t rendez_prog = 0;
  uint32_t rendez_vers = 0;
  char filter_file[REQUEST_TEXT_SIZE] = "";
  char orx_name[REQUEST_TEXT_SIZE] = "";
  char recv_orx[REQUEST_TEXT_SIZE] = "";
  ReportChannel channel;        // control_out_fd, control_in_fd, data_fd
  ReportCache report_cache;
  // What the status file tells of this registration.  A restarted
  // subprocess keeps the counts of the one it replaces.
  struct Counts {
    uint64_t cached = 0;    // reports put in its cache
    uint64_t handed = 0;    // reports transferred to its subprocess
    uint64_t dropped = 0;   // reports lost because its cache was full
    uint32_t restarts = 0;  // subprocesses started again for it
    time_t registered = 0;  // when it was registered
  } counts;
  // Told to end (replaced or deleted) and waiting to be reaped: no request
  // matches it any more and it is never restarted, so that requests that
  // follow one another closely leave one registration, not several.
  bool ending = false;
};

#endif  // DAEMONS_OVI_SENDER_RENDEZ_H_
