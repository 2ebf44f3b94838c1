#include "subscription_file.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "cli.h"
#include "tessel/tessel_file.h"

const char QM_EVENT_SUBSCRIPTIONS[] = "/var/opt/ZEPHline/orx/qm.event.subscriptions";

namespace {

const char kHeader[] =
    "# qm.event subscribers, rewritten by qm.event on every change: "
    "host address program version agent-program (host \"-\": none given)\n";

// The longest host name a subscription carries (TesselSubscription::host).
const size_t kMaxHost = 255;

// What failed, on which path, and why, as one line.
std::string failure(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + strerror(errno);
}

// A host name is written only when it reads back as the same single word;
// the address, not the name, is what a restored subscription uses.
bool writableHost(const std::string& host) {
  if (host.empty() || host == "-" || host[0] == '#' || host.size() > kMaxHost) return false;
  for (unsigned char c : host)
    if (c <= ' ' || c >= 0x7f) return false;
  return true;
}

std::string fileText(const std::vector<StoredSubscription>& subs) {
  std::string out = kHeader;
  for (const StoredSubscription& s : subs) {
    char addr[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &s.addr, addr, sizeof addr);
    out += (writableHost(s.host) ? s.host : "-") + " " + addr + " " + std::to_string(s.prog) +
           " " + std::to_string(s.vers) + " " + std::to_string(s.agentProg) + "\n";
  }
  return out;
}

bool blankOrComment(const std::string& line) {
  size_t first = line.find_first_not_of(" \t");
  return first == std::string::npos || line[first] == '#';
}

// Fills *s from a subscription line; returns null, or why it is not one.
const char* parseLine(const std::string& line, StoredSubscription* s) {
  for (unsigned char c : line)
    if ((c < ' ' && c != '\t') || c >= 0x7f) return "a character that is not printable";
  std::vector<std::string> fields;
  for (size_t at = line.find_first_not_of(" \t"); at != std::string::npos;
       at = line.find_first_not_of(" \t", at)) {
    size_t end = line.find_first_of(" \t", at);
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  if (fields.size() != 5) return "not the five fields host address program version agent-program";
  if (fields[0].size() > kMaxHost) return "a host name longer than 255 bytes";
  s->host = fields[0] == "-" ? "" : fields[0];
  if (inet_pton(AF_INET, fields[1].c_str(), &s->addr) != 1) return "not a dotted address";
  uint64_t numbers[3];
  for (int i = 0; i < 3; i++)
    if (!cli_parseUnsigned(fields[2 + i].c_str(), UINT32_MAX, &numbers[i]))
      return "a program, version or agent program that is not a number below 2^32";
  s->prog = static_cast<u_int>(numbers[0]);
  s->vers = static_cast<u_int>(numbers[1]);
  s->agentProg = static_cast<u_int>(numbers[2]);
  return nullptr;
}

}  // namespace

int subscriptions_write(const std::string& path, const std::vector<StoredSubscription>& subs,
                        std::string* error) {
  std::string text = fileText(subs);
  if (tessel_replace_file(path, text, true, error)) return 1;
  if (errno != ENOENT) return 0;
  // A directory on the way is missing, as on a fresh station: made, then
  // the file is written again.
  std::string failed;
  if (!tessel_make_directories(tessel_directory_of(path), &failed)) {
    *error = failure("cannot create", failed);
    return 0;
  }
  return tessel_replace_file(path, text, true, error);
}

void subscriptions_read(const std::string& path, std::vector<StoredSubscription>* subs,
                        std::vector<std::string>* complaints) {
  FilePtr fp;
  int err = tessel_open_text_file(path.c_str(), &fp);
  if (err == ENOENT) return;
  if (err != 0) {
    errno = err;
    complaints->push_back(failure("cannot read", path) + ", no subscriber restored");
    return;
  }
  char* text = nullptr;
  size_t size = 0;
  ssize_t n;
  for (int number = 1; (n = getline(&text, &size, fp.get())) != -1; number++) {
    std::string line(text, static_cast<size_t>(n));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (blankOrComment(line)) continue;
    StoredSubscription s;
    if (const char* why = parseLine(line, &s))
      complaints->push_back(path + ":" + std::to_string(number) + ": " + why + ", line skipped");
    else
      subs->push_back(s);
  }
  free(text);
}
