#include "log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// Runs body in a child whose standard output is captured; returns the
// output and the child's pid.
template <typename Body>
std::string captureInChild(Body body, pid_t* childPid) {
  int fds[2];
  EXPECT_EQ(0, pipe(fds));
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    body();
    fflush(stdout);
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
  close(fds[0]);
  int status;
  waitpid(pid, &status, 0);
  *childPid = pid;
  return out;
}

TEST(TraceTest, WritesOnlyAtOrBelowTheTraceLevel) {
  pid_t pid;
  std::string out = captureInChild([] {
    proxy_trace_level = 2;
    ovi_trace(1, "one %d\n", 1);
    ovi_trace(2, "two\n");
    ovi_trace(3, "three\n");
  }, &pid);
  std::string prefix = "[" + std::to_string(pid) + "] ovi_sender: ";
  EXPECT_EQ(prefix + "one 1\n" + prefix + "two\n", out);
}

TEST(TraceTest, LevelZeroWritesNothing) {
  pid_t pid;
  std::string out = captureInChild([] {
    proxy_trace_level = 0;
    ovi_trace(1, "start-up\n");
  }, &pid);
  EXPECT_EQ("", out);
}

TEST(TraceTest, MessageWithoutLineEndRunsOn) {
  pid_t pid;
  std::string out = captureInChild([] {
    proxy_trace_level = 1;
    ovi_trace(1, "Cannot initialize, exiting.");
    printf("tail\n");
  }, &pid);
  EXPECT_EQ("[" + std::to_string(pid) + "] ovi_sender: Cannot initialize, exiting.tail\n", out);
}

}  // namespace

namespace {

TEST(TraceTest, LongMessagesArriveWhole) {
  pid_t pid;
  std::string text(5000, 'x');
  std::string out = captureInChild([&] {
    proxy_trace_level = 1;
    ovi_trace(1, "%s\n", text.c_str());
  }, &pid);
  EXPECT_EQ("[" + std::to_string(pid) + "] ovi_sender: " + text + "\n", out);
}

}  // namespace
