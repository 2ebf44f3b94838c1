// The one way the station opens a text file that it reads by name: its
// configuration, the daemon's data files, schema files, and every file whose
// name arrives in a request or in a filter record.
//
// Such a name may be anything, a device, a FIFO or a directory among them,
// and the process that opens it is often the daemon's service loop, which
// must never wait.  So the file is opened without blocking, must be a
// regular file of at most TESSEL_TEXT_FILE_MAX bytes, and is read through a
// stream that ends after that many bytes whatever the file does meanwhile.
// Anything else counts as a file that cannot be opened.
#ifndef PLATFORM_TESSEL_TESSEL_FILE_H_
#define PLATFORM_TESSEL_TESSEL_FILE_H_

#include <stdio.h>
#include <sys/stat.h>

#include <memory>
#include <string>

// Largest text file read: far beyond any real configuration, template or
// filter file, small enough that reading it never holds a process up.
enum { TESSEL_TEXT_FILE_MAX = 1 << 20 };

struct FileCloser {
  void operator()(FILE* fp) const {
    if (fp != nullptr) fclose(fp);
  }
};
// Closes its stream when it goes; reset() closes at once.
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Opens `path` for reading into *out (closing what *out held first).
// Returns 0, or an errno value: the open's own, EISDIR for a directory,
// EINVAL for anything else that is not a regular file (device, FIFO,
// socket), EFBIG for a file larger than TESSEL_TEXT_FILE_MAX; a null or empty
// path gives ENOENT.  The stream reads at most TESSEL_TEXT_FILE_MAX bytes
// from its start (rewind starts the count again): a file of exactly that
// many ends cleanly, one with more gives an error there, as a read failure
// would.  With `fd` given, *fd is the stream's descriptor for fstat: valid
// while the stream is open, closed with it.
int tessel_open_text_file(const char* path, FilePtr* out, int* fd = nullptr);

// Checks the status of an open descriptor by the same rules: 0 when it is a
// regular file of at most TESSEL_TEXT_FILE_MAX bytes (and *st is filled),
// else the errno value tessel_open_text_file would give.
int tessel_check_text_file(int fd, struct stat* st);

// Opens `path` for writing (O_APPEND when `append`, else truncating; created
// 0666 less the umask) without blocking and without making it a controlling
// terminal, so that a FIFO without a reader or a device that would block
// fails at once instead.  Null when it cannot be opened.
FILE* tessel_open_for_writing(const char* path, bool append);

// The directory that holds `path`: "." for a bare name, "/" for a name
// right below the root.
std::string tessel_directory_of(const std::string& path);

// Makes the directory `dir` and each missing parent (mode 0755 less the
// umask).  Returns 1 when every one of them is a directory afterwards;
// otherwise 0 with errno set (ENOTDIR for one that is something else) and,
// with `failed` given, *failed the directory that could not be made.
int tessel_make_directories(const std::string& dir, std::string* failed = nullptr);

// Replaces the file at `path` by one holding `text`, so that a reader finds
// the old file or the new one, each whole: the text goes to a fresh PATH.tmp
// (mode 0644 less the umask; one left by a writer that died goes first),
// which is then renamed over `path`.  With `durable` the new file is synced
// before the rename and its directory after, so that it outlives a crash of
// the system too.  Missing directories are not made: a caller that wants
// them makes them when this fails with ENOENT, and tries again.
// Returns 1; or 0 with errno set, PATH.tmp removed and, with `error` given,
// *error one line: "cannot create|write|sync|close PATH.tmp: why" or
// "cannot rename PATH.tmp to PATH: why".
int tessel_replace_file(const std::string& path, const std::string& text, bool durable,
                        std::string* error = nullptr);

#endif  // PLATFORM_TESSEL_TESSEL_FILE_H_
