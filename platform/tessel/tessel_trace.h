// The trace-line convention of the station's programs: "[pid] WHO: " and the
// message, written to standard output in one system call, so that the lines
// of processes that share standard output (the daemon and its subprocesses)
// never mix.  The pid is read for every line: a child's lines carry its own.
// The message keeps its own line end; one without runs on into the next
// output.
#ifndef PLATFORM_TESSEL_TESSEL_TRACE_H_
#define PLATFORM_TESSEL_TESSEL_TRACE_H_

#include <stdarg.h>
#include <stddef.h>

// Writes one trace line.  Uses only async-signal-safe calls, so that signal
// handlers trace through it too.
void tessel_writeTraceLine(const char* who, const char* message);

// Formats the message printf-style and writes it as one trace line.  Not for
// signal handlers.
void tessel_vtraceLine(const char* who, const char* format, va_list ap);

// Writes the decimal text of n at out (room for 21 characters) and returns
// its length, without a NUL.  Async-signal-safe.
size_t tessel_decimal(long n, char* out);

#endif  // PLATFORM_TESSEL_TESSEL_TRACE_H_
