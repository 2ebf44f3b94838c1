// The three pipes between the daemon and one forwarding subprocess, and all
// the transport of a report on them: the 600-byte message image, then the
// argument list in chunks of at most 4,520 bytes, each announced by one
// ok_to_read byte (daemon to subprocess) and asked for by one ok_to_write
// byte (subprocess to daemon), so that at most 5,120 bytes of a report are
// ever in the data pipe.
//
//   control pipe A   daemon -> subprocess   ok_to_read bytes
//   control pipe B   subprocess -> daemon   ok_to_write bytes
//   data pipe        daemon -> subprocess   image and argument list
//
// A channel owns the descriptors it holds and closes them when it goes or
// is closed: before the fork all six ends, afterwards the three of its own
// process (in the daemon: write A, read B, write data; in the subprocess:
// write B, read A, read data).  Every trace line of the transfer is
// written here.
#ifndef DAEMONS_OVI_SENDER_REPORT_CHANNEL_H_
#define DAEMONS_OVI_SENDER_REPORT_CHANNEL_H_

#include <stdint.h>
#include <sys/select.h>

class ReportChannel {
 public:
  ReportChannel() = default;
  ~ReportChannel() { close(); }
  ReportChannel(const ReportChannel&) = delete;
  ReportChannel& operator=(const ReportChannel&) = delete;

  // Makes control pipe A, then B, then the data pipe (closing what it held),
  // all with descriptors the daemon's select can watch.  1 on success; 0
  // with errno set (EMFILE past the select limit), and nothing left open.
  int open();
  // After the fork, in the daemon: keeps its ends, closes the subprocess's,
  // and makes the incoming control end non-blocking.  0 when that failed.
  int keepDaemonEnds();
  // After the fork, in the subprocess: keeps its ends, closes the daemon's,
  // and makes both read ends non-blocking.  0 when that failed.
  int keepSubprocessEnds();
  // Takes over three descriptors already split between the processes (for
  // tests that make their own pipes).
  void adopt(int controlOut, int controlIn, int data);
  // Closes every end held.  Uses only close(2): safe in a signal handler.
  void close();

  // This process's ends (-1 when not held): in the daemon the write end of
  // A, the read end of B and the write end of the data pipe; in the
  // subprocess the write end of B, the read end of A and the read end of
  // the data pipe.
  int control_out_fd() const { return controlOut_; }
  int control_in_fd() const { return controlIn_; }
  int data_fd() const { return data_; }

  // ---- the daemon's side ----
  // Transfers one report: waits for nothing before reading the subprocess's
  // ok_to_write (the service loop saw it), writes the image and the chunks,
  // and between chunks waits for the next ok_to_write or any RPC request in
  // `rpc`.  1 when the whole report and its last ok_to_read were written, 0
  // on any failure (a request that came first included).
  int sendReport(const unsigned char* image, const char* body, uint32_t length,
                 const fd_set& rpc) const;

  // ---- the subprocess's side ----
  // Writes ok_to_write and waits for the daemon's ok_to_read, repeating the
  // wait after a signal (calling interrupted() first, when given).  Ends the
  // subprocess when the pipes fail, with a restart when the write failed.
  void requestReport(void (*interrupted)()) const;
  // Reads the 600-byte image into image; 1 on success, 0 on failure.
  int readImage(unsigned char* image) const;
  // Reads a body of `length` bytes into body, asking for each chunk after
  // the first; 1 on success, 0 on a failed read.  Ends the subprocess when
  // a handshake byte fails.
  int readBody(char* body, uint32_t length) const;

 private:
  // Takes ends_[out], ends_[in] and ends_[data] as this process's ends and
  // closes the other three.
  void keep(int out, int in, int data);

  int ends_[6] = {-1, -1, -1, -1, -1, -1};  // the pipes before the fork: A, B, data
  int controlOut_ = -1;
  int controlIn_ = -1;
  int data_ = -1;
};

#endif  // DAEMONS_OVI_SENDER_REPORT_CHANNEL_H_
