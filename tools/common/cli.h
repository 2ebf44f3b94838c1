// Small helpers shared by the station's command-line programs: option
// reading, number parsing, usage errors, quoting, the monotonic clock and
// the end-of-work signal flag.
#ifndef TOOLS_COMMON_CLI_H_
#define TOOLS_COMMON_CLI_H_

#include <signal.h>
#include <stdint.h>
#include <stdio.h>

#include <functional>
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

// What cli_getOptions hands the i-th long option as: CLI_LONG + i.
enum { CLI_LONG = 256 };

// What an option handler answers: the option is taken, its value is bad
// (cli_getOptions says so), or the handler has written its own one-line
// usage error.  The parsers' 1 and 0 may be answered as they are.
enum { CLI_BAD_VALUE = 0, CLI_TAKEN = 1, CLI_REFUSED = 2 };

// Handles option `c` with its value (null for an option that takes none).
typedef std::function<int(int c, const char* value)> CliHandler;

// Writes "PROGRAM VERSION" on standard output: what --version prints.
void cli_printVersion(const char* program);

// Reads the options of argv with getopt_long and hands each to `handle`.
//   shortOptions  as getopt_long takes them ("d:"); -h is added
//   longOptions   blank-separated names, a trailing '=' when the option
//                 takes a value ("to= tcp"); --help and --version are added
//   usage         writes the program's usage to the stream it is given
// -h and --help write the usage on standard output, --version the version
// (cli_printVersion); both then return 0.  A usage error is one
// line on standard error that begins with `program`: an unknown option or a
// missing value (cli_optionError), "bad value for --NAME: VALUE", or the
// handler's own line.  Returns -1 to go on, optind then naming the first
// operand; otherwise the exit status: 0 after the usage, 2 after an error.
int cli_getOptions(const char* program, int argc, char** argv, const char* shortOptions,
                   const char* longOptions, void (*usage)(FILE*), const CliHandler& handle);

// Returns 1 when argv holds nothing after its options (optind == argc);
// otherwise 0 after writing the one-line usage error that names the first
// operand.
int cli_noOperands(const char* program, int argc, char** argv);

// Returns 1 when a needed option was `given`; otherwise 0 after writing the
// one-line usage error "WHAT is needed".
int cli_needed(const char* program, bool given, const char* what);

// Set by SIGTERM and SIGINT once cli_catchStopSignals() ran.  SIGPIPE is
// ignored from then on: a peer that went away shows as a failed write.
extern volatile sig_atomic_t cli_stopRequested;
void cli_catchStopSignals();

// Seconds on the monotonic clock.  It is not namespaced, so processes in
// different stations of one machine compare their readings.
double cli_now();

// How cli_quoted writes a control character (below 0x20, and 0x7f): as
// JSON does (\n, \r, \t, else \u00XX) or as C does (\xXX).
enum CliQuoting { CLI_QUOTE_JSON, CLI_QUOTE_C };

// s between double quotes, '"' and '\' escaped with a backslash and control
// characters as `how` says; other bytes as they are.
std::string cli_quoted(const char* s, CliQuoting how);

// The text of a JSON string literal for s (with the quotes).
std::string cli_jsonString(const char* s);

#endif  // TOOLS_COMMON_CLI_H_
