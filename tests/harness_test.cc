// The harness's signals to processes a test did not start: only to a live
// child of the parent named, and through a held one to that same process
// after its parent has ended.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness/process.h"

namespace {

// Forks a child that waits for a signal (at most a minute, should the test
// fail before it is signalled).
pid_t pausedChild() {
  pid_t pid = fork();
  if (pid == 0) {
    alarm(60);
    pause();
    _exit(0);
  }
  return pid;
}

TEST(SignalChildOf, SignalsOnlyALiveChildOfTheParentGiven) {
  pid_t child = pausedChild();
  ASSERT_GT(child, 0);
  EXPECT_FALSE(signalChildOf(getppid(), child, SIGKILL)) << "not a child of the parent given";
  // The child is ours and not yet reaped: plain waitpid() and the status
  // below are about it.
  EXPECT_EQ(0, waitpid(child, nullptr, WNOHANG));
  EXPECT_TRUE(signalChildOf(getpid(), child, SIGTERM));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_FALSE(signalChildOf(getpid(), child, SIGKILL)) << "reaped";

  pid_t ended = fork();
  if (ended == 0) _exit(3);
  ASSERT_GT(ended, 0);
  ASSERT_TRUE(waitUntil([&] { return processState(ended) == 'Z'; }, 10));
  EXPECT_FALSE(signalChildOf(getpid(), ended, SIGKILL)) << "a zombie";
  ASSERT_EQ(ended, waitpid(ended, &status, 0));
}

TEST(HeldChild, ReachesTheSameProcessAfterItsParentEnded) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    pid_t grandchild = pausedChild();
    if (write(fds[1], &grandchild, sizeof grandchild) != sizeof grandchild) _exit(1);
    pause();
    _exit(0);
  }
  close(fds[1]);
  pid_t grandchild = 0;
  ASSERT_EQ(static_cast<ssize_t>(sizeof grandchild), read(fds[0], &grandchild, sizeof grandchild));
  close(fds[0]);
  ASSERT_GT(grandchild, 0);

  HeldChild held(parent, grandchild);
  EXPECT_TRUE(held.held());
  EXPECT_FALSE(HeldChild(getpid(), grandchild).held()) << "a grandchild is not a child";
  // Our own unreaped child: a plain kill() reaches it.
  ASSERT_EQ(0, kill(parent, SIGKILL));
  ASSERT_EQ(parent, waitpid(parent, nullptr, 0));
  // Orphaned, it has another parent now.
  EXPECT_FALSE(signalChildOf(parent, grandchild, SIGKILL));
  EXPECT_TRUE(held.signal(SIGKILL));
  EXPECT_TRUE(waitUntil([&] {
    char state = processState(grandchild);
    return state == 0 || state == 'Z';
  }, 10));
}

}  // namespace
