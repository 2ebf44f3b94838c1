// The two-station harness: each station has its own host name, hosts file
// and rpcbind, a program served on one station answers from the other, and
// taking the stations down leaves no process, namespace or link behind.
#include "harness/two_stations.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness/process.h"

namespace {

int exitCode(int status) { return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Pids of every process whose network namespace has the given inode.
std::vector<pid_t> processesInNetns(const std::string& inode) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ignored;
    std::filesystem::path link = std::filesystem::read_symlink(entry.path() / "ns/net", ignored);
    if (!ignored && link.string() == "net:[" + inode + "]") found.push_back(std::stoi(name));
  }
  return found;
}

std::string hostOutput(const std::vector<std::string>& argv) {
  std::string out;
  runProgram(argv, &out, 30);
  return out;
}

TEST(TwoStationsTest, EachStationHasItsOwnNameHostsAndRpcbind) {
  TwoStations two;
  OVI_REQUIRE_TWO_STATIONS(two);
  EXPECT_EQ("10.201.0.1", two.address("alpha"));
  EXPECT_EQ("10.201.0.2", two.address("beta"));

  std::string out, err;
  EXPECT_EQ(0, exitCode(two.run("alpha", {"hostname"}, &out)));
  EXPECT_EQ("alpha\n", out);
  EXPECT_EQ(0, exitCode(two.run("beta", {"hostname"}, &out)));
  EXPECT_EQ("beta\n", out);

  // Both names resolve on both stations, to the veth addresses.
  for (const char* station : {"alpha", "beta"}) {
    EXPECT_EQ(0, exitCode(two.run(station, {"getent", "hosts", "alpha", "beta"}, &out)));
    EXPECT_NE(std::string::npos, out.find("10.201.0.1")) << station << ": " << out;
    EXPECT_NE(std::string::npos, out.find("10.201.0.2")) << station << ": " << out;
  }

  for (const char* station : {"alpha", "beta"}) {
    EXPECT_EQ(0, exitCode(two.run(station, {"rpcinfo", "-p"}, &out, 30, {}, &err)))
        << station << ": " << err;
    EXPECT_NE(std::string::npos, out.find("portmapper")) << station << ": " << out;
  }

  // The caller's environment and the program's exit status pass through.
  std::string root = two.dir() + "/alpha-root";
  EXPECT_EQ(0, exitCode(two.run("alpha", {"sh", "-c", "echo \"$OVI_ROOT\""}, &out, 30,
                                {"OVI_ROOT=" + root})));
  EXPECT_EQ(root + "\n", out);
  EXPECT_EQ(3, exitCode(two.run("beta", {"sh", "-c", "exit 3"}, &out)));
  EXPECT_NE(0, exitCode(two.run("gamma", {"true"}, &out, 30, {}, &err)));
  EXPECT_NE(std::string::npos, err.find("no station named 'gamma'")) << err;
}

TEST(TwoStationsTest, ProgramServedOnBetaAnswersFromAlpha) {
  TwoStations two;
  OVI_REQUIRE_TWO_STATIONS(two);
  std::string root = two.dir() + "/beta-root";
  std::filesystem::create_directories(root);

  Process dispatcher;
  ASSERT_TRUE(two.start(&dispatcher, "beta", {QM_EVENT_BIN, "-d", "1"}, {"OVI_ROOT=" + root}));
  ASSERT_TRUE(dispatcher.waitForOutput("serving program", 10)) << dispatcher.errors();
  std::vector<pid_t> inBeta = two.pids("beta");
  EXPECT_NE(inBeta.end(), std::find(inBeta.begin(), inBeta.end(), dispatcher.pid()));

  std::string out, err;
  for (const char* transport : {"-u", "-t"}) {
    EXPECT_EQ(0, exitCode(two.run("alpha", {"rpcinfo", transport, "beta", "100101", "10"}, &out,
                                  30, {}, &err)))
        << transport << ": " << err;
    EXPECT_NE(std::string::npos, out.find("ready and waiting")) << out;
  }
  // It registered with beta's rpcbind only.
  EXPECT_EQ(0, exitCode(two.run("alpha", {"rpcinfo", "-p"}, &out)));
  EXPECT_EQ(std::string::npos, out.find("100101")) << out;
  EXPECT_EQ(0, exitCode(two.run("beta", {"rpcinfo", "-p"}, &out)));
  EXPECT_NE(std::string::npos, out.find("100101")) << out;

  EXPECT_EQ(0, dispatcher.stop());
  EXPECT_NE(0, exitCode(two.run("alpha", {"rpcinfo", "-u", "beta", "100101", "10"}, &out)));
}

TEST(TwoStationsTest, DownEndsEveryProcessAndRemovesTheNamespaces) {
  TwoStations two;
  OVI_REQUIRE_TWO_STATIONS(two);
  std::vector<std::string> inodes, names;
  for (const char* station : {"alpha", "beta"}) {
    std::string key = station;
    inodes.push_back(two.status(key + ".netns_inode"));
    names.push_back(two.status(key + ".netns"));
    ASSERT_FALSE(inodes.back().empty());
    ASSERT_FALSE(names.back().empty());
  }
  std::string veth = two.status("alpha.veth");
  ASSERT_FALSE(veth.empty());

  // A program the test never stops, left for down to end.
  Process sleeper;
  ASSERT_TRUE(two.start(&sleeper, "alpha", {"sleep", "600"}));
  ASSERT_TRUE(waitUntil([&] { return processesInNetns(inodes[0]).size() >= 3; }, 10));
  EXPECT_FALSE(processesInNetns(inodes[1]).empty());

  ASSERT_TRUE(two.down()) << two.why();
  EXPECT_FALSE(two.up());
  EXPECT_TRUE(WIFSIGNALED(sleeper.wait(10)));
  for (const std::string& inode : inodes) EXPECT_TRUE(processesInNetns(inode).empty()) << inode;
  std::string netns = hostOutput({"/usr/bin/env", "ip", "netns", "list"});
  for (const std::string& name : names) EXPECT_EQ(std::string::npos, netns.find(name)) << netns;
  EXPECT_EQ(std::string::npos, hostOutput({"/usr/bin/env", "ip", "link"}).find(veth));
  EXPECT_FALSE(std::filesystem::exists(two.dir() + "/stations.state"));

  // Again, and running in stations that are down, do nothing harmful.
  EXPECT_TRUE(two.down()) << two.why();
  std::string out;
  EXPECT_EQ(-1, two.run("alpha", {"true"}, &out));
}

}  // namespace
