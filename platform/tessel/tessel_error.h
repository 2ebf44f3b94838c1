// The last error of the protocol and forwarding libraries, as text, and the
// libraries' debug levels.
#ifndef PLATFORM_TESSEL_TESSEL_ERROR_H_
#define PLATFORM_TESSEL_TESSEL_ERROR_H_

// Debug level of the protocol library: at 2 and above it traces to standard
// output with the prefix "[pid] tessel: ".
extern int tessel_debug;

// Text of the last library error ("" when none).
const char* tessel_sperror();

// Records the text of a library error.
void tessel_setError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A library trace line, written when level <= tessel_debug.
void tessel_trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

#endif  // PLATFORM_TESSEL_TESSEL_ERROR_H_
