#include "cli.h"

#include <errno.h>
#include <getopt.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

std::string cli_jsonString(const char* s) {
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p != '\0'; p++) {
    switch (*p) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (*p < 0x20 || *p == 0x7f) {
          char esc[8];
          snprintf(esc, sizeof esc, "\\u%04x", *p);
          out += esc;
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  return out + "\"";
}
