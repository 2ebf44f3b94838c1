#include "tessel/tessel_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <new>

namespace {

// The state of one bounded stream: its descriptor and what may still be
// read before the bound.
struct Bounded {
  int fd;
  size_t left;
};

ssize_t boundedRead(void* cookie, char* buf, size_t size) {
  Bounded* b = static_cast<Bounded*>(cookie);
  if (b->left == 0) {
    // A file of exactly the bound ends here; one with more gives the reader
    // an error, not a quiet end.
    char more;
    if (read(b->fd, &more, 1) == 0) return 0;
    errno = EFBIG;
    return -1;
  }
  ssize_t n = read(b->fd, buf, size < b->left ? size : b->left);
  if (n > 0) b->left -= static_cast<size_t>(n);
  return n;
}

int boundedSeek(void* cookie, off64_t* offset, int whence) {
  // The readers only rewind; a stream that starts again may read the bound again.
  Bounded* b = static_cast<Bounded*>(cookie);
  if (whence != SEEK_SET || *offset != 0 || lseek(b->fd, 0, SEEK_SET) != 0) {
    errno = EINVAL;
    return -1;
  }
  b->left = TESSEL_TEXT_FILE_MAX;
  return 0;
}

int boundedClose(void* cookie) {
  Bounded* b = static_cast<Bounded*>(cookie);
  int rc = close(b->fd);
  delete b;
  return rc;
}

}  // namespace

int tessel_check_text_file(int fd, struct stat* st) {
  if (fstat(fd, st) != 0) return errno;
  if (S_ISDIR(st->st_mode)) return EISDIR;
  if (!S_ISREG(st->st_mode)) return EINVAL;
  if (st->st_size > TESSEL_TEXT_FILE_MAX) return EFBIG;
  return 0;
}

int tessel_open_text_file(const char* path, FilePtr* out, int* fd) {
  out->reset();
  if (path == nullptr || path[0] == '\0') return ENOENT;
  // O_NONBLOCK: opening a FIFO or a device must not wait for a peer.  It
  // stays set, so that an odd regular file (a kernel message queue) answers
  // "try again" instead of holding the reader.
  int d = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (d < 0) return errno != 0 ? errno : ENOENT;
  struct stat st;
  int err = tessel_check_text_file(d, &st);
  Bounded* b = err == 0 ? new (std::nothrow) Bounded{d, TESSEL_TEXT_FILE_MAX} : nullptr;
  if (err == 0 && b == nullptr) err = ENOMEM;
  FILE* fp = nullptr;
  if (err == 0) {
    cookie_io_functions_t io = {boundedRead, nullptr, boundedSeek, boundedClose};
    fp = fopencookie(b, "r", io);
    if (fp == nullptr) err = errno != 0 ? errno : ENOMEM;
  }
  if (fp == nullptr) {
    delete b;
    close(d);
    return err;
  }
  out->reset(fp);
  if (fd != nullptr) *fd = d;
  return 0;
}

FILE* tessel_open_for_writing(const char* path, bool append) {
  int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
  int d = open(path, flags, 0666);
  if (d < 0) return nullptr;
  FILE* fp = fdopen(d, append ? "a" : "w");
  if (fp == nullptr) close(d);
  return fp;
}
