// End-to-end test of the orxdb tool: runs the built program.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct ToolRun {
  int status;  // exit status; 124 when it was stopped after a minute
  std::string out, err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class OrxdbToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/orxdb_tool_test.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    root_ = dir;
    setenv("OVI_ROOT", dir, 1);
  }
  void TearDown() override {
    std::filesystem::remove_all(root_);
    unsetenv("OVI_ROOT");
  }
  // Runs "orxdb args" (words without shell metacharacters) with `input` on
  // its standard input.
  ToolRun orxdb(const std::string& args, const std::string& input = "") {
    std::string in = root_ + "/stdin", out = root_ + "/stdout", err = root_ + "/stderr";
    std::ofstream(in) << input;
    std::string cmd = "timeout 60 " + std::string(ORXDB_TOOL) + " " + args + " <" + in + " >" +
                      out + " 2>" + err;
    int rc = system(cmd.c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(out), slurp(err)};
  }
  std::string root_;
};

// One line on standard error that names the program.
bool isErrorLine(const std::string& err) {
  return err.rfind("orxdb: ", 0) == 0 && err.find('\n') == err.size() - 1;
}

TEST_F(OrxdbToolTest, HelpDirAndUsageErrors) {
  for (const char* help : {"--help", "-h"}) {
    ToolRun r = orxdb(help);
    EXPECT_EQ(0, r.status) << help;
    EXPECT_EQ(0u, r.out.find("usage: orxdb")) << help;
  }
  ToolRun dir = orxdb("dir");
  EXPECT_EQ(0, dir.status);
  EXPECT_EQ(root_ + "/var/opt/ZEPHline/orx/db\n", dir.out);
  for (const char* args : {"", "list", "create", "load x", "dump x y", "dir x", "drop a/b"}) {
    ToolRun r = orxdb(args);
    EXPECT_EQ(2, r.status) << args;
    EXPECT_TRUE(isErrorLine(r.err)) << args << ": " << r.err;
    EXPECT_EQ("", r.out) << args;
  }
}

TEST_F(OrxdbToolTest, CreateLoadFromFileAndStdinDumpDrop) {
  EXPECT_EQ(0, orxdb("create st").status);
  ToolRun r = orxdb("create st");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("orxdb: database st already exists\n", r.err);
  std::string file = root_ + "/station.orx";
  std::ofstream(file) << "element Home view.root\nelement r7 component.router\n";
  EXPECT_EQ(0, orxdb("load st " + file).status);
  EXPECT_EQ(0, orxdb("load st -", "member r7 Home 1 2 3 4 5\n").status);
  r = orxdb("dump st");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("element r7 component.router\nmember r7 Home 1 2 3 4 5\n"))
      << r.out;
  // A bad line is reported with the file's name, or "stdin", and its number.
  std::ofstream(file) << "element a t\n\nmember a Home 1 2\n";
  r = orxdb("load st " + file);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("orxdb: " + file + ":3: expected member ELEMENT VIEW [X Y Z X1 Y1]\n", r.err);
  r = orxdb("load st -", "element b t\nmember b Nowhere\n");
  EXPECT_EQ("orxdb: stdin:2: unknown element \"Nowhere\"\n", r.err);
  r = orxdb("load st " + root_ + "/missing.orx");
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(isErrorLine(r.err)) << r.err;
  EXPECT_EQ(0, orxdb("drop st").status);
  r = orxdb("drop st");
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(isErrorLine(r.err)) << r.err;
  EXPECT_EQ(1, orxdb("dump st").status);
}

}  // namespace
