// Every message that reaches the daemon's RPC service: reports go to the
// report dispatch, action requests are read into a Request and carried out.
#include <arpa/inet.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include "daemon.h"
#include "log.h"
#include "vant/vant_fetch.h"

namespace {

// Requests received since start; counted only while tracing, as the
// request lines show it.
unsigned int requestCount = 0;

// Copies an option's value as text: its bytes up to the length, cut to the
// member, then a NUL.
void copyText(char* member, size_t size, const Tessel_data& arg) {
  size_t n = arg.length < size - 1 ? arg.length : size - 1;
  memcpy(member, arg.value, n);
  member[n] = '\0';
}

// The option's value as a 32-bit word (zero-filled when shorter).
uint32_t wordOf(const Tessel_data& arg) {
  uint32_t word = 0;
  memcpy(&word, arg.value, arg.length < 4 ? arg.length : 4);
  return word;
}

}  // namespace

void do_request(unsigned int type, char* system, char* group, char* key, unsigned int count,
                struct timeval* interval, unsigned int flags) {
  ovi_trace(2, "do_request\n");
  if (ovi::daemon == nullptr) return;
  struct timeval byValue = interval != nullptr ? *interval : (struct timeval){0, 0};
  ovi::daemon->doRequest(type, system, group, key, count, byValue, flags);
}

void Daemon::doRequest(unsigned int type, char* system, char* group, char* key,
                       unsigned int count, struct timeval interval, unsigned int flags) {
  time_t now = time(nullptr);
  if (now != static_cast<time_t>(-1) && ovi_tracing(1)) {
    char when[64];
    requestCount++;
    ovi_trace(1, "***** received request #%u: %s", requestCount,
              ctime_r(&now, when) != nullptr ? when : "\n");
  }
  ovi_trace(1,
            "request type: %d, target system: \"%s\", schema group: \"%s\", table key: \"%s\", "
            "reporting count: %u, reporting interval: %u seconds, %u microseconds.\n",
            type, system, group, key, count, static_cast<unsigned>(interval.tv_sec),
            static_cast<unsigned>(interval.tv_usec));
  switch (type) {
    case 4: case 5: case 12:
      dispatchReport(type, system, group, key, flags);
      return;
    case 6:
      break;
    default:
      ovi_trace(1, "got invalid request type: %d\n", type);
      formatStatus(57, 0, "type: %d", type);
      return;
  }
  Request request;
  memset(&request, 0, sizeof request);
  if (!getRequestArgs(request)) return;
  if (flags & ACTION_REGISTER) {
    if (validateArgs(request)) addRendez(request);
  } else if (flags & ACTION_DELETE) {
    deleteRendez(request);
  } else if (flags & ACTION_SYNC) {
    if (validateArgs(request)) syncRendez(request);
  } else {
    ovi_trace(1, "got unknown action request flag: %d\n", flags);
    formatStatus(57, 0, "flags: %d", flags);
  }
}

int Daemon::getRequestArgs(Request& request) {
  ovi_trace(2, "Daemon::getRequestArgs\n");
  Tessel_data arg;
  if (!TesselEntity::fetchOption("tessel_rendez_addr", &arg)) return 0;
  memset(&request.rendez_addr, 0, sizeof request.rendez_addr);
  memcpy(&request.rendez_addr, arg.value, arg.length < 4 ? arg.length : 4);
  ovi_trace(3, "rendezvous IP address: %s\n", inet_ntoa(request.rendez_addr));

  if (!TesselEntity::fetchOption("tessel_rendez_prog", &arg)) return 0;
  request.rendez_prog = wordOf(arg);
  ovi_trace(3, "rendezvous RPC program: %d\n", static_cast<int>(request.rendez_prog));

  if (!TesselEntity::fetchOption("tessel_rendez_vers", &arg)) return 0;
  request.rendez_vers = wordOf(arg);
  ovi_trace(3, "rendezvous RPC version: %d\n", static_cast<int>(request.rendez_vers));

  if (!TesselEntity::fetchOption("vant_filter_file", &arg)) return 0;
  copyText(request.filter_file, sizeof request.filter_file, arg);
  ovi_trace(3, "filter_file : %s\n", request.filter_file);
  strcpy(filterFile, request.filter_file);

  if (!TesselEntity::fetchOption("vant_orx_name", &arg)) return 0;
  copyText(request.orx_name, sizeof request.orx_name, arg);
  ovi_trace(3, "orx_name: %s\n", request.orx_name);
  strcpy(orxName, request.orx_name);

  if (TesselEntity::fetchOption("receiving_orx", &arg))
    copyText(request.recv_orx, sizeof request.recv_orx, arg);
  else
    request.recv_orx[0] = '\0';
  ovi_trace(3, "recv_orx: %s\n", request.recv_orx);
  return 1;
}
