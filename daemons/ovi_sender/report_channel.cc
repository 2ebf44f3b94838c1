#include "report_channel.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "daemon.h"
#include "log.h"
#include "transfer.h"

namespace {

// What one side does with a piece of a report, and the trace lines it
// writes about it.  The two sides move the same pieces the same way; only
// the call and the words differ.
struct Side {
  ssize_t (*move)(int fd, char* bytes, size_t n);
  const char* tryImage;     // remaining, header size, offset
  const char* imageFailed;  // error text
  const char* shortImage;   // moved, header size
  const char* noImage;      // header size
  const char* image;        // header size
  const char* tryChunk;     // chunk remaining, body left, offset
  const char* chunkFailed;  // error text
  const char* moved;        // moved, body length
  const char* noBody;       // body length
  const char* body;         // body length
  bool waitAfterShortImage;
};

ssize_t writeSome(int fd, char* bytes, size_t n) { return write(fd, bytes, n); }
ssize_t readSome(int fd, char* bytes, size_t n) { return read(fd, bytes, n); }

const Side kWriter = {
    writeSome,
    "trying to write %d bytes of %d bytes header from offset %d\n",
    "message header write failed: %s\n",
    "could only write %d bytes of %d byte message header\n",
    "Could not write %d byte message header\n",
    "wrote %d byte message header\n",
    "trying to write %d bytes of %d bytes arglist from offset %d\n",
    "message arglist write failed: %s\n",
    "write %d bytes of %d byte message arglist\n",
    "could not write %d byte message arglist\n",
    "wrote %d byte message arglist\n",
    false,
};

const Side kReader = {
    readSome,
    "trying to read %d bytes of %d bytes header to offset %d\n",
    "message header read failed: %s\n",
    "could only read %d bytes of %d byte message header\n",
    "could not read %d byte message header\n",
    "read %d byte message header\n",
    "trying to read %d bytes of %d bytes arglist to offset %d\n",
    "message arglist read failed: %s\n",
    "read %d bytes of %d byte message arglist\n",
    "could not read %d byte message arglist\n",
    "read %d byte message arglist\n",
    true,
};

// Waits up to `seconds` (for ever when negative) for fd to be readable; the
// read that follows decides, so the result is not needed.
void waitReadable(int fd, int seconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  struct timeval tv = {seconds, 0};
  select(fd + 1, &set, nullptr, nullptr, seconds < 0 ? nullptr : &tv);
}

// Waits for fd until it is readable, repeating after signals (calling
// interrupted() first, when given).  0 when the descriptor is bad.
int waitUntilReadable(int fd, void (*interrupted)()) {
  for (;;) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    int n = select(fd + 1, &set, nullptr, nullptr, nullptr);
    if (n == -1 && errno == EBADF) {
      ovi_trace(1, "select(2) failed: %s\n", strerror(errno));
      return 0;
    }
    if (n == -1 && interrupted != nullptr) interrupted();
    if (n > 0 && FD_ISSET(fd, &set)) return 1;
  }
}

// Moves the 600-byte image in at most TRANSFER_ATTEMPTS calls.
int moveImage(const Side& side, int fd, unsigned char* image) {
  int remaining = TRANSFER_HEADER, offset = 0;
  for (int attempt = 0;; attempt++) {
    if (attempt == TRANSFER_ATTEMPTS) {
      ovi_trace(2, side.noImage, TRANSFER_HEADER);
      return 0;
    }
    ovi_trace(2, side.tryImage, remaining, TRANSFER_HEADER, offset);
    ssize_t n = side.move(fd, reinterpret_cast<char*>(image) + offset, remaining);
    if (n == -1) {
      ovi_trace(2, side.imageFailed, strerror(errno));
      return 0;
    }
    if (n == remaining) break;
    ovi_trace(2, side.shortImage, static_cast<int>(n), TRANSFER_HEADER);
    remaining -= n;
    offset += n;
    if (side.waitAfterShortImage) waitReadable(fd, 1);
  }
  ovi_trace(2, side.image, TRANSFER_HEADER);
  return 1;
}

// Moves the next chunk of a body of `total` bytes, at most TRANSFER_CHUNK
// bytes in at most TRANSFER_ATTEMPTS calls; *left and *offset follow it.  An
// empty body still takes one call, as the other side expects.
int moveChunk(const Side& side, int fd, char* body, int total, int* left, int* offset) {
  int chunk = *left < TRANSFER_CHUNK ? *left : TRANSFER_CHUNK;
  int attempt = 0;
  do {
    if (attempt++ == TRANSFER_ATTEMPTS) {
      ovi_trace(2, side.noBody, total);
      return 0;
    }
    ovi_trace(2, side.tryChunk, chunk, *left, *offset);
    ssize_t n = side.move(fd, body + *offset, chunk);
    if (n == -1) {
      ovi_trace(2, side.chunkFailed, strerror(errno));
      return 0;
    }
    ovi_trace(2, side.moved, static_cast<int>(n), total);
    chunk -= n;
    *left -= n;
    *offset += n;
  } while (chunk > 0);
  if (*left == 0) ovi_trace(2, side.body, total);
  return 1;
}

// One handshake byte each way: 1 when it moved, else the failure traced.
int putByte(int fd, char byte, const char* failed) {
  if (write(fd, &byte, 1) != -1) return 1;
  ovi_trace(2, failed, strerror(errno));
  return 0;
}
int takeByte(int fd, char* byte, const char* failed) {
  if (read(fd, byte, 1) != -1) return 1;
  ovi_trace(2, failed, strerror(errno));
  return 0;
}

bool setNonBlocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace

