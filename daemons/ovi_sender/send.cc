// The daemon's side of the report transfer: the cache drain and the framed
// write of one report to a subprocess.
#include <arpa/inet.h>
#include <errno.h>
#include <rpc/rpc.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include "daemon.h"
#include "log.h"
#include "transfer.h"

// A view onto the argument bytes of the cached report being sent; it owns
// nothing and is reset after every send.
static TesselArglist arglist1;

void Daemon::sendCachedReport(fd_set& ready) {
  ovi_trace(2, "Daemon::sendCachedReport\n");
  sigset_t mask = blockSignals();
  for (TesselListNode* n = rendezList->first(); n != nullptr; n = rendezList->next(n)) {
    Rendez* r = static_cast<Rendez*>(TesselList::data(n));
    TesselListNode* head = r->report_cache->first();
    if (head == nullptr || !FD_ISSET(r->control_in_fd, &ready)) continue;
    CachedReport* cached = static_cast<CachedReport*>(TesselList::data(head));
    uint32_t length = transfer_arglistLength(cached->header);
    if (length > TRANSFER_CHUNK)
      ovi_trace(1, "big packet, PIPE_BUF = %d, header = %d, length = %d\n", TRANSFER_PIPE_BUF,
                TRANSFER_HEADER, static_cast<int>(length));
    arglist1.setBuffer(cached->arglistData, length, 0);
    if (!sendToChild(cached->header, &arglist1, r) && r->subproc_pid > 0)
      kill(r->subproc_pid, SIGUSR2);
    r->report_cache->remove(head);
    free(cached->header);
    free(cached->arglistData);
    delete cached;
    arglist1.setBuffer(nullptr, 0, 0);
  }
  unblockSignals(mask);
}

int Daemon::sendToChild(const unsigned char* header, TesselArglist* arglist, Rendez* r) {
  ovi_trace(2, "Daemon::sendToChild\n");
  ovi_trace(2, "forwarding message to subprocess handling rendezvous\n");
  ovi_trace(2, "\tsubproc_pid: %d\n", static_cast<int>(r->subproc_pid));
  ovi_trace(2, "\trendez_addr: %s\n", inet_ntoa(r->rendez_addr));
  ovi_trace(2, "\trendez_prog: %d\n", static_cast<int>(r->rendez_prog));
  ovi_trace(2, "\trendez_vers: %d\n", static_cast<int>(r->rendez_vers));

  char byte = 1;
  ovi_trace(2, "trying to read one byte ok_to_write message from subprocess ...\n");
  if (read(r->control_in_fd, &byte, 1) == -1) {
    ovi_trace(2, "one-byte read failed: %s\n", strerror(errno));
    return 0;
  }
  ovi_trace(2, "read one byte ok_to_write message from subprocess\n");

  int remaining = TRANSFER_HEADER, offset = 0;
  for (int attempt = 0;; attempt++) {
    if (attempt == TRANSFER_ATTEMPTS) {
      ovi_trace(2, "Could not write %d byte message header\n", TRANSFER_HEADER);
      return 0;
    }
    ovi_trace(2, "trying to write %d bytes of %d bytes header from offset %d\n", remaining,
              TRANSFER_HEADER, offset);
    ssize_t n = write(r->data_fd, header + offset, remaining);
    if (n == -1) {
      ovi_trace(2, "message header write failed: %s\n", strerror(errno));
      return 0;
    }
    if (n == remaining) break;
    ovi_trace(2, "could only write %d bytes of %d byte message header\n", static_cast<int>(n),
              TRANSFER_HEADER);
    remaining -= n;
    offset += n;
  }
  ovi_trace(2, "wrote %d byte message header\n", TRANSFER_HEADER);

  const int total = static_cast<int>(transfer_arglistLength(header));
  int left = total;
  offset = 0;
  for (;;) {
    int chunk = left < TRANSFER_CHUNK ? left : TRANSFER_CHUNK;
    int attempt = 0;
    // One write even for an empty body, as the receiving side expects.
    do {
      if (attempt++ == TRANSFER_ATTEMPTS) {
        ovi_trace(2, "could not write %d byte message arglist\n", total);
        return 0;
      }
      ovi_trace(2, "trying to write %d bytes of %d bytes arglist from offset %d\n", chunk, left,
                offset);
      ssize_t n = write(r->data_fd, arglist->data + offset, chunk);
      if (n == -1) {
        ovi_trace(2, "message arglist write failed: %s\n", strerror(errno));
        return 0;
      }
      ovi_trace(2, "write %d bytes of %d byte message arglist\n", static_cast<int>(n), total);
      chunk -= n;
      left -= n;
      offset += n;
    } while (chunk > 0);

    if (left == 0) ovi_trace(2, "wrote %d byte message arglist\n", total);
    ovi_trace(2, "trying to write one byte ok_to_read message to subprocess ...\n");
    if (write(r->control_out_fd, &byte, 1) == -1) {
      ovi_trace(2, "one-byte write failed: %s\n", strerror(errno));
      return 0;
    }
    ovi_trace(2, "wrote one byte ok_to_read message to subprocess\n");
    if (left == 0) return 1;

    ovi_trace(2, "trying to read one byte ok_to_read message from subprocess\n");
    fd_set wait = svc_fdset;
    FD_SET(r->control_in_fd, &wait);
    select(transfer_descriptorCount(), &wait, nullptr, nullptr, nullptr);
    if (read(r->control_in_fd, &byte, 1) == -1) {
      ovi_trace(2, "one-byte read failed: %s\n", strerror(errno));
      return 0;
    }
    ovi_trace(2, "read one byte ok_to_write message from subprocess\n");
    ovi_trace(2, "trying to write %d remaining bytes to child\n", left);
  }
}
