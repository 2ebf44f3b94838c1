#include "tessel/tessel_trace.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <unistd.h>

size_t tessel_decimal(long n, char* out) {
  char digits[24];
  size_t len = 0;
  unsigned long u = n < 0 ? -static_cast<unsigned long>(n) : static_cast<unsigned long>(n);
  do {
    digits[len++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  size_t at = 0;
  if (n < 0) out[at++] = '-';
  while (len > 0) out[at++] = digits[--len];
  return at;
}

void tessel_writeTraceLine(const char* who, const char* message) {
  char prefix[160];
  size_t at = 0;
  prefix[at++] = '[';
  at += tessel_decimal(static_cast<long>(getpid()), prefix + at);
  prefix[at++] = ']';
  prefix[at++] = ' ';
  size_t name = strnlen(who, sizeof prefix - at - 2);
  memcpy(prefix + at, who, name);
  at += name;
  prefix[at++] = ':';
  prefix[at++] = ' ';
  struct iovec parts[2] = {{prefix, at}, {const_cast<char*>(message), strlen(message)}};
  ssize_t ignored = writev(STDOUT_FILENO, parts, 2);
  (void)ignored;
}

void tessel_vtraceLine(const char* who, const char* format, va_list ap) {
  char line[2048];
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(line, sizeof line, format, ap);
  if (n >= 0 && static_cast<size_t>(n) < sizeof line) {
    tessel_writeTraceLine(who, line);
  } else if (n >= 0) {
    char* big = static_cast<char*>(malloc(static_cast<size_t>(n) + 1));
    if (big != nullptr) {
      vsnprintf(big, static_cast<size_t>(n) + 1, format, again);
      tessel_writeTraceLine(who, big);
      free(big);
    }
  }
  va_end(again);
}
