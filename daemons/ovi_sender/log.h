// The trace-line convention of ovi_sender: a message at level N is written to
// standard output only when proxy_trace_level is N or higher, as the prefix
// "[pid] ovi_sender: " followed by the message.  A message without a final
// newline runs on into the next output.
//
// Levels: 1 start-up, shut-down, request summaries and failures; 2 entry of
// each operation and registration details; 3 argument values, validation
// steps and dropped reports; 4 extra detail.
#ifndef DAEMONS_OVI_SENDER_LOG_H_
#define DAEMONS_OVI_SENDER_LOG_H_

#include "globals.h"

void ovi_trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The same from a signal handler: text, then the number when it is not
// negative, then a line end.  Uses only async-signal-safe calls.
void ovi_traceFromHandler(int level, const char* text, long number);

// Says why the daemon cannot start: one line on standard error, "ovi_sender:
// " and the message, whatever the trace level (an operator without a syslog
// daemon sees it too).  The message has no line end of its own.
void ovi_startFailed(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True when a message at this level would be written; lets callers skip
// building expensive arguments.
inline bool ovi_tracing(int level) { return proxy_trace_level >= level; }

#endif  // DAEMONS_OVI_SENDER_LOG_H_
