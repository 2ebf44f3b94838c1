// The report transfer between the daemon and a subprocess, byte for byte,
// against a real forked peer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "daemon.h"
#include "tessel/tessel_generic.h"
#include "transfer.h"

namespace {

// One report received as a subprocess does (exiting on failure); the
// message refers to the lists.
struct Received {
  explicit Received(Rendez* r) { Daemon::receiveReport(&msg, &list, &w1, &w2, r); }
  TesselServiceMsg msg;
  TesselArglist list, w1, w2;
};

int unread(int fd) {
  int n = -1;
  ioctl(fd, FIONREAD, &n);
  return n;
}

// Gives r the descriptors, its incoming control non-blocking.
void takeEnds(Rendez* r, int controlOut, int controlIn, int data) {
  r->channel.adopt(controlOut, controlIn, data);
  fcntl(controlIn, F_SETFL, O_NONBLOCK);
}

// The three pipes of one rendezvous: parent_ is the daemon's view of them
// (its channel owns the daemon's ends), a forked child() the subprocess's.
class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(0, pipe(toChild_));
    ASSERT_EQ(0, pipe(toParent_));
    ASSERT_EQ(0, pipe(data_));
    takeEnds(&parent_, toChild_[1], toParent_[0], data_[1]);
  }
  void TearDown() override {
    for (int fd : {toChild_[0], toParent_[1], data_[0]})
      if (fd >= 0) close(fd);
  }
  // Runs body in a forked subprocess with its Rendez; it exits 0 after.
  template <typename Body>
  pid_t child(Body body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      Rendez r;
      takeEnds(&r, toParent_[1], toChild_[0], data_[0]);
      fcntl(data_[0], F_SETFL, O_NONBLOCK);
      body(&r);
      _exit(0);
    }
    return pid;
  }
  // The child's exit status; -1 when a signal ended it or it was still
  // running after 20 seconds (it is then killed).
  static int exitStatus(pid_t pid) {
    if (pid <= 0) return -1;
    int status = 0;
    pid_t got = 0;
    for (int i = 0; i < 1000 && (got = waitpid(pid, &status, WNOHANG)) == 0; i++) usleep(20000);
    if (got == 0) {
      // Not reaped yet, so the pid is still the child's.
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    return got == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Waits until the child's ok_to_write byte is there, as the service loop does.
  void waitForChild() {
    struct pollfd ready = {parent_.channel.control_in_fd(), POLLIN, 0};
    ASSERT_EQ(1, poll(&ready, 1, 10000));
  }

  int toChild_[2], toParent_[2], data_[2];
  Rendez parent_;
};

TEST_F(TransferTest, BodiesOfEverySizeArriveIntact) {
  for (uint32_t size : {0u, 1u, 4520u, 4521u, 20000u}) {
    SCOPED_TRACE(size);
    TesselServiceMsg msg;
    msg.type = 12;
    msg.agentProg = 100110;
    msg.setHost("alpha");
    std::vector<char> body(size);
    for (uint32_t i = 0; i < size; i++) body[i] = static_cast<char>(i * 7 + 1);
    msg.arglistLength = size;
    TesselArglist arglist;
    arglist.setBuffer(body.data(), size, 0);
    pid_t pid = child([&](Rendez* r) {
      Received received(r);
      const TesselServiceMsg& got = received.msg;
      bool same = got.type == 12 && got.agentProg == 100110 && strcmp(got.host, "alpha") == 0 &&
                  got.arglistLength == size && got.argData.size >= size &&
                  (size == 0 || memcmp(got.argData.data, body.data(), size) == 0) &&
                  got.work1.data != nullptr && got.work2.data != nullptr;
      _exit(same ? 0 : 3);
    });
    waitForChild();
    EXPECT_EQ(1, Daemon::sendToChild(msg.image(), &arglist, &parent_));
    EXPECT_EQ(0, exitStatus(pid));
    // Every handshake byte was consumed by its reader.
    EXPECT_EQ(0, unread(parent_.channel.control_in_fd()) + unread(toChild_[0]) + unread(data_[0]));
  }
}

TEST_F(TransferTest, AHeaderInMoreThanFivePiecesIsRefused) {
  pid_t pid = child([](Rendez* r) { Received{r}; });
  waitForChild();
  char byte;
  ASSERT_EQ(1, read(parent_.channel.control_in_fd(), &byte, 1));
  ASSERT_EQ(1, write(parent_.channel.control_out_fd(), &byte, 1));
  char header[TRANSFER_HEADER] = {};
  for (int piece = 0; piece < 6; piece++) {
    ASSERT_EQ(100, write(parent_.channel.data_fd(), header + 100 * piece, 100));
    // Paced so that the subprocess reads each piece on its own.
    for (int i = 0; i < 100 && unread(data_[0]) > 0; i++) usleep(10000);
  }
  EXPECT_EQ(1, exitStatus(pid));
}

TEST_F(TransferTest, SubprocessExitsAsEachFailureAsks) {
  // No one reads its ok_to_write: restart.
  parent_.channel.close();
  EXPECT_EQ(1, exitStatus(child([](Rendez* r) { Received{r}; })));
  // Its own control descriptor is bad: no restart.
  EXPECT_EQ(0, exitStatus(child([](Rendez* r) {
              int in = r->channel.control_in_fd();
              int data = dup(r->channel.data_fd());
              int nowhere = open("/dev/null", O_WRONLY);
              r->channel.adopt(nowhere, in, data);  // closes what it held: `in` is now bad
              Received{r};
            })));
}

TEST_F(TransferTest, DaemonSideFailsWithoutAReadySubprocess) {
  TesselServiceMsg msg;
  TesselArglist arglist;
  // No ok_to_write waiting.
  EXPECT_EQ(0, Daemon::sendToChild(msg.image(), &arglist, &parent_));
  // The subprocess is gone: the header cannot be written.
  char byte = 1;
  ASSERT_EQ(1, write(toParent_[1], &byte, 1));
  close(data_[0]);
  data_[0] = -1;
  EXPECT_EQ(0, Daemon::sendToChild(msg.image(), &arglist, &parent_));
}

}  // namespace
