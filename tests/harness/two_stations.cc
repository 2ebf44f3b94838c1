#include "harness/two_stations.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#ifndef OVI_STATIONS_SCRIPT
#error "OVI_STATIONS_SCRIPT must name scripts/stations.sh"
#endif

namespace {

// Bringing up and taking down are bounded inside the script; these bounds
// only keep a broken script from hanging the test.
const double kScriptSeconds = 90;

}  // namespace

TwoStations::TwoStations(const std::string& first, const std::string& second) {
  names_[0] = first;
  names_[1] = second;
  std::string out, err;
  if (!exitedZero(runProgram({OVI_STATIONS_SCRIPT, "check"}, &out, kScriptSeconds, {}, &err))) {
    why_ = err.empty() ? "stations.sh check failed" : err;
    return;
  }
  available_ = true;
  char tmpl[] = "/tmp/ovi_two_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    why_ = "cannot make a temporary directory";
    return;
  }
  dir_ = tmpl;
  std::vector<std::string> up = command("up");
  up.insert(up.end(), {"--names", first + "," + second, "--owner", std::to_string(getpid())});
  if (!exitedZero(runProgram(up, &out, kScriptSeconds, {}, &err))) {
    why_ = out + err;
    return;
  }
  if (!exitedZero(runProgram(command("status"), &out, kScriptSeconds, {}, &err))) {
    why_ = "stations.sh status failed after up: " + err;
    down();
    return;
  }
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) status_.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  up_ = true;
}

TwoStations::~TwoStations() {
  down();
  if (!dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

std::vector<std::string> TwoStations::command(const std::string& verb) const {
  return {OVI_STATIONS_SCRIPT, verb, dir_};
}

std::string TwoStations::status(const std::string& key) const {
  for (const auto& kv : status_)
    if (kv.first == key) return kv.second;
  return "";
}

std::string TwoStations::address(const std::string& station) const {
  return status(station + ".address");
}

int TwoStations::run(const std::string& station, const std::vector<std::string>& argv,
                     std::string* out, double seconds, const std::vector<std::string>& env,
                     std::string* err) const {
  if (!up_) return -1;
  std::vector<std::string> full = command("run");
  full.push_back(station);
  full.insert(full.end(), argv.begin(), argv.end());
  return runProgram(full, out, seconds, env, err);
}

bool TwoStations::start(Process* proc, const std::string& station,
                        const std::vector<std::string>& argv,
                        const std::vector<std::string>& env) const {
  if (!up_) return false;
  // The script ends by exec'ing nsenter, which exec's the program: the pid
  // the Process holds is the program's own.
  std::vector<std::string> full = command("run");
  full.push_back(station);
  full.insert(full.end(), argv.begin(), argv.end());
  return proc->start(full, env);
}

std::vector<pid_t> TwoStations::pids(const std::string& station) const {
  std::vector<pid_t> result;
  if (dir_.empty()) return result;
  std::vector<std::string> argv = command("pids");
  argv.push_back(station);
  std::string out;
  if (!exitedZero(runProgram(argv, &out, kScriptSeconds, {}))) return result;
  std::istringstream in(out);
  long pid;
  while (in >> pid) result.push_back(static_cast<pid_t>(pid));
  return result;
}

bool TwoStations::down() {
  up_ = false;
  if (dir_.empty()) return true;
  std::string out, err;
  int status = runProgram(command("down"), &out, kScriptSeconds, {}, &err);
  if (!exitedZero(status)) {
    why_ = out + err;
    return false;
  }
  return true;
}
