// Where the readers of this library find their files, and the owning handle
// for an open stream.
//
// A file name that begins with "/" is used as it stands; any other name is
// taken relative to the data directory, which is itself a fixed path and so
// follows OVI_ROOT through tessel_path().
#ifndef LIB_LIBOVIFILT_DATA_FILE_H_
#define LIB_LIBOVIFILT_DATA_FILE_H_

#include <stdio.h>

#include <memory>
#include <string>

// The directory of filter, template, access and language files.
extern const char OVI_DATA_DIR[];  // "/var/opt/ZEPHline/orx/ovi_files"

struct FileCloser {
  void operator()(FILE* fp) const {
    if (fp != nullptr) fclose(fp);
  }
};
// Closes its stream when it goes; reset() closes at once.
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Path a name stands for: the name itself when it begins with "/", else the
// mapped data directory, "/" and the name.
std::string ovi_data_file_path(const char* name);

// Opens the file that `name` stands for with mode "r" into *out (replacing
// and closing what *out held).  Returns 0, or the errno value of the failed
// open; a null or empty name fails with ENOENT rather than opening the
// directory itself.
int ovi_open_data_file(const char* name, FilePtr* out);

// Copies at most `max` bytes of `src` (stopping at its NUL) into `dst`,
// which must hold max + 1 bytes, and terminates it.  A null src copies "".
void ovi_copy_cut(char* dst, const char* src, size_t max);

#endif  // LIB_LIBOVIFILT_DATA_FILE_H_
