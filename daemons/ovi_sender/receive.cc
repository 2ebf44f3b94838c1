// The subprocess's side of the report transfer: asking for a report and
// reading its header and argument list.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

#include "daemon.h"
#include "log.h"
#include "tessel/tessel_codec.h"
#include "transfer.h"

namespace {

// Waits up to `seconds` (forever when negative) for fd to be readable; the
// result is not needed: the read that follows decides.
int waitReadable(int fd, int seconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  struct timeval tv = {seconds, 0};
  return select(fd + 1, &set, nullptr, nullptr, seconds < 0 ? nullptr : &tv);
}

// Waits for fd, repeating after signals; exits with status 0 when the
// descriptor is bad (the daemon is gone).  A SIGUSR1 that interrupts the
// wait has its clients made at once, as a handler could not safely do.
void waitOrExit(int fd) {
  for (;;) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    int n = select(fd + 1, &set, nullptr, nullptr, nullptr);
    if (n == -1 && errno == EBADF) {
      ovi_trace(1, "select(2) failed: %s\n", strerror(errno));
      exit(0);
    }
    if (n == -1 && ovi::daemon != nullptr) ovi::daemon->rebuildClientsIfAsked();
    if (n > 0 && FD_ISSET(fd, &set)) return;
  }
}

}  // namespace

void Daemon::receiveReport(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                           TesselArglist* work2, Rendez* r) {
  char byte = 1;
  ovi_trace(2, "trying to write one byte ok_to_write message to parent ...\n");
  if (write(r->control_out_fd, &byte, 1) == -1) {
    ovi_trace(2, "one-byte write failed: %s, exiting (with restart)\n", strerror(errno));
    exit(1);
  }
  ovi_trace(2, "wrote one byte ok_to_write message to parent\n");
  ovi_trace(2, "calling select(2) for ready_to_read message from parent ...\n");
  waitOrExit(r->control_in_fd);
  ovi_trace(2, "select(2) returned with something to read\n");
  ovi_trace(2, "trying to read one byte ok_to_read message from subprocess ...\n");
  if (read(r->control_in_fd, &byte, 1) == -1) {
    ovi_trace(2, "one-byte read failed: %s\n", strerror(errno));
    exit(0);
  }
  ovi_trace(2, "read one byte ok_to_read message from subprocess\n");
  ovi_trace(2, "getting report from parent ...\n");
  if (!recvFromParent(msg, arglist, work1, work2, r)) {
    ovi_trace(2, "recv from failed exiting.\n");
    exit(1);
  }
  ovi_trace(2, "got report from parent\n");
}

int Daemon::recvFromParent(TesselServiceMsg* msg, TesselArglist* arglist, TesselArglist* work1,
                           TesselArglist* work2, Rendez* r) {
  ovi_trace(2, "Daemon::recvFromParent\n");
  ovi_trace(2, "calling select(2) to make sure we have something to read ...\n");
  for (;;) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(r->data_fd, &set);
    int n = select(r->data_fd + 1, &set, nullptr, nullptr, nullptr);
    if (n == -1 && errno == EBADF) {
      ovi_trace(1, "select(2) failed: %s\n", strerror(errno));
      return 0;
    }
    if (n > 0 && FD_ISSET(r->data_fd, &set)) break;
  }
  ovi_trace(2, "select(2) returned with something to read\n");

  unsigned char* header = msg->image();
  int remaining = TRANSFER_HEADER, offset = 0;
  for (int attempt = 0;; attempt++) {
    if (attempt == TRANSFER_ATTEMPTS) {
      ovi_trace(2, "could not read %d byte message header\n", TRANSFER_HEADER);
      return 0;
    }
    ovi_trace(2, "trying to read %d bytes of %d bytes header to offset %d\n", remaining,
              TRANSFER_HEADER, offset);
    ssize_t n = read(r->data_fd, header + offset, remaining);
    if (n == -1) {
      ovi_trace(2, "message header read failed: %s\n", strerror(errno));
      return 0;
    }
    if (n == remaining) break;
    ovi_trace(2, "could only read %d bytes of %d byte message header\n", static_cast<int>(n),
              TRANSFER_HEADER);
    remaining -= n;
    offset += n;
    waitReadable(r->data_fd, 1);
  }
  ovi_trace(2, "read %d byte message header\n", TRANSFER_HEADER);

  const uint32_t total = msg->arglistLength;
  arglist->position = 0;
  if (total > TESSEL_MAX_ARGLIST || !arglist->alloc(2 * total, 256)) {
    ovi_trace(1, "No memory\n");
    return 0;
  }
  int left = static_cast<int>(total);
  offset = 0;
  for (;;) {
    int chunk = left < TRANSFER_CHUNK ? left : TRANSFER_CHUNK;
    int attempt = 0;
    do {
      if (attempt++ == TRANSFER_ATTEMPTS) {
        ovi_trace(2, "could not read %d byte message arglist\n", static_cast<int>(total));
        return 0;
      }
      ovi_trace(2, "trying to read %d bytes of %d bytes arglist to offset %d\n", chunk, left,
                offset);
      ssize_t n = read(r->data_fd, arglist->data + offset, chunk);
      if (n == -1) {
        ovi_trace(2, "message arglist read failed: %s\n", strerror(errno));
        return 0;
      }
      ovi_trace(2, "read %d bytes of %d byte message arglist\n", static_cast<int>(n),
                static_cast<int>(total));
      chunk -= n;
      left -= n;
      offset += n;
    } while (chunk > 0);
    if (left == 0) break;

    ovi_trace(2, "trying to write one byte ok_to_write message to parent ...\n");
    char byte = 1;
    if (write(r->control_out_fd, &byte, 1) == -1) {
      ovi_trace(2, "one-byte write failed: %s, exiting\n", strerror(errno));
      exit(1);
    }
    ovi_trace(2, "wrote one byte ok_to_write message to parent\n");
    ovi_trace(2, "trying to read one byte ok_to_read message from parent ...\n");
    waitReadable(r->control_in_fd, -1);
    if (read(r->control_in_fd, &byte, 1) == -1) {
      ovi_trace(2, "one-byte read failed: %s\n", strerror(errno));
      exit(0);
    }
    ovi_trace(2, "read one byte ok_to_read message from parent\n");
    waitReadable(r->data_fd, 1);
    ovi_trace(2, "trying to read remaining %d bytes from child\n", left);
  }
  ovi_trace(2, "read %d byte message arglist\n", static_cast<int>(total));
  msg->argData.setBuffer(arglist->data, arglist->size, arglist->position);
  TesselArglist* works[] = {work1, work2};
  TesselBuffer* targets[] = {&msg->work1, &msg->work2};
  for (int i = 0; i < 2; i++) {
    works[i]->position = 0;
    if (!works[i]->alloc(2 * total, 256)) {
      ovi_trace(1, "No memory\n");
      return 0;
    }
    targets[i]->setBuffer(works[i]->data, works[i]->size, works[i]->position);
  }
  return 1;
}
