// The station's RPC programs answer a bad command line as the others do: one
// line on standard error that begins with the program's name, and status 2.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

TEST(UsageErrorTest, OneLineNamingTheProgramAndStatusTwo) {
  const struct {
    const char* name;
    const char* binary;
    const char* args;
  } cases[] = {
      {"tessel_send", TESSEL_SEND_BIN, "--bogus"},
      {"tessel_send", TESSEL_SEND_BIN, "--count"},
      {"tessel_send", TESSEL_SEND_BIN, "--count x"},
      {"tessel_send", TESSEL_SEND_BIN, "-q"},
      {"ovi_console", OVI_CONSOLE_BIN, "--bogus"},
      {"ovi_console", OVI_CONSOLE_BIN, "--register stray"},
      {"ovi_console", OVI_CONSOLE_BIN, "--register --sync"},
      {"qm.event", QM_EVENT_BIN, "--bogus"},
      {"qm.event", QM_EVENT_BIN, "-d"},
      {"qm.event", QM_EVENT_BIN, "stray"},
  };
  char dir[] = "/tmp/usage_errors_XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string err = std::string(dir) + "/err";
  for (const auto& c : cases) {
    std::string command = std::string("timeout 30 ") + c.binary + " " + c.args +
                          " >/dev/null 2>" + err + " </dev/null";
    int rc = system(command.c_str());
    std::ifstream in(err);
    std::stringstream text;
    text << in.rdbuf();
    std::string line = text.str();
    SCOPED_TRACE(std::string(c.name) + " " + c.args + ": " + line);
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 2) << rc;
    EXPECT_EQ(0u, line.rfind(std::string(c.name) + ": ", 0));
    EXPECT_EQ(line.size() - 1, line.find('\n'));  // one line
  }
  unlink(err.c_str());
  rmdir(dir);
}

// Every program answers --version with its name and the version it was built as.
TEST(UsageErrorTest, VersionNamesTheProgramAndItsVersion) {
  const struct {
    const char* name;
    const char* binary;
  } programs[] = {
      {"tessel_send", TESSEL_SEND_BIN}, {"ovi_console", OVI_CONSOLE_BIN},
      {"qm.event", QM_EVENT_BIN},       {"orxdb", ORXDB_BIN},
      {"ovi_filtercheck", OVI_FILTERCHECK_BIN}, {"ovi_status", OVI_STATUS_BIN},
  };
  for (const auto& p : programs) {
    std::string command = std::string("timeout 30 ") + p.binary + " --version 2>&1 </dev/null";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(nullptr, out);
    char line[256] = "";
    if (fgets(line, sizeof line, out) == nullptr) line[0] = '\0';
    int rc = pclose(out);
    EXPECT_EQ(std::string(p.name) + " " OVI_VERSION "\n", line) << p.name;
    EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << p.name;
  }
}

}  // namespace
