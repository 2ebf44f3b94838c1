#include "tessel/tessel_error.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "tessel/tessel_trace.h"

int tessel_debug = 0;

static char lastError[512];

const char* tessel_sperror() { return lastError; }

void tessel_setError(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vsnprintf(lastError, sizeof lastError, format, ap);
  va_end(ap);
  // RPC error texts come with line ends of their own.
  size_t n = strlen(lastError);
  while (n > 0 && (lastError[n - 1] == '\n' || lastError[n - 1] == ' ')) lastError[--n] = '\0';
  tessel_trace(2, "%s\n", lastError);
}

void tessel_trace(int level, const char* format, ...) {
  if (tessel_debug < level) return;
  va_list ap;
  va_start(ap, format);
  tessel_vtraceLine("tessel", format, ap);
  va_end(ap);
}
