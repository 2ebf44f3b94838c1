// The tokenizer shared by the readers of the daemon's text files: filter
// files, database template files, the access list and the receiver host file.
//
// Tokens are separated by blanks, tabs and newlines.  A double quote starts a
// quoted stretch (anywhere in a token) in which blanks, newlines and '#' are
// ordinary and two quotes in a row stand for one; a quote followed by any
// other character ends the token, and that character is read again by the
// next call.  '#' outside quotes skips to the end of its line; the newline
// that ends the comment does not end the token.  A token keeps its first 1023
// characters; the rest of it is read and dropped.
//
// State is one per process: the token buffer and the two flags below.  The
// readers take turns; one that reads a second file in the middle of its own
// saves and restores the end-of-file flag around that read.
#ifndef LIB_LIBOVIFILT_TOKENIZER_H_
#define LIB_LIBOVIFILT_TOKENIZER_H_

#include <stddef.h>
#include <stdio.h>

#include "data_file.h"

// Size of the token buffer: 1023 characters and the NUL.
enum { OVI_TOKEN_SIZE = 1024 };

// Reads the next token of fp.  Returns the token in a module buffer that the
// next call overwrites; it is empty at the end of the stream.  Sets the
// end-of-record flag when the last character read was a newline (a newline
// that ends a token, or one skipped before any token character); sets the
// end-of-file flag, and discards a partly read token, at the end of the
// stream.  A null stream reads as an empty one.
const char* getToken(FILE* fp);

// 1 when the character last consumed by getToken was a newline.
int getTokenEor();

// 1 once getToken reached the end of its stream; cleared by the readers'
// open operations through setTokenEof(0).
int getTokenEof();
void setTokenEof(int value);

// Reads the next token of fp into `field` (max + 1 bytes), cut to max
// characters.  Returns 1 when the end-of-record flag is set after it, else -1
// when the end-of-file flag is, else 0: what the record readers ask after
// each field.
int getTokenField(FILE* fp, char* field, size_t max);

// Opens a data file for reading with getToken, as ovi_open_data_file does
// (data_file.h), and when it opens clears the end-of-file flag that the
// stream read before may have left.  Returns 0 or the errno value.
int openTokenFile(const char* name, FilePtr* out, int* fd = nullptr);

#endif  // LIB_LIBOVIFILT_TOKENIZER_H_
