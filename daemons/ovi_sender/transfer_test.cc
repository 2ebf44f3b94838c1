// The report transfer between the daemon and a subprocess, byte for byte,
// against a real forked peer.
#include <fcntl.h>
#include <gtest/gtest.h>
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

// The three pipes of one rendezvous, with the daemon's and the
// subprocess's views of them.
class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    ASSERT_EQ(0, pipe(toChild_));
    ASSERT_EQ(0, pipe(toParent_));
    ASSERT_EQ(0, pipe(data_));
    memset(&parent_, 0, sizeof parent_);
    parent_.control_out_fd = toChild_[1];
    parent_.control_in_fd = toParent_[0];
    parent_.data_fd = data_[1];
    fcntl(parent_.control_in_fd, F_SETFL, O_NONBLOCK);
  }
  void TearDown() override {
    for (int fd : {toChild_[0], toChild_[1], toParent_[0], toParent_[1], data_[0], data_[1]})
      close(fd);
  }
  // Forks the subprocess side: body runs with the child's Rendez, and the
  // exit status tells the test what happened.
  template <typename Body>
  pid_t child(Body body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      Rendez r;
      memset(&r, 0, sizeof r);
      r.control_out_fd = toParent_[1];
      r.control_in_fd = toChild_[0];
      r.data_fd = data_[0];
      fcntl(r.control_in_fd, F_SETFL, O_NONBLOCK);
      fcntl(r.data_fd, F_SETFL, O_NONBLOCK);
      body(&r);
      _exit(0);
    }
    return pid;
  }
  int exitStatus(pid_t pid) {
    int status = -1;
    for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; i++) usleep(20000);
    if (!WIFEXITED(status)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    return WEXITSTATUS(status);
  }
  // Waits until the child's ok_to_write byte is there, as the service loop does.
  void waitForChild() {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(parent_.control_in_fd, &set);
    struct timeval tv = {10, 0};
    ASSERT_EQ(1, select(parent_.control_in_fd + 1, &set, nullptr, nullptr, &tv));
  }
  static int unread(int fd) {
    int n = -1;
    ioctl(fd, FIONREAD, &n);
    return n;
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
    // The child compares what it receives with the same pattern and answers
    // with its exit status.
    pid_t pid = child([&](Rendez* r) {
      TesselServiceMsg got;
      TesselArglist list, w1, w2;
      Daemon::receiveReport(&got, &list, &w1, &w2, r);
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
    EXPECT_EQ(0, unread(parent_.control_in_fd));
    EXPECT_EQ(0, unread(toChild_[0]));
    EXPECT_EQ(0, unread(data_[0]));
  }
}

TEST_F(TransferTest, AHeaderInMoreThanFivePiecesIsRefused) {
  pid_t pid = child([](Rendez* r) {
    TesselServiceMsg got;
    TesselArglist list, w1, w2;
    Daemon::receiveReport(&got, &list, &w1, &w2, r);
  });
  waitForChild();
  char byte;
  ASSERT_EQ(1, read(parent_.control_in_fd, &byte, 1));
  ASSERT_EQ(1, write(parent_.control_out_fd, &byte, 1));
  char header[TRANSFER_HEADER] = {};
  for (int piece = 0; piece < 6; piece++) {
    ASSERT_EQ(100, write(parent_.data_fd, header + 100 * piece, 100));
    // Paced so that the subprocess reads each piece on its own.
    for (int i = 0; i < 100 && unread(data_[0]) > 0; i++) usleep(10000);
  }
  EXPECT_EQ(1, exitStatus(pid));
}

TEST_F(TransferTest, SubprocessExitsAsEachFailureAsks) {
  // No one reads its ok_to_write: restart.
  close(toParent_[0]);
  toParent_[0] = -1;
  pid_t pid = child([](Rendez* r) {
    TesselServiceMsg got;
    TesselArglist list, w1, w2;
    Daemon::receiveReport(&got, &list, &w1, &w2, r);
  });
  EXPECT_EQ(1, exitStatus(pid));

  // Its own control descriptor is bad: no restart.
  pid = child([](Rendez* r) {
    TesselServiceMsg got;
    TesselArglist list, w1, w2;
    close(r->control_in_fd);
    r->control_out_fd = open("/dev/null", O_WRONLY);
    Daemon::receiveReport(&got, &list, &w1, &w2, r);
  });
  EXPECT_EQ(0, exitStatus(pid));
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
