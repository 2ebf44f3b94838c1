// Database template files: for each operation on an element that a
// database-manager trap reports, which element information is added when the
// trap is forwarded.
//
// Each record is two tokens (tokenizer.h): the entry name, then a
// comma-separated list of flag keywords.  Every file that a filter record
// names is read once into a process-wide cache (file_cache.h), freed with the
// filter file cache; one cached file at a time is selected for look-ups.
#ifndef LIB_LIBOVIFILT_PARSE_DBTMPL_H_
#define LIB_LIBOVIFILT_PARSE_DBTMPL_H_

// Flag bits of a template entry.
enum {
  OVI_DB_MEMBERSHIP = 1,   // "membership": the containing views and positions
  OVI_DB_COLOR = 2,        // "color": red, green, blue
  OVI_DB_AGENTS = 4,       // "agents"
  OVI_DB_ATTRIBUTES = 8,   // "attributes": the element's schema attributes
  OVI_DB_CONNECTIONS = 16, // "connections"
};

// Size of a record field buffer: 256 characters and the NUL.
enum { OVI_DB_FIELD_SIZE = 257 };

// Caches the named file (exactly as the filter record gives it) unless a
// file of that name is cached.  Returns 1 when it is cached and was read to
// its end (or was cached before); 0 for a null or empty name, a file that
// cannot be opened (it stays cached, without entries) or short memory.
int ovi_add_db_file_to_cache(const char* name);

// Opens the named file for reading (closing the one open before) and clears
// the end-of-file flag.  Returns 0, or the errno value of the failed open
// (ENOENT for a null or empty name).
int ovi_open_db_template_file(const char* name);

// Closes the open template file, if any.
void ovi_close_db_template_file();

// Reads one record of the open file into two caller buffers of at least
// OVI_DB_FIELD_SIZE bytes, each token cut to 256 characters.  Returns 1 when
// the name ended its line (the flags are empty), 0 when a flags token was
// read (a third token on the line begins the next record), -1 at the end of
// the file (no record).
int ovi_get_db_entry_from_file(char* name, char* flags);

// Selects the cached file of exactly this name for ovi_getTemplateEntry; the
// file is added first when the cache is empty.  Returns 0 when selected, 1
// when not cached, -1 when the cache was empty and adding failed.
int ovi_opentemplate(const char* name);

// Flag bits of the first entry of the selected file whose name begins with
// `name` (without regard to case).  0 when nothing is selected, the selected
// file has no entries, or the name is null or empty; -1 when no entry
// matches.
int ovi_getTemplateEntry(const char* name);

// Flag bits of a flags list.  Each item is compared without regard to case
// as an abbreviation of, in this order, membership, color, agents,
// connections, attributes, drop: the first keyword the item begins wins.
// "drop" makes the result 0 at once; an empty or unknown item ends the list.
int getFlags(const char* flags);

// Clears the selection.
void ovi_closetemplate();

// Frees every cached file and its entries; clears the selection.
void ovi_free_db_file_cache();

// Number of entries of the cached file of exactly this name, or -1 when no
// such file is cached.  For tools that show what a filter file reads.
int ovi_db_file_entry_count(const char* name);

#endif  // LIB_LIBOVIFILT_PARSE_DBTMPL_H_
