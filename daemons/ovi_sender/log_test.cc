#include "log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

std::string prefix(pid_t pid) { return "[" + std::to_string(pid) + "] ovi_sender: "; }

// A message longer than the line buffer arrives whole; one without a line
// end runs on into what follows it; a forked subprocess's line carries its
// own pid.
TEST(TraceTest, WritesPrefixedMessagesAtOrBelowTheTraceLevel) {
  std::string longText(5000, 'x');
  testing::internal::CaptureStdout();
  proxy_trace_level = 2;
  ovi_trace(1, "one %d\n", 1);
  ovi_trace(2, "%s\n", longText.c_str());
  ovi_trace(3, "three\n");
  ovi_trace(2, "Cannot initialize, exiting.");
  printf("tail\n");
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    ovi_trace(1, "child\n");
    fflush(stdout);
    _exit(0);
  }
  ASSERT_EQ(child, waitpid(child, nullptr, 0));
  proxy_trace_level = 0;
  EXPECT_EQ(prefix(getpid()) + "one 1\n" + prefix(getpid()) + longText + "\n" + prefix(getpid()) +
                "Cannot initialize, exiting.tail\n" + prefix(child) + "child\n",
            testing::internal::GetCapturedStdout());
}

}  // namespace
