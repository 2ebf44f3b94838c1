// Trap template files and the enterprise list.
//
// A trap template file says which traps a filter record lets through: one
// entry a line, three fields separated by "%": the enterprise's display name
// (or a pseudo-enterprise label, trap_limits.h), its trap numbers and its
// dotted object identifier.  Every file a filter record names is read once
// into a process-wide cache (file_cache.h), in the order added; a read cursor
// walks the entries of one cached file.  A file that cannot be read is cached
// without entries, so that no trap passes through it.
//
// The enterprise list "/agents/enterprises.oid" below the installation base
// directory is a table of enterprise names and identifiers sorted by name,
// offered as a look-up table.
#ifndef LIB_LIBOVIFILT_PARSE_TRAP_H_
#define LIB_LIBOVIFILT_PARSE_TRAP_H_

// Size of each field buffer: 1023 characters and the NUL.
enum { OVI_TRAP_FIELD_SIZE = 1024 };

// Caches the named file unless a file of exactly that name is cached.
// Returns 1 when it is cached (now or before); 0 for "-" (no file), for a
// file that cannot be opened (it stays cached, empty) and when memory is
// short (the entries read so far stay).
int ovi_add_trap_file_to_cache(const char* name);

// Opens the named file for line-by-line reading, closing one still open.
// Returns 0, or the errno value of the failed open.  The file read last
// stays open until the next one is opened.
int ovi_open_trapfile_for_reading(const char* name);

// Reads one line of the open file into three caller buffers of at least
// OVI_TRAP_FIELD_SIZE bytes.  Lines are read 2056 characters at a time (the
// rest of a longer line reads as a line of its own) and each field is cut to
// 1023 characters.  A line without "%" gives three empty fields, one with a
// single "%" its first field; the line end is removed from the third.
// Returns 1, or 0 when no file is open or at its end.
int ovi_get_trap_entry_from_file(char* enterprise, char* traps, char* oid);

// Closes the open file, if any.  Returns 1.
int ovi_close_trapfile_after_reading();

// Selects the cached file of exactly this name and puts the cursor on its
// first entry.  When the cache is empty the file is added first.  Returns 0
// when selected; 1 when no cached file has the name (the cursor stays as it
// was); -1 when the cache was empty and the file could not be added.
int ovi_open_trap_file(const char* name);

// Copies the entry under the cursor into three caller buffers of at least
// OVI_TRAP_FIELD_SIZE bytes and advances.  Returns 1, or 0 at the end or
// when nothing is selected.
int ovi_get_trap_entry(char* enterprise, char* traps, char* oid);

// Drops the cursor; the cache stays.
void ovi_close_trap_file();

// Frees the cache and drops the cursor.  Returns 1 when the cache was
// already empty, else value.
int ovi_free_trap_file_cache(int value);

// Reads the enterprise list into a process-wide table sorted by name
// (strcasecmp, records of equal names in file order), followed in that order
// by the two pseudo-enterprises with empty identifiers.  Lines that do not
// begin with a double quote are skipped; a record line holds a quoted name
// (at most 80 characters kept) and a quoted identifier (at most 82), blanks
// after each opening quote skipped.  Returns 1; 0 with a message in the
// caller's buffer (256 bytes, may be null) when the file cannot be opened
// (the old table stays) or memory is short.
int build_enterprise_list_cache(char* message);

// Name of the record at a 0-based position, or null past the end.
const char* get_enp_name_from_index(unsigned int index);

// Position of the first record named exactly so, or -1.
int get_index_from_enp_name(const char* name);

// Identifier of the first record named exactly so, or "".
const char* get_oid_from_name(const char* name);

// Empties the table.
void free_enterprise_list_cache();

#endif  // LIB_LIBOVIFILT_PARSE_TRAP_H_
