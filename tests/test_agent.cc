// test_agent: a small agent on the forwarding library, for end-to-end tests
// of the library's service, its shutdown and the console's action requests.
//
//   test_agent [--prog N] [--vers N] [--status N] [--fork-child]
//
// Prints "ready" once it serves, then one JSON line per request with the
// message fields and every datum as text, and "shutdown" from its shutdown
// callback.  --status N answers every action request with status N.
// --fork-child forks a child that waits for signals and prints its pid as
// "child PID".
#include <getopt.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "cli.h"
#include "parse_filter.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_object.h"
#include "vant/vant_agent.h"
#include "vant/vant_fetch.h"

namespace {

int answerStatus = 0;

void onRequest(unsigned int type, char* system, char* group, char* key, unsigned int count,
               struct timeval* interval, unsigned int flags) {
  std::string line = "{\"type\":" + std::to_string(type) + ",\"flags\":" + std::to_string(flags) +
                     ",\"system\":" + cli_jsonString(system) + ",\"group\":" +
                     cli_jsonString(group) + ",\"key\":" + cli_jsonString(key) +
                     ",\"count\":" + std::to_string(count) + ",\"interval\":" +
                     std::to_string(interval->tv_sec) + ",\"data\":{";
  Tessel_data d;
  bool first = true;
  while (vant_fetch_data(&d, nullptr) && strcmp(d.name, "tessel_endofargs") != 0) {
    const char* text = value2str(d.type, d.value, d.length);
    line += std::string(first ? "" : ",") + cli_jsonString(d.name) + ":" +
            cli_jsonString(text != nullptr ? text : "");
    first = false;
  }
  printf("%s}}\n", line.c_str());
  fflush(stdout);
  if (type == 6 && answerStatus != 0) {
    TesselObject status;
    status.formatStatus(answerStatus, 0, "refused by the test agent");
  }
}

void onShutdown(int) {
  printf("shutdown\n");
  fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t prog = 100139, vers = 10, status = 0;
  bool forkChild = false;
  static const struct option options[] = {{"prog", required_argument, nullptr, 'p'},
                                          {"vers", required_argument, nullptr, 'v'},
                                          {"status", required_argument, nullptr, 's'},
                                          {"fork-child", no_argument, nullptr, 'f'},
                                          {nullptr, 0, nullptr, 0}};
  int c;
  while ((c = getopt_long(argc, argv, "", options, nullptr)) != -1) {
    bool ok = true;
    if (c == 'p') ok = cli_parseUnsigned(optarg, UINT32_MAX, &prog);
    else if (c == 'v') ok = cli_parseUnsigned(optarg, UINT32_MAX, &vers);
    else if (c == 's') ok = cli_parseUnsigned(optarg, 1000, &status);
    else if (c == 'f') forkChild = true;
    else ok = false;
    if (!ok) return 2;
  }
  answerStatus = static_cast<int>(status);
  struct timeval timeout = {30, 0};
  if (!_vant_init_rpc_rendez("test_agent", VANT_UDP_AND_TCP, prog, vers, TESSEL_TYPE_MAX,
                             &timeout, nullptr, onRequest, onShutdown)) {
    fprintf(stderr, "test_agent: %s\n", tessel_sperror());
    return 1;
  }
  if (forkChild) {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
      for (;;) pause();
    }
    printf("child %d\n", static_cast<int>(pid));
  }
  printf("ready\n");
  fflush(stdout);
  for (;;) {
    fd_set ready = svc_fdset;
    if (select(FD_SETSIZE, &ready, nullptr, nullptr, nullptr) > 0) svc_getreqset(&ready);
  }
}
