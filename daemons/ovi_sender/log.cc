#include "log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tessel/tessel_trace.h"

void ovi_trace(int level, const char* format, ...) {
  if (proxy_trace_level < level) return;
  va_list ap;
  va_start(ap, format);
  tessel_vtraceLine(agent_name, format, ap);
  va_end(ap);
}

void ovi_startFailed(const char* format, ...) {
  char line[1024];
  va_list ap;
  va_start(ap, format);
  vsnprintf(line, sizeof line, format, ap);
  va_end(ap);
  // A reason that spans lines (the installation check's) stays one line.
  for (char* p = line; *p != '\0'; p++)
    if (*p == '\n' || *p == '\t') *p = ' ';
  fprintf(stderr, "%s: %s\n", agent_name, line);
}

void ovi_traceFromHandler(int level, const char* text, long number) {
  if (proxy_trace_level < level) return;
  char line[200];
  size_t n = strnlen(text, 150);
  memcpy(line, text, n);
  if (number >= 0) n += tessel_decimal(number, line + n);
  line[n++] = '\n';
  line[n] = '\0';
  tessel_writeTraceLine(agent_name, line);
}
