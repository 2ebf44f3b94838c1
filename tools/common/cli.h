// Small helpers shared by the station's command-line programs: number
// parsing, usage errors and the end-of-work signal flag.
#ifndef TOOLS_COMMON_CLI_H_
#define TOOLS_COMMON_CLI_H_

#include <signal.h>
#include <stdint.h>

#include <string>

// Parses a decimal (or 0x hexadecimal) unsigned number within [0, max].
// Returns 1 on success.
int cli_parseUnsigned(const char* text, uint64_t max, uint64_t* value);

// Parses a signed decimal number within [min, max].  Returns 1 on success.
int cli_parseSigned(const char* text, int64_t min, int64_t max, int64_t* value);

// Writes "PROGRAM: message" to standard error.
void cli_error(const char* program, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The option string to give getopt_long for the short options `shortOptions`:
// errors are left to cli_optionError (and the C library prints nothing).
// Sets opterr to 0.
const char* cli_quietOptions(const char* shortOptions);

// Writes the one-line usage error for the option getopt_long has just
// refused, `c` being what it returned ('?' or ':'); the caller then exits
// with status 2.
void cli_optionError(const char* program, int c, char** argv);

// Set by SIGTERM and SIGINT once cli_catchStopSignals() ran.  SIGPIPE is
// ignored from then on: a peer that went away shows as a failed write.
extern volatile sig_atomic_t cli_stopRequested;
void cli_catchStopSignals();

// The text of a JSON string literal for s (with the quotes).
std::string cli_jsonString(const char* s);

#endif  // TOOLS_COMMON_CLI_H_
