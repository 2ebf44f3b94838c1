// The daemon's status file: what an operator can see of the registry and of
// the reports each console got or lost, for ovi_status.
#include <arpa/inet.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "daemon.h"
#include "log.h"
#include "tessel/tessel_config.h"
#include "tessel/tessel_file.h"

namespace {

// New counts are written at most this often, so that a stream of reports
// costs one small file a second.
const long kStatusPeriodNs = 1000L * 1000 * 1000;

long nanosSince(const struct timespec& then) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - then.tv_sec) * 1000000000L + (now.tv_nsec - then.tv_nsec);
}

// A JSON string: the text between quotes, with what JSON escapes escaped.
std::string quoted(const char* text) {
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; p++) {
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p);
    } else if (*p < 0x20 || *p == 0x7f) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", *p);
      out += escape;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out + "\"";
}

std::string registrationJson(const Rendez& r) {
  char numbers[512];
  snprintf(numbers, sizeof numbers,
           "\"prog\":%u,\"vers\":%u,\"subproc_pid\":%d,\"registered\":%lld,"
           "\"cached\":%llu,\"handed\":%llu,\"dropped_full\":%llu,\"restarts\":%u,"
           "\"waiting\":%d,\"ending\":%s",
           r.rendez_prog, r.rendez_vers, static_cast<int>(r.subproc_pid),
           static_cast<long long>(r.counts.registered),
           static_cast<unsigned long long>(r.counts.cached),
           static_cast<unsigned long long>(r.counts.handed),
           static_cast<unsigned long long>(r.counts.dropped), r.counts.restarts,
           r.report_cache.count(), r.ending ? "true" : "false");
  return std::string("{\"address\":") + quoted(inet_ntoa(r.rendez_addr)) +
         ",\"filter_file\":" + quoted(r.filter_file) + ",\"orx_name\":" + quoted(r.orx_name) +
         ",\"recv_orx\":" + quoted(r.recv_orx) + "," + numbers + "}";
}

}  // namespace

struct timespec* Daemon::writeStatusWhenDue(struct timespec* wait) {
  if (!statusStale) return nullptr;
  long since = nanosSince(statusWritten);
  if (statusUrgent || since >= kStatusPeriodNs) {
    writeStatus();
    return nullptr;
  }
  long left = kStatusPeriodNs - since;
  wait->tv_sec = left / 1000000000L;
  wait->tv_nsec = left % 1000000000L;
  return wait;
}

void Daemon::removeStatus() { unlink(tessel_path(TESSEL_STATUS_FILE).c_str()); }

int Daemon::writeStatus() {
  clock_gettime(CLOCK_MONOTONIC, &statusWritten);
  statusStale = statusUrgent = false;
  std::string json = "{\"daemon\":{\"pid\":" + std::to_string(getpid()) +
                     ",\"host\":" + quoted(hostname) +
                     ",\"started\":" + std::to_string(static_cast<long long>(startTime)) +
                     ",\"written\":" + std::to_string(static_cast<long long>(time(nullptr))) +
                     ",\"subscribed\":" + (callMeMom && eventRendezProg != 0 ? "true" : "false") +
                     "},\"registrations\":[";
  const char* comma = "";
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
    json += comma + registrationJson(*static_cast<const Rendez*>(TesselList::data(n)));
    comma = ",";
  }
  json += "]}\n";

  // Not synced: after a crash of the system the daemon that wrote these
  // counts is gone too.
  std::string path = tessel_path(TESSEL_STATUS_FILE);
  if (tessel_replace_file(path, json, false)) return 1;
  ovi_trace(2, "cannot write the status file %s: %s\n", path.c_str(), strerror(errno));
  return 0;
}
