// Checking a register or sync request (filter file, access list, database)
// and telling the receiver the outcome with a status trap.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "daemon.h"
#include "log.h"
#include "orxdb/orxdb.h"
#include "parse_accesslist.h"
#include "parse_filter.h"
#include "tessel/tessel_trap.h"
#include "report_channel.h"

std::string Daemon::hostOf(struct in_addr addr) {
  struct hostent* h = gethostbyaddr(&addr, 4, AF_INET);
  // A receiver whose address has no name is known by its dotted address.
  return h != nullptr && h->h_name != nullptr ? h->h_name : inet_ntoa(addr);
}

namespace {

// 0 when a new registration's three pipes can be made, else the errno value
// that stops them.  Made and closed again: a registration past the
// descriptor ceiling is refused before its console is told it runs.
int roomForReceiver() {
  ReportChannel probe;
  return probe.open() ? 0 : errno;
}

}  // namespace

bool Daemon::validateArgs(Request& request) {
  std::string host = hostOf(request.rendez_addr);
  ovi_trace(3, "Daemon::validateArgs\n");
  ovi_trace(3, "rendez Host is %s\n", host.c_str());
  ovi_trace(3, "Validating Filter File\n");

  enum { kFilter, kAccess, kDatabase, kNoRoom, kAccepted } outcome;
  char message[256] = "";
  char noRoom[128] = "";
  bool accessOpen = false;
  if (ovi_openfilter_with_msg(filterFile, message) != 0) {
    outcome = kFilter;
  } else {
    ovi_openaccess();
    if (!ovi_checkaccess(host.c_str(), request.orx_name)) {
      ovi_trace(3, "could not find entry for %s, %s\n", host.c_str(), request.orx_name);
      outcome = kAccess;
      accessOpen = true;
    } else {
      ovi_closeaccess();
      ovi_trace(3, "Validating Database Name\n");
      int err;
      if (!db_exists(request.orx_name)) {
        outcome = kDatabase;
      } else if ((err = roomForReceiver()) != 0) {
        snprintf(noRoom, sizeof noRoom, "Cannot create subprocess to send reports: %s",
                 strerror(err));
        ovi_trace(1, "%s\n", noRoom);
        outcome = kNoRoom;
      } else {
        outcome = kAccepted;
      }
    }
  }

  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    // The daemon may be at its descriptor ceiling: the trap needs a socket.
    closeReceiverPipes();
    char reason[300];
    snprintf(reason, sizeof reason, "Can't open %s", message);
    static const char* const status[] = {"failed", "failed", "failed", "failed", "succeeded"};
    const char* reasons[] = {reason, "Access denied", "Database not found", noRoom, "Running"};
    if (outcome == kFilter) ovi_trace(3, "rendez Host is STILL %s\n", host.c_str());
    sendStatusTrap(host.c_str(), request.rendez_prog, 3, status[outcome], reasons[outcome]);
    if (outcome == kFilter) ovi_trace(3, "Done trying to send report to %s\n", host.c_str());
    endSubprocess(SUBPROCESS_DONE);
  }
  if (accessOpen) ovi_closeaccess();
  return outcome == kAccepted;
}

void Daemon::sendStatusTrap(const char* host, uint32_t prog, int mode, const char* status,
                            const char* reason) {
  tessel_start_trap(hostname, OVI_AGENT_PROG, OVI_AGENT_VERS, "trap", host, prog, 10, mode,
                    {10, 0});
  error_trap("vant_register_status", status);
  error_trap("vant_register_reason", reason);
  tessel_send_report({0, 0}, nullptr, nullptr);
}

void Daemon::error_trap(const char* name, const char* value) {
  ovi_trace(3, "Adding attribute %s value %s\n", name, value);
  Tessel_data d;
  memset(&d, 0, sizeof d);
  snprintf(d.name, sizeof d.name, "%s", name);
  d.type = 9;
  d.length = static_cast<uint32_t>(strlen(value));
  d.value = const_cast<char*>(value);
  int status = 0;
  tessel_build_report(&d, &status);
}

bool Daemon::db_exists(const char* name) {
  char path[256];
  int n = snprintf(path, sizeof path, "%s/db.%s", orxdb_dir(), name);
  if (n < 0 || n >= static_cast<int>(sizeof path)) return false;
  struct stat st;
  if (stat(path, &st) == 0) return true;
  ovi_trace(3, "database %s does not exist (errno %d)\n", path, errno);
  return false;
}
