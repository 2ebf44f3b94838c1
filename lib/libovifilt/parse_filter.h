// The filter-file module: the records of a receiver's filter file, the
// process-wide cache of the parsed file with the look-ups that filter
// evaluation makes, an uncached reader of the same record format, value
// formatting shared by report decoding and the station's tools, and the
// installation base directory.
//
// A filter file is a sequence of tokens (tokenizer.h) grouped into records of
// at most eight fields.  A record ends at the newline that ends its last
// token; a line whose last token is followed by blanks, by a comment, or is
// quoted goes on with the next line's tokens; a ninth token begins the next
// record; a last record that no newline ends is lost.
//
// The cache is built by the first successful open and rebuilt when the file's
// modification time advances; building it also reads every database template
// file (parse_dbtmpl.h) and trap template file (parse_trap.h) that the
// records name.  The file stays open between calls, so a file replaced under
// the same name is not noticed while the old stream is open.
#ifndef LIB_LIBOVIFILT_PARSE_FILTER_H_
#define LIB_LIBOVIFILT_PARSE_FILTER_H_

#include "message_info.h"

// One record of a filter file: eight NUL-terminated texts owned by the
// record.  In the cache `next` links the records in file order; a look-up
// result has no link.
struct FilterEntry {
  char* keyword = nullptr;           // "hostname", "component", "viewname", "viewtype", "default"
  char* target = nullptr;            // what the record is about; unused for "default"
  char* filterPriority = nullptr;    // lowest priority passed: "-", "low", "med", "high"
  char* newPriority = nullptr;       // priority given to a passed report, "-" keeps it
  char* action = nullptr;            // "pass" (any case) passes, any other word drops
  char* dbTemplateFile = nullptr;    // database template file name
  char* reportClasses = nullptr;     // class selector; "all" when the record is short
  char* trapTemplateFile = nullptr;  // trap template file, "-" for none (the default)
  FilterEntry* next = nullptr;

  FilterEntry() = default;
  ~FilterEntry();  // frees the eight texts, not the next record
  FilterEntry(const FilterEntry&) = delete;
  FilterEntry& operator=(const FilterEntry&) = delete;
};

// Number of fields of a record and the size of a caller's field buffer
// (256 characters and the NUL).
enum { OVI_FILTER_FIELDS = 8, OVI_FILTER_FIELD_SIZE = 257 };

// Reads the next record of the open filter file into eight caller buffers of
// at least OVI_FILTER_FIELD_SIZE bytes, each token cut to 256 characters;
// fields after a record's last are set empty.  Returns 1 for a record ended
// by a newline, 0 for a record of eight fields (what follows is not looked
// at), -1 at the end of the file (no record: nothing but blank lines and
// comments was left).
int getFilterLine(char* const fields[OVI_FILTER_FIELDS]);
// The same, under the name other modules use.
int ovi_getLine(char* const fields[OVI_FILTER_FIELDS]);

// Makes the named filter file open and its cache current.  A name that
// differs from the one this function last received first closes the filter
// (ovi_closefilter) and forgets the recorded modification time.  The cache is
// rebuilt when the file's modification time (whole seconds) is later than
// the recorded one.  Returns 0, or the errno value when the file cannot be
// opened or its status read (the cache is left as it was).  A name beginning
// with "/" is used unchanged, any other is relative to the data directory.
int ovi_openfilter(const char* name);

// Starts a new round of look-ups (in a forwarding subprocess, one report).
// Within a round ovi_openfilter reads the open file's status once, so that
// a round costs one status call however many look-ups it makes; an edit of
// the file applies from the next round.  Until a process starts its first
// round, every open reads the status.
void ovi_filter_new_round();

// As ovi_openfilter, remembering its own name apart from it, and reporting
// what failed into the caller's 256-byte buffer: returns the errno value
// with "filter file" when the filter file itself fails; 1 with "trap template
// file" or "db template file" when this call rebuilt the cache and a file
// that a record names could not be read (the first such failure); else 0.
// A later call with the same unchanged file returns 0.
int ovi_openfilter_with_msg(const char* name, char* message);

// Closes the filter file and, when it holds records, discards the cache with
// the template caches and forgets the recorded modification time.  The
// remembered names stay.
void ovi_closefilter();

// First cached record whose keyword and target equal these (without regard
// to case) and that applies to the report (pass_event_or_trap, trap_limits.h).
// Null when none does, an argument is null or empty, the filter file is not
// open or the cache is empty.  The result is a copy held by the module until
// the next ovi_gethost.
const FilterEntry* ovi_gethost(const char* target, const char* keyword, const OVI_MessageInfo* info);

// As ovi_gethost without a target; the copy lasts until the next
// ovi_getdefault.
const FilterEntry* ovi_getdefault(const char* keyword, const OVI_MessageInfo* info);

// Opens a file of the filter record format for reading with ovi_getLine,
// without caching it.  Closes the filter file first (the cache stays; the
// next ovi_openfilter reopens it).  Returns 0 or the errno value.
int ovi_open_uncached_filter(const char* name);
void ovi_close_uncached_filter();

// Frees the cached records, then the trap and database template caches.
void free_filter_file_cache();

// Parses the open filter file from its start into the cache (which must be
// empty), reading the template files its records name.
void build_filter_file_cache();

// First record of the cache, in file order, or null when it is empty.  Valid
// until the cache is next rebuilt or discarded.
const FilterEntry* ovi_filter_cache();

// Name of a relational operator code 0..14 (some with a trailing blank), or
// "unknown operator".  Static text.
const char* relop2str(unsigned int op);

// Priority word: 0 and 1 "low", 2 "med", 3 and above "high".  Static text.
const char* prio2str(unsigned int priority);

// Text of a value of the given type code and length, in a module buffer of
// 256 bytes that the next call overwrites (texts are cut to 255
// characters); null for a type outside 1 to 22.  Types of a fixed size read
// that size whatever the length; text (9) stops at the length or a NUL;
// octets (10, 16) show `length` bytes in hexadecimal; an object identifier
// (17) is `length` bytes of sub-identifiers.
char* value2str(unsigned int type, const void* value, unsigned int length);

// Whether value2str gives a text for the type code (1 to 22), without
// writing one.
inline bool value2str_has_text(unsigned int type) { return type >= 1 && type <= 22; }

// The installation base directory: the directory of the "ovi_sender" server
// path ".../orx/agents/ovi_sender" in /etc/inetd.conf, up to and including
// its "/orx", else "/opt/ZEPHline/orx".  A found directory is kept for later
// calls.  Module-owned text; the path is not mapped (open files below it
// through tessel_path()).
const char* ovi_get_ovi_installation_base_dir();

#endif  // LIB_LIBOVIFILT_PARSE_FILTER_H_
