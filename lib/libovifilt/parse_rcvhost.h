// Per-database language, the installation check, and the per-user receiver
// host file.
//
// The language table "ovi_sender.lang" in the data directory is a sequence
// of blank-separated words (newlines count as blanks) taken in pairs: a
// database name, then the LANG value for it.
//
// The receiver host file lies in the user's home directory and is named
// ".ovi_rcvrc.USER.HOST" (an older form lacks ".HOST").  It holds one receiver
// a line, six fields separated by single blanks, "-" for an empty field, and
// is read back with the filter record reader (parse_filter.h).  Line columns
// 1 to 4 hold fields 1 to 4; column 5 holds field 6 and column 6 field 5.
#ifndef LIB_LIBOVIFILT_PARSE_RCVHOST_H_
#define LIB_LIBOVIFILT_PARSE_RCVHOST_H_

// Size of the message buffers these functions fill.
enum { OVI_MESSAGE_SIZE = 256 };

// Puts LANG into the environment from the first pair of the language table
// whose database name equals `database` exactly.  Words keep their first 255
// characters.  A missing table or database leaves the environment as it was.
void set_db_locale_lang(const char* database);

// Checks the console's element schema "/struct/elements.schema" below the
// installation base directory (ovi_verify_ovi_field_in_file).
int ovi_verify_ovi_installation(char* message);

// Checks that the first element record definition ("record" followed on its
// line by "component.", "bus.", "view." or "connection.") of the schema file
// at `path` (used as given) carries the "Created_by_ovi" marker before the
// line holding its closing ")" or on it.  Returns 0 when it does; 1 when the
// file cannot be opened or holds no element record; 2 when the marker is
// missing.  On failure writes the reason into `message` (OVI_MESSAGE_SIZE
// bytes).
int ovi_verify_ovi_field_in_file(const char* path, char* message);

// One receiver of the receiver host file: six texts of up to 80 characters.
struct OVI_Receiver {
  char field[6][81];
  OVI_Receiver* next;
};

// Size of the buffer get_filename fills.
enum { OVI_RCVFILE_PATH_SIZE = 1024 };

// Name of the receiver host file: HOME (else the password entry of the real
// user), "/" unless the home is "/" itself (a home of "." gives a name
// without directory), ".ovi_rcvrc.", the user (ORX_NAME, USER, LOGNAME, else
// the effective user's name), ".", the host (HOSTNAME, else gethostname,
// else "local").  Empty variables count as unset.  Returns 0 with the name in
// `path` (OVI_RCVFILE_PATH_SIZE bytes, cut to fit); -1 with "unable to
// locate your home directory." or "please set your ORX_NAME environment
// variable." in `message`.
int get_filename(char* path, char* message);

// Copies an older receiver host file (without the host part) to the current
// name with mode 0664.  Returns 1 after a copy, 0 when the current file
// exists or the old one does not, -1 when the name cannot be formed
// (message may be null).  Ends the process with status 0 when the two files
// cannot be opened, as the tools that call it expect.
int generate_compatible_file(char* message);

// Writes the list (may be null) to the receiver host file, replacing it.
// Returns 1; 0 when the file cannot be opened for writing (after printing
// "Can't open file PATH" on standard output); -1 when the name cannot be
// formed.
int ovi_saveSndFILE(const OVI_Receiver* entries, char* message);

// Reads the receiver host file; lines whose first three fields all begin
// with neither a letter nor a digit are skipped.  Returns the list, which the
// caller frees with ovi_free_receivers, or null when the name cannot be
// formed, the file cannot be opened or it holds no receiver.  Uses the
// filter module's stream: an open filter file is closed.
OVI_Receiver* ovi_loadSndFile(char* message);

void ovi_free_receivers(OVI_Receiver* entries);

#endif  // LIB_LIBOVIFILT_PARSE_RCVHOST_H_
