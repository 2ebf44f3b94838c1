// ovi_status: what ovi_sender says of itself in its status file, the
// consoles registered with it and the reports each got or lost, as a table,
// as the JSON the daemon wrote, or in the Prometheus text format for
// node_exporter's textfile collector.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>

#include "cli.h"
#include "status_json.h"
#include "tessel/tessel_config.h"
#include "tessel/tessel_file.h"

namespace {

const char kProgram[] = "ovi_status";

enum Format { kTable, kJson, kPrometheus };

struct Options {
  Format format = kTable;
  std::string file;
};

void usage(FILE* out) {
  fprintf(out,
          "usage: ovi_status [--json | --prometheus] [--file PATH]\n"
          "Prints ovi_sender's status file (%s below $OVI_ROOT, or PATH):\n"
          "the daemon and every registered console with the reports it had cached,\n"
          "handed to its subprocess and lost to a full cache, and its restarts.\n"
          "  --json        the file as the daemon wrote it\n"
          "  --prometheus  the Prometheus text exposition format\n"
          "Exit status: 0 done, 1 the file cannot be read or is not a status file, 2 usage error.\n",
          TESSEL_STATUS_FILE);
}

int parseOptions(int argc, char** argv, Options* o) {
  bool formatGiven = false;
  auto take = [&](int c, const char* value) -> int {
    if (c == CLI_LONG + 2) {
      o->file = value;
      return CLI_TAKEN;
    }
    if (formatGiven) {
      cli_error(kProgram, "give only one of --json and --prometheus");
      return CLI_REFUSED;
    }
    formatGiven = true;
    o->format = c == CLI_LONG ? kJson : kPrometheus;
    return CLI_TAKEN;
  };
  int status = cli_getOptions(kProgram, argc, argv, "", "json prometheus file=", usage, take);
  if (status >= 0) return status;
  return cli_noOperands(kProgram, argc, argv) ? -1 : 2;
}

// The whole file, or false with the reason on standard error.
bool readFile(const std::string& path, std::string* text) {
  FilePtr fp;
  int err = tessel_open_text_file(path.c_str(), &fp);
  if (err == ENOENT) {
    cli_error(kProgram, "no status file %s: ovi_sender does not run here", path.c_str());
    return false;
  }
  if (err != 0) {
    cli_error(kProgram, "cannot read %s: %s", path.c_str(), strerror(err));
    return false;
  }
  char block[4096];
  size_t n;
  while ((n = fread(block, 1, sizeof block, fp.get())) > 0) text->append(block, n);
  if (!ferror(fp.get())) return true;
  cli_error(kProgram, "cannot read %s", path.c_str());
  return false;
}

// True while the process that wrote the file runs (as far as a pid tells).
bool running(const JsonValue& daemon) {
  pid_t pid = static_cast<pid_t>(daemon.numberOf("pid"));
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

std::string timeText(double seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  char text[32];
  if (t <= 0 || localtime_r(&t, &tm) == nullptr) return "-";
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string count(const JsonValue& r, const char* name) {
  return std::to_string(static_cast<unsigned long long>(r.numberOf(name)));
}

void printTable(const JsonValue& status) {
  const JsonValue* daemon = status.member("daemon");
  const JsonValue* registrations = status.member("registrations");
  printf("ovi_sender pid %s on %s, started %s, %s, status of %s%s\n",
         count(*daemon, "pid").c_str(), daemon->textOf("host").c_str(),
         timeText(daemon->numberOf("started")).c_str(),
         daemon->truthOf("subscribed") ? "subscribed to qm.event" : "not subscribed to qm.event",
         timeText(daemon->numberOf("written")).c_str(),
         running(*daemon) ? "" : " (it no longer runs)");
  printf("%-15s %-10s %-4s %-16s %-10s %-10s %-7s %-19s %8s %8s %8s %8s\n", "ADDRESS", "PROGRAM",
         "VERS", "FILTER", "DATABASE", "CONSOLE", "PID", "REGISTERED", "CACHED", "HANDED",
         "DROPPED", "RESTARTS");
  for (const JsonValue& r : registrations->items) {
    std::string console = r.textOf("recv_orx");
    printf("%-15s %-10s %-4s %-16s %-10s %-10s %-7s %-19s %8s %8s %8s %8s%s\n",
           r.textOf("address").c_str(), count(r, "prog").c_str(), count(r, "vers").c_str(),
           r.textOf("filter_file").c_str(), r.textOf("orx_name").c_str(),
           console.empty() ? "-" : console.c_str(), count(r, "subproc_pid").c_str(),
           timeText(r.numberOf("registered")).c_str(), count(r, "cached").c_str(),
           count(r, "handed").c_str(), count(r, "dropped_full").c_str(),
           count(r, "restarts").c_str(), r.truthOf("ending") ? "  (ending)" : "");
  }
}

// A label value as the exposition format writes it.
std::string label(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

void metric(const char* name, const char* type, const char* help) {
  printf("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

void printPrometheus(const JsonValue& status) {
  const JsonValue* daemon = status.member("daemon");
  const JsonValue* registrations = status.member("registrations");
  metric("ovi_sender_up", "gauge", "1 while the daemon that wrote the status file runs.");
  printf("ovi_sender_up %d\n", running(*daemon) ? 1 : 0);
  metric("ovi_sender_subscribed", "gauge", "1 while the daemon is subscribed to qm.event.");
  printf("ovi_sender_subscribed %d\n", daemon->truthOf("subscribed") ? 1 : 0);
  metric("ovi_sender_start_time_seconds", "gauge", "When the daemon started (Unix time).");
  printf("ovi_sender_start_time_seconds %.0f\n", daemon->numberOf("started"));
  metric("ovi_sender_status_time_seconds", "gauge", "When the status file was written.");
  printf("ovi_sender_status_time_seconds %.0f\n", daemon->numberOf("written"));
  metric("ovi_sender_registrations", "gauge", "Consoles registered.");
  printf("ovi_sender_registrations %zu\n", registrations->items.size());
  const struct {
    const char* name;
    const char* member;
    const char* type;
    const char* help;
  } series[] = {
      {"ovi_sender_reports_cached_total", "cached", "counter", "Reports put in the console's cache."},
      {"ovi_sender_reports_handed_total", "handed", "counter",
       "Reports handed to the console's subprocess."},
      {"ovi_sender_reports_dropped_total", "dropped_full", "counter",
       "Reports lost because the console's cache was full."},
      {"ovi_sender_subprocess_restarts_total", "restarts", "counter",
       "Subprocesses started again for the console."},
      {"ovi_sender_reports_waiting", "waiting", "gauge", "Reports in the console's cache now."},
      {"ovi_sender_registration_time_seconds", "registered", "gauge",
       "When the console registered (Unix time)."},
  };
  for (const auto& s : series) {
    metric(s.name, s.type, s.help);
    for (const JsonValue& r : registrations->items)
      printf("%s{address=\"%s\",prog=\"%s\",vers=\"%s\",orx_name=\"%s\",recv_orx=\"%s\"} %s\n",
             s.name, label(r.textOf("address")).c_str(), count(r, "prog").c_str(),
             count(r, "vers").c_str(), label(r.textOf("orx_name")).c_str(),
             label(r.textOf("recv_orx")).c_str(), count(r, s.member).c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int status = parseOptions(argc, argv, &o);
  if (status >= 0) return status;
  std::string path = o.file.empty() ? tessel_path(TESSEL_STATUS_FILE) : o.file;
  std::string text;
  if (!readFile(path, &text)) return 1;
  JsonValue parsed;
  std::string error;
  const JsonValue* daemon = nullptr;
  const JsonValue* registrations = nullptr;
  if (json_parse(text, &parsed, &error)) {
    daemon = parsed.member("daemon");
    registrations = parsed.member("registrations");
    if (daemon == nullptr || daemon->kind != JsonValue::kObject || registrations == nullptr ||
        registrations->kind != JsonValue::kArray)
      error = "no daemon object or no registrations array";
  }
  if (!error.empty()) {
    cli_error(kProgram, "%s is not a status file: %s", path.c_str(), error.c_str());
    return 1;
  }
  if (o.format == kJson)
    fputs(text.c_str(), stdout);
  else if (o.format == kPrometheus)
    printPrometheus(parsed);
  else
    printTable(parsed);
  return 0;
}
