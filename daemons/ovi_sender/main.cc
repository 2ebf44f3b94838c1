// ovi_sender: forwards the station's event reports and traps to the
// consoles registered with it.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <new>
#include <string>

#include "attribute.h"
#include "daemon.h"
#include "log.h"
#include "parse_rcvhost.h"
#include "tessel/tessel_config.h"
#include "tessel/tessel_error.h"
#include "tessel/tessel_file.h"
#include "vant/vant_agent.h"

namespace {

void usage() {
  printf("Usage: ovi_sender [-d <debugging-level>\n");
  printf("                [-t <RPC-timeout>]\n");
}

// Writes why the daemon cannot start to a system file; a file that cannot
// be opened at once (a console that would block) is skipped.
void tellOperator(const char* fixedPath, bool append, const char* reason) {
  FILE* f = tessel_open_for_writing(tessel_path(fixedPath).c_str(), append);
  if (f == nullptr) return;
  fprintf(f, "ovi_sender [%d] cannot be started. Reason :\n\t%s\n", static_cast<int>(getpid()),
          reason);
  fflush(f);
  fclose(f);
}

// Keeps every descriptor of the process below FD_SETSIZE: the service loop
// and the RPC library select over descriptor sets, and a connection
// accepted above that could be neither served nor closed.  When the limit is
// reached, the RPC library drops its most idle connection to accept a new one.
void limitDescriptors() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur <= static_cast<rlim_t>(FD_SETSIZE))
    return;
  limit.rlim_cur = FD_SETSIZE;
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

int main(int argc, char** argv) {
  proxy_trace_level = 0;
  opterr = 0;
  int c;
  // "+": options end at the first argument that is not one; that argument
  // and all after it are ignored, rather than searched for more options.
  while ((c = getopt(argc, argv, "+d:l:t:")) != -1) {
    switch (c) {
      case 'd':
        proxy_trace_level = atoi(optarg);
        vant_debug = 1;
        setvbuf(stdout, nullptr, _IONBF, 0);
        break;
      case 'l':
        vant_debug = atoi(optarg);
        setvbuf(stdout, nullptr, _IONBF, 0);
        break;
      case 't':
        // Accepted for compatibility: the RPC time-outs are fixed.
        (void)atoi(optarg);
        break;
      default:
        usage();
        return 1;
    }
  }

  // Every fixed path lies below OVI_ROOT: one that names nothing would make
  // every file look missing.
  const char* root = getenv("OVI_ROOT");
  struct stat st;
  if (root != nullptr && root[0] != '\0' && (stat(root, &st) != 0 || !S_ISDIR(st.st_mode))) {
    ovi_startFailed("OVI_ROOT %s is not a directory", root);
    exit(1);
  }
  char reason[256] = "";
  if (ovi_verify_ovi_installation(reason) != 0) {
    ovi_startFailed("cannot be started: %s", reason);
    tellOperator("/var/adm/messages", true, reason);
    tellOperator("/dev/console", false, reason);
    exit(1);
  }

  openlog(agent_name, LOG_PID, LOG_DAEMON);
  limitDescriptors();
  ovi::daemon = new (std::nothrow) Daemon;
  if (ovi::daemon == nullptr || ovi::daemon->initFailed) {
    ovi_startFailed("cannot initialize: %s", ovi::daemon == nullptr ? "no memory" : tessel_sperror());
    ovi_trace(1, "Cannot initialize, exiting.");
    syslog(LOG_ERR, "Cannot initialize, exiting.");
    closelog();
    exit(1);
  }
  build_attribute_lists();
  ovi::daemon->GetEvents();
  ovi::daemon->svc_run();
  ovi_trace(1, "Unexpected return from vant_start_agent\n");
  closelog();
  return 1;
}
