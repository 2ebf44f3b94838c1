// Where the readers of this library find their files.
//
// A file name that begins with "/" is used as it stands; any other name is
// taken relative to the data directory, which is itself a fixed path and so
// follows OVI_ROOT through tessel_path().  Every file is opened as
// tessel_file.h says: a regular file, without blocking, read up to a bound.
#ifndef LIB_LIBOVIFILT_DATA_FILE_H_
#define LIB_LIBOVIFILT_DATA_FILE_H_

#include <stdio.h>

#include <string>

#include "tessel/tessel_file.h"

// The directory of filter, template, access and language files.
extern const char OVI_DATA_DIR[];  // "/var/opt/ZEPHline/orx/ovi_files"

// Path a name stands for: the name itself when it begins with "/", else the
// mapped data directory, "/" and the name.
std::string ovi_data_file_path(const char* name);

// Opens the file that `name` stands for into *out (replacing and closing
// what *out held), as tessel_open_text_file does: 0, or the errno value of
// the failure, a file that is not a regular one or is too large included; a
// null or empty name fails with ENOENT rather than opening the directory
// itself.  With `fd`, *fd is the stream's descriptor for fstat.
int ovi_open_data_file(const char* name, FilePtr* out, int* fd = nullptr);

// Copies at most `max` bytes of `src` (stopping at its NUL) into `dst`,
// which must hold max + 1 bytes, and terminates it.  A null src copies "".
void ovi_copy_cut(char* dst, const char* src, size_t max);

#endif  // LIB_LIBOVIFILT_DATA_FILE_H_
