#include "cli.h"

#include <errno.h>
#include <getopt.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <vector>

volatile sig_atomic_t cli_stopRequested = 0;

int cli_parseUnsigned(const char* text, uint64_t max, uint64_t* value) {
  if (text == nullptr || *text == '\0' || *text == '-' || *text == '+') return 0;
  errno = 0;
  char* end;
  unsigned long long v = strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return 0;
  *value = v;
  return 1;
}

int cli_parseSigned(const char* text, int64_t min, int64_t max, int64_t* value) {
  if (text == nullptr || *text == '\0') return 0;
  errno = 0;
  char* end;
  long long v = strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return 0;
  *value = v;
  return 1;
}

void cli_error(const char* program, const char* format, ...) {
  fprintf(stderr, "%s: ", program);
  va_list ap;
  va_start(ap, format);
  vfprintf(stderr, format, ap);
  va_end(ap);
  fputc('\n', stderr);
}

const char* cli_quietOptions(const char* shortOptions) {
  // A leading ':' makes a missing value come back as ':', not '?'.
  static std::string quiet;
  quiet = std::string(":") + shortOptions;
  opterr = 0;
  return quiet.c_str();
}

void cli_optionError(const char* program, int c, char** argv) {
  const char* arg = optind > 0 ? argv[optind - 1] : "";
  if (c == ':')
    cli_error(program, "option %s needs a value (see --help)", arg);
  else if (optopt != 0)
    cli_error(program, "unknown option -%c (see --help)", optopt);
  else
    cli_error(program, "unknown option %s (see --help)", arg);
}

namespace {

// What getopt_long answers for --version: beyond every long option's value.
const int kVersion = CLI_LONG - 1;

// The long options named in `list` ("to= tcp"), then --help and the end
// entry.  The names live in *names, which must outlive the table.
std::vector<struct option> longOptionTable(const char* list, std::vector<std::string>* names) {
  std::vector<bool> takesValue;
  for (const char* p = list; *p != '\0';) {
    size_t n = strcspn(p, " ");
    if (n > 0) {
      bool value = p[n - 1] == '=';
      names->emplace_back(p, value ? n - 1 : n);
      takesValue.push_back(value);
    }
    p += n + strspn(p + n, " ");
  }
  std::vector<struct option> table;
  for (size_t i = 0; i < names->size(); i++)
    table.push_back({(*names)[i].c_str(), takesValue[i] ? required_argument : no_argument, nullptr,
                     CLI_LONG + static_cast<int>(i)});
  table.push_back({"help", no_argument, nullptr, 'h'});
  table.push_back({"version", no_argument, nullptr, kVersion});
  table.push_back({nullptr, 0, nullptr, 0});
  return table;
}

}  // namespace

int cli_getOptions(const char* program, int argc, char** argv, const char* shortOptions,
                   const char* longOptions, void (*usage)(FILE*), const CliHandler& handle) {
  std::vector<std::string> names;
  std::vector<struct option> table = longOptionTable(longOptions, &names);
  const std::string shorts = cli_quietOptions((std::string(shortOptions) + "h").c_str());
  int c;
  while ((c = getopt_long(argc, argv, shorts.c_str(), table.data(), nullptr)) != -1) {
    if (c == 'h') {
      usage(stdout);
      return 0;
    }
    if (c == kVersion) {
      cli_printVersion(program);
      return 0;
    }
    if (c == '?' || c == ':') {
      cli_optionError(program, c, argv);
      return 2;
    }
    int verdict = handle(c, optarg);
    if (verdict == CLI_REFUSED) return 2;
    if (verdict != CLI_BAD_VALUE) continue;
    const char* value = optarg != nullptr ? optarg : "";
    if (c >= CLI_LONG)
      cli_error(program, "bad value for --%s: %s", names[c - CLI_LONG].c_str(), value);
    else
      cli_error(program, "bad value for -%c: %s", c, value);
    return 2;
  }
  return -1;
}

void cli_printVersion(const char* program) { printf("%s %s\n", program, OVI_VERSION); }

int cli_noOperands(const char* program, int argc, char** argv) {
  if (optind >= argc) return 1;
  cli_error(program, "unexpected argument %s (see --help)", argv[optind]);
  return 0;
}

int cli_needed(const char* program, bool given, const char* what) {
  if (given) return 1;
  cli_error(program, "%s is needed", what);
  return 0;
}

static void catchStop(int) { cli_stopRequested = 1; }

void cli_catchStopSignals() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = catchStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

double cli_now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The escape of control character c, or null when it is written as it is.
static const char* controlEscape(unsigned char c, CliQuoting how, char* buf, size_t size) {
  if (c >= 0x20 && c != 0x7f) return nullptr;
  if (how == CLI_QUOTE_C) {
    snprintf(buf, size, "\\x%02x", c);
    return buf;
  }
  switch (c) {
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
  }
  snprintf(buf, size, "\\u%04x", c);
  return buf;
}

std::string cli_quoted(const char* s, CliQuoting how) {
  std::string out = "\"";
  char buf[8];
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p != '\0'; p++) {
    const char* escape = controlEscape(*p, how, buf, sizeof buf);
    if (escape != nullptr) {
      out += escape;
      continue;
    }
    if (*p == '"' || *p == '\\') out += '\\';
    out += static_cast<char>(*p);
  }
  return out + "\"";
}

std::string cli_jsonString(const char* s) { return cli_quoted(s, CLI_QUOTE_JSON); }
