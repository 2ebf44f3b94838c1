#include "tessel/tessel_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
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

// What failed, on which path, and why, as one line.
std::string failure(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + strerror(errno);
}

// A fresh temporary file: one left by a writer killed while writing goes
// first, and O_EXCL never opens or follows what is in its place.
int openTemporary(const std::string& tmp) {
  if (unlink(tmp.c_str()) != 0 && errno != ENOENT) return -1;
  return open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0644);
}

int writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;  // a signal caught without SA_RESTART
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return 0;
    }
    done += static_cast<size_t>(n);
  }
  return 1;
}

// The rename is durable once the directory is synced too.  Not reported
// when it fails: the file then holds the old text or the new one, both whole.
void syncDirectory(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
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

std::string tessel_directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

int tessel_make_directories(const std::string& dir, std::string* failed) {
  // From the top down, so that the one that cannot be made is named.
  for (size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
    std::string prefix = dir.substr(0, at);
    if (mkdir(prefix.c_str(), 0755) != 0) {
      // Something already there will do when it is a directory.  A dangling
      // link passes too: the next mkdir, or the caller's use, fails below it.
      bool there = errno == EEXIST;
      struct stat st;
      if (!there || (stat(prefix.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))) {
        if (there) errno = ENOTDIR;
        if (failed != nullptr) *failed = prefix;
        return 0;
      }
    }
    if (at == std::string::npos) return 1;
  }
}

int tessel_replace_file(const std::string& path, const std::string& text, bool durable,
                        std::string* error) {
  std::string tmp = path + ".tmp";
  int fd = openTemporary(tmp);
  if (fd < 0) {
    if (error != nullptr) *error = failure("cannot create", tmp);
    return 0;
  }
  std::string failed;  // the first step that failed; empty while all succeed
  int err = 0;         // and its errno
  auto fail = [&](const std::string& what, const std::string& on) {
    if (!failed.empty()) return;
    err = errno;
    failed = failure(what, on);
  };
  if (!writeAll(fd, text)) fail("cannot write", tmp);
  else if (durable && fsync(fd) != 0) fail("cannot sync", tmp);
  if (close(fd) != 0) fail("cannot close", tmp);
  if (failed.empty() && rename(tmp.c_str(), path.c_str()) != 0)
    fail("cannot rename " + tmp + " to", path);
  if (!failed.empty()) {
    unlink(tmp.c_str());
    if (error != nullptr) *error = failed;
    errno = err;
    return 0;
  }
  if (durable) syncDirectory(tessel_directory_of(path));
  return 1;
}
