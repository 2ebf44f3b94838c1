// The file where qm.event keeps its subscribers, so that a dispatcher that
// was stopped or killed serves the same subscribers when it starts again:
// the daemon and the station's applications subscribe once, at their own
// start, and would otherwise never hear from the dispatcher again.
//
// Plain text, one subscriber a line, a comment line at the top:
//   HOST ADDRESS PROGRAM VERSION AGENT-PROGRAM
// HOST is the host name the subscriber gave ("-" when it gave none or one
// that cannot be written as a single word); ADDRESS is the dotted address
// the dispatcher calls, used as it stands when the file is read.  Blank
// lines and lines whose first non-blank character is '#' are skipped.
#ifndef TOOLS_QM_EVENT_SUBSCRIPTION_FILE_H_
#define TOOLS_QM_EVENT_SUBSCRIPTION_FILE_H_

#include <netinet/in.h>
#include <stddef.h>
#include <sys/types.h>

#include <string>
#include <vector>

// The file's fixed path, opened through tessel_path().
extern const char QM_EVENT_SUBSCRIPTIONS[];  // "/var/opt/ZEPHline/orx/qm.event.subscriptions"

struct StoredSubscription {
  std::string host;  // as the subscriber gave it; may be empty
  struct in_addr addr;
  u_int prog;
  u_int vers;
  u_int agentProg;
};

// Replaces the file at `path` by one holding `subs`: a temporary file in the
// same directory (made with its missing parents), synced, then renamed over
// the old one, so that a reader finds either the old set or the new one.
// Returns 1 on success, otherwise 0 with *error set to one line of text.
int subscriptions_write(const std::string& path, const std::vector<StoredSubscription>& subs,
                        std::string* error);

// Reads the file at `path` into *subs, in file order.  A missing file holds
// no subscribers.  Whatever is wrong (a file that cannot be read, is not a
// regular file or is larger than the station reads, a line that is not a
// subscription) is added to *complaints as one line naming the file and, for
// a line, its number; the lines that are good are still read.  Never blocks
// on a FIFO or a device.
void subscriptions_read(const std::string& path, std::vector<StoredSubscription>* subs,
                        std::vector<std::string>* complaints);

#endif  // TOOLS_QM_EVENT_SUBSCRIPTION_FILE_H_