int ReportChannel::open() {
  close();
  for (int i = 0; i < 6; i += 2) {
    if (pipe(ends_ + i) != 0) {
      int err = errno;
      close();
      errno = err;
      return 0;
    }
  }
  // The daemon selects on its ends: a descriptor past the set is no use.
  const int count = transfer_descriptorCount();
  for (int fd : ends_) {
    if (fd >= count) {
      close();
      errno = EMFILE;
      return 0;
    }
  }
  return 1;
}

// The pipes before the fork: A is ends_[0] (read) and [1] (write), B [2]
// and [3], the data pipe [4] and [5].
int ReportChannel::keepDaemonEnds() {
  keep(1, 2, 5);
  return setNonBlocking(controlIn_);
}

int ReportChannel::keepSubprocessEnds() {
  keep(3, 0, 4);
  return setNonBlocking(controlIn_) && setNonBlocking(data_);
}

void ReportChannel::keep(int out, int in, int data) {
  controlOut_ = ends_[out];
  controlIn_ = ends_[in];
  data_ = ends_[data];
  for (int i = 0; i < 6; i++)
    if (i != out && i != in && i != data) ::close(ends_[i]);
  for (int& fd : ends_) fd = -1;
}

void ReportChannel::adopt(int controlOut, int controlIn, int data) {
  close();
  controlOut_ = controlOut;
  controlIn_ = controlIn;
  data_ = data;
}

void ReportChannel::close() {
  for (int* fd : {&ends_[0], &ends_[1], &ends_[2], &ends_[3], &ends_[4], &ends_[5], &controlOut_,
                  &controlIn_, &data_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

int ReportChannel::sendReport(const unsigned char* image, const char* body, uint32_t length,
                              const fd_set& rpc) const {
  // The byte read last is the byte written back.
  char byte = 1;
  ovi_trace(2, "trying to read one byte ok_to_write message from subprocess ...\n");
  if (!takeByte(controlIn_, &byte, "one-byte read failed: %s\n")) return 0;
  ovi_trace(2, "read one byte ok_to_write message from subprocess\n");
  if (!moveImage(kWriter, data_, const_cast<unsigned char*>(image))) return 0;

  const int total = static_cast<int>(length);
  int left = total, offset = 0;
  for (;;) {
    if (!moveChunk(kWriter, data_, const_cast<char*>(body), total, &left, &offset)) return 0;
    ovi_trace(2, "trying to write one byte ok_to_read message to subprocess ...\n");
    if (!putByte(controlOut_, byte, "one-byte write failed: %s\n")) return 0;
    ovi_trace(2, "wrote one byte ok_to_read message to subprocess\n");
    if (left == 0) return 1;

    ovi_trace(2, "trying to read one byte ok_to_read message from subprocess\n");
    // A request that comes first wakes the wait, and the read then fails.
    fd_set wait = rpc;
    FD_SET(controlIn_, &wait);
    select(transfer_descriptorCount(), &wait, nullptr, nullptr, nullptr);
    if (!takeByte(controlIn_, &byte, "one-byte read failed: %s\n")) return 0;
    ovi_trace(2, "read one byte ok_to_write message from subprocess\n");
    ovi_trace(2, "trying to write %d remaining bytes to child\n", left);
  }
}

void ReportChannel::requestReport(void (*interrupted)()) const {
  ovi_trace(2, "trying to write one byte ok_to_write message to parent ...\n");
  if (!putByte(controlOut_, 1, "one-byte write failed: %s, exiting (with restart)\n"))
    Daemon::endSubprocess(SUBPROCESS_RESTART);
  ovi_trace(2, "wrote one byte ok_to_write message to parent\n");
  ovi_trace(2, "calling select(2) for ready_to_read message from parent ...\n");
  if (!waitUntilReadable(controlIn_, interrupted)) Daemon::endSubprocess(SUBPROCESS_DONE);
  ovi_trace(2, "select(2) returned with something to read\n");
  ovi_trace(2, "trying to read one byte ok_to_read message from subprocess ...\n");
  char byte;
  if (!takeByte(controlIn_, &byte, "one-byte read failed: %s\n"))
    Daemon::endSubprocess(SUBPROCESS_DONE);
  ovi_trace(2, "read one byte ok_to_read message from subprocess\n");
}

int ReportChannel::readImage(unsigned char* image) const {
  ovi_trace(2, "calling select(2) to make sure we have something to read ...\n");
  if (!waitUntilReadable(data_, nullptr)) return 0;
  ovi_trace(2, "select(2) returned with something to read\n");
  return moveImage(kReader, data_, image);
}

int ReportChannel::readBody(char* body, uint32_t length) const {
  const int total = static_cast<int>(length);
  int left = total, offset = 0;
  for (;;) {
    if (!moveChunk(kReader, data_, body, total, &left, &offset)) return 0;
    if (left == 0) return 1;
    ovi_trace(2, "trying to write one byte ok_to_write message to parent ...\n");
    if (!putByte(controlOut_, 1, "one-byte write failed: %s, exiting\n"))
      Daemon::endSubprocess(SUBPROCESS_RESTART);
    ovi_trace(2, "wrote one byte ok_to_write message to parent\n");
    ovi_trace(2, "trying to read one byte ok_to_read message from parent ...\n");
    waitReadable(controlIn_, -1);
    char byte;
    if (!takeByte(controlIn_, &byte, "one-byte read failed: %s\n"))
      Daemon::endSubprocess(SUBPROCESS_DONE);
    ovi_trace(2, "read one byte ok_to_read message from parent\n");
    waitReadable(data_, 1);
    ovi_trace(2, "trying to read remaining %d bytes from child\n", left);
  }
}
