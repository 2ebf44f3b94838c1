#include "log.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

void ovi_trace(int level, const char* format, ...) {
  if (proxy_trace_level < level) return;
  // Prefix and message leave in one write, so that the lines of the daemon
  // and of its subprocesses, which share standard output, never mix.  getpid()
  // on every line: a subprocess's lines carry its own pid.
  char line[2048];
  int prefix = snprintf(line, sizeof line, "[%d] %s: ", static_cast<int>(getpid()), agent_name);
  va_list ap;
  va_start(ap, format);
  int n = vsnprintf(line + prefix, sizeof line - prefix, format, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<size_t>(prefix + n) < sizeof line) {
    fputs(line, stdout);
    return;
  }
  char* big = static_cast<char*>(malloc(prefix + n + 1));
  if (big == nullptr) return;
  memcpy(big, line, prefix);
  va_start(ap, format);
  vsnprintf(big + prefix, n + 1, format, ap);
  va_end(ap);
  fputs(big, stdout);
  free(big);
}
