// The access list: which receiver hosts may use which management database.
//
// The file "ovi_sender.conf" in the data directory holds one entry a line,
// the host name and then the database name, read with the shared tokenizer
// (tokenizer.h): blanks separate, '#' comments, double quotes.  A line of one
// token has an empty database name and never matches; tokens after the second
// begin a new entry; an entry that no newline ends is lost.  Each field keeps
// its first 255 characters.
//
// Registration validation opens the list, checks one pair and closes it.
// The reader's stream is process-wide.
#ifndef LIB_LIBOVIFILT_PARSE_ACCESSLIST_H_
#define LIB_LIBOVIFILT_PARSE_ACCESSLIST_H_

// Size of an entry field buffer: 255 characters and the NUL.
enum { OVI_ACCESS_FIELD_SIZE = 256 };

// Closes the filter file and discards its cache (the tokenizer state is
// shared), then opens the access list.  Returns 0, or the errno value of the
// failed open (every check then fails).
int ovi_openaccess();

// 1 when an entry lists both names (each compared without regard to case);
// 0 when none does, the list is not open, or a name is null or empty.
// Reads on from where the stream stands; the list is not rewound.
int ovi_checkaccess(const char* host, const char* database);

// Closes the list, if open.
void ovi_closeaccess();

// Reads one entry into two caller buffers of OVI_ACCESS_FIELD_SIZE bytes.
// Returns 1 for an entry that ends its line (a one-token line gives an empty
// database), 0 for two tokens with more on the line, -1 at the end of the
// file (what was read is not an entry).
int ovi_getAccessLine(char* host, char* database);

#endif  // LIB_LIBOVIFILT_PARSE_ACCESSLIST_H_
