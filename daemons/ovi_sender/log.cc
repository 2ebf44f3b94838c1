#include "log.h"

#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

void ovi_trace(int level, const char* format, ...) {
  if (proxy_trace_level < level) return;
  // getpid() on every line: a subprocess's lines carry its own pid.
  printf("[%d] %s: ", static_cast<int>(getpid()), agent_name);
  va_list ap;
  va_start(ap, format);
  vprintf(format, ap);
  va_end(ap);
}
