// The Debian package as an operator gets it: built by cpack from this build,
// unpacked with dpkg-deb into a temporary directory, its postinst run against
// that directory (DPKG_ROOT, as dpkg gives it), and a whole station run from
// the unpacked programs and files with OVI_ROOT set to that directory.  The
// station runs in the first of two stations in namespaces of their own (its
// own rpcbind, no lock on the host's programs); the console runs on the
// second.  A console registers, receives what the example filter passes,
// synchronises, shows in ovi_status and is deleted.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "harness/process.h"
#include "harness/two_stations.h"

namespace {

namespace fs = std::filesystem;

const char kDpkgDeb[] = "/usr/bin/dpkg-deb";
const char kInstallDir[] = "/opt/ZEPHline/orx";
const char kDataDir[] = "/var/opt/ZEPHline/orx/ovi_files";
const char kConsoleProg[] = "536873728";  // 0x20000900
const char kConsoleVers[] = "3";
const char kConsoleName[] = "pkgconsole";

// The words of VAR="..." in a systemd environment file, none when absent.
std::vector<std::string> optionsOf(const std::string& envFile, const std::string& var) {
  std::istringstream in(envFile);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, var.size() + 1, var + "=") != 0) continue;
    std::string value = line.substr(var.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    std::istringstream words(value);
    std::vector<std::string> out;
    for (std::string w; words >> w;) out.push_back(w);
    return out;
  }
  return {};
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ovi_pkg_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    work_ = tmpl;
    root_ = work_ + "/root";
    control_ = work_ + "/control";
    env_ = {"OVI_ROOT=" + root_};
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(work_, ignored);
  }

  std::string bin(const std::string& program) const {
    return root_ + kInstallDir + "/bin/" + program;
  }

  // Builds the package with cpack into the work directory and unpacks its
  // files and its control files.
  void buildAndUnpack() {
    std::string out, err;
    int status = runProgram({CPACK_COMMAND, "-G", "DEB", "--config", CPACK_CONFIG, "-B",
                             work_ + "/cpack"}, &out, 600, {}, &err);
    ASSERT_TRUE(exitedZero(status)) << out << err;
    for (const fs::directory_entry& e : fs::directory_iterator(work_ + "/cpack"))
      if (e.path().extension() == ".deb") deb_ = e.path();
    ASSERT_FALSE(deb_.empty()) << out << err;
    std::string name = fs::path(deb_).filename();
    EXPECT_EQ(0u, name.rfind(std::string("ovi-sender_") + OVI_PACKAGE_VERSION + "-1_", 0)) << name;
    ASSERT_TRUE(exitedZero(runProgram({kDpkgDeb, "-x", deb_, root_}, &out, 120, {}, &err)))
        << out << err;
    ASSERT_TRUE(exitedZero(runProgram({kDpkgDeb, "-e", deb_, control_}, &out, 120, {}, &err)))
        << out << err;
  }

  std::string field(const std::string& name) {
    std::string out, err;
    EXPECT_TRUE(exitedZero(runProgram({kDpkgDeb, "-f", deb_, name}, &out, 60, {}, &err)))
        << out << err;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  // Runs the package's postinst against the unpacked tree, as dpkg does with
  // DPKG_ROOT set.
  void postinst(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/bin/sh", control_ + "/postinst"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out, err;
    ASSERT_TRUE(exitedZero(runProgram(argv, &out, 60, {"DPKG_ROOT=" + root_}, &err)))
        << out << err;
  }

  // Runs a program of the package inside a station; its standard output.
  std::string runIn(const TwoStations& two, const std::string& station,
                    const std::vector<std::string>& argv) {
    std::string out, err;
    int status = two.run(station, argv, &out, 60, env_, &err);
    EXPECT_TRUE(exitedZero(status))
        << argv[0] << " status " << status << ": " << out << err;
    return out;
  }

  // An action request for the console, sent to ovi_sender on alpha with the
  // package's tessel_send, as ovi_console sends it.
  std::string request(const TwoStations& two, const char* flags) {
    return runIn(two, "alpha",
                 {bin("tessel_send"), "--prog", "100139", "--type", "6", "--flags", flags,
                  "tessel_rendez_addr=ipaddr:" + two.address("beta"),
                  "tessel_rendez_prog=uint:" + std::string(kConsoleProg),
                  "tessel_rendez_vers=uint:" + std::string(kConsoleVers),
                  "vant_filter_file=string:example.filter", "vant_orx_name=string:example",
                  std::string("receiving_orx=string:") + kConsoleName});
  }

  std::string work_, root_, control_, deb_;
  std::vector<std::string> env_;
};

TEST_F(PackageTest, AStationRunsFromTheUnpackedPackage) {
  if (access(kDpkgDeb, X_OK) != 0) GTEST_SKIP() << "dpkg-deb is not installed";
  TwoStations two;
  OVI_REQUIRE_TWO_STATIONS(two);
  ASSERT_NO_FATAL_FAILURE(buildAndUnpack());

  // The control fields.
  EXPECT_EQ("ovi-sender", field("Package"));
  EXPECT_EQ(std::string(OVI_PACKAGE_VERSION) + "-1", field("Version"));
  std::string depends = field("Depends");
  for (const char* needed : {"libtirpc", "libsqlite3-0", "rpcbind"})
    EXPECT_NE(std::string::npos, depends.find(needed)) << depends;
  EXPECT_FALSE(field("Maintainer").empty());
  EXPECT_EQ("/etc/opt/ZEPHline/orx/orx.conf\n/etc/opt/ZEPHline/orx/ovi_sender.env\n",
            readFile(control_ + "/conffiles"));

  // The files: every program, the units, the schemas; nothing below /var,
  // which the postinst makes.
  for (const char* program : {"ovi_sender", "qm.event", "tessel_send", "ovi_console", "orxdb",
                              "ovi_filtercheck", "ovi_status"})
    EXPECT_EQ(0, access(bin(program).c_str(), X_OK)) << program;
  std::string qmUnit = readFile(root_ + "/lib/systemd/system/qm.event.service");
  std::string daemonUnit = readFile(root_ + "/lib/systemd/system/ovi_sender.service");
  EXPECT_NE(std::string::npos,
            qmUnit.find("ExecStart=/opt/ZEPHline/orx/bin/qm.event $QM_EVENT_OPTS"));
  EXPECT_NE(std::string::npos,
            daemonUnit.find("ExecStart=/opt/ZEPHline/orx/bin/ovi_sender $OVI_SENDER_OPTS"));
  EXPECT_NE(std::string::npos, daemonUnit.find("Requires=rpcbind.service qm.event.service"));
  for (const std::string& unit : {qmUnit, daemonUnit})
    EXPECT_NE(std::string::npos,
              unit.find("EnvironmentFile=-/etc/opt/ZEPHline/orx/ovi_sender.env"));
  EXPECT_FALSE(fs::exists(root_ + "/var")) << "the package ships files below /var";

  // The postinst copies the example data files, and on an upgrade keeps
  // what the operator edited and brings back what is missing.
  ASSERT_NO_FATAL_FAILURE(postinst({"configure"}));
  const std::string data = root_ + kDataDir;
  for (const char* f : {"ovi_sender.conf", "ovi_sender.lang", "example.filter", "example.tmpl",
                        "example.traps"})
    EXPECT_EQ(readFile(root_ + kInstallDir + "/share/examples/ovi_files/" + f),
              readFile(data + "/" + f)) << f;
  EXPECT_TRUE(fs::is_directory(root_ + "/var/opt/ZEPHline/orx/db"));
  // The console's host may use the example database.
  std::string accessList = readFile(data + "/ovi_sender.conf") + "beta example\n";
  std::ofstream(data + "/ovi_sender.conf", std::ios::trunc) << accessList;
  fs::remove(data + "/example.tmpl");
  ASSERT_NO_FATAL_FAILURE(postinst({"configure", std::string(OVI_PACKAGE_VERSION) + "-1"}));
  EXPECT_EQ(accessList, readFile(data + "/ovi_sender.conf"));
  EXPECT_TRUE(fs::exists(data + "/example.tmpl"));

  // The schemas parse, the element record carries the installation marker.
  std::string out, err;
  EXPECT_TRUE(exitedZero(runProgram({bin("ovi_filtercheck"), "--schemas"}, &out, 60, env_, &err)))
      << out << err;
  EXPECT_NE(std::string::npos, out.find("Object: component.router")) << out;
  EXPECT_NE(std::string::npos, out.find("Object: adminState")) << out;
  // The example filter file and the files it names read as they should.
  EXPECT_TRUE(
      exitedZero(runProgram({bin("ovi_filtercheck"), "example.filter"}, &out, 60, env_, &err)))
      << out << err;
  EXPECT_NE(std::string::npos, out.find("registration: accepted")) << out;
  EXPECT_TRUE(exitedZero(runProgram({bin("orxdb"), "load", "example",
                                     root_ + kInstallDir + "/share/examples/example.db"},
                                    &out, 60, env_, &err))) << out << err;

  // The station, with the options of the shipped environment file, as the
  // units start it; each daemon counts as started once it serves.
  std::string envFile = readFile(root_ + "/etc/opt/ZEPHline/orx/ovi_sender.env");
  std::vector<std::string> qmArgv = {bin("qm.event")}, daemonArgv = {bin("ovi_sender")};
  for (const std::string& o : optionsOf(envFile, "QM_EVENT_OPTS")) qmArgv.push_back(o);
  for (const std::string& o : optionsOf(envFile, "OVI_SENDER_OPTS")) daemonArgv.push_back(o);
  ASSERT_EQ(3u, daemonArgv.size()) << envFile;
  const std::string waitRpc = root_ + kInstallDir + "/libexec/ovi_wait_rpc";
  Process qm, daemon;
  ASSERT_TRUE(two.start(&qm, "alpha", qmArgv, env_));
  runIn(two, "alpha", {waitRpc, "100101", "10", "30"});
  ASSERT_TRUE(two.start(&daemon, "alpha", daemonArgv, env_));
  runIn(two, "alpha", {waitRpc, "100139", "10", "30"});
  ASSERT_TRUE(daemon.running()) << daemon.output() << daemon.errors();

  // A console on beta registers.
  Process console;
  ASSERT_TRUE(two.start(&console, "beta",
                        {bin("ovi_console"), "--daemon", "alpha", "--addr", two.address("beta"),
                         "--register", "--event", "--prog", kConsoleProg, "--vers", kConsoleVers,
                         "--filter", "example.filter", "--db", "example", "--recv-orx",
                         kConsoleName, "--timeout", "300"},
                        env_));
  ASSERT_TRUE(console.waitForOutput("\"value\":\"succeeded\"", 30))
      << console.output() << console.errors() << daemon.output();

  // Reports: the example filter drops host noisy and the traps that
  // example.traps does not list; the database-manager trap gets the
  // element's views and color from the example template.
  auto send = [&](std::vector<std::string> args) {
    args.insert(args.begin(), bin("tessel_send"));
    EXPECT_EQ("0\n", runIn(two, "alpha", args));
  };
  send({"--type", "event", "--from", "router7", "load=int:95/5:90:3", "adminState=enum:2"});
  send({"--type", "trap", "--from", "noisy", "n=int:1"});
  send({"--type", "trap", "--from", "router7", "enterprise=oid:1.3.6.1.4.1.99999",
        "trap-no=int:7"});
  send({"--type", "trap", "--from", "router7", "enterprise=oid:1.3.6.1.4.1.32473",
        "trap-no=int:7"});
  send({"--type", "trap", "--agent-prog", "100110", "--group", "tessel_db_config",
        "added=string:router7"});
  send({"--type", "event", "--from", "router7", "last=int:1"});
  ASSERT_TRUE(console.waitForOutput("\"name\":\"last\"", 30)) << console.output()
                                                                << daemon.output();
  // The event's enumerated value is named from the shipped agent schema.
  std::vector<std::string> events = linesWith(console, "\"name\":\"load\"");
  ASSERT_EQ(1u, events.size()) << console.output();
  EXPECT_NE(std::string::npos,
            events[0].find("{\"name\":\"adminState\",\"type\":9,\"length\":4,\"value\":\"down\"}"))
      << events[0];
  EXPECT_TRUE(linesWith(console, "\"host\":\"noisy\"").empty()) << console.output();
  EXPECT_TRUE(linesWith(console, "1.3.6.1.4.1.99999").empty()) << console.output();
  EXPECT_EQ(1u, linesWith(console, "1.3.6.1.4.1.32473").size()) << console.output();
  std::vector<std::string> added = linesWith(console, "{\"name\":\"added\",");
  ASSERT_EQ(1u, added.size()) << console.output();
  EXPECT_NE(std::string::npos, added[0].find("\"value\":\"Lab\"")) << added[0];

  // It shows in ovi_status, as a table and for Prometheus.
  EXPECT_TRUE(waitUntil([&] {
    std::string table, err;
    return two.run("alpha", {bin("ovi_status")}, &table, 30, env_, &err) == 0 &&
           table.find(std::string(" ") + kConsoleName + " ") != std::string::npos;
  }, 20)) << runIn(two, "alpha", {bin("ovi_status")});
  std::string metrics = runIn(two, "alpha", {bin("ovi_status"), "--prometheus"});
  EXPECT_NE(std::string::npos, metrics.find("ovi_sender_reports_handed_total{")) << metrics;
  EXPECT_NE(std::string::npos, metrics.find(kConsoleName)) << metrics;

  // It synchronises: one trap per element of the views below Home, then
  // "synched".
  EXPECT_EQ("0\n", request(two, "0x200"));
  ASSERT_TRUE(console.waitForOutput("synched", 60)) << console.output() << daemon.output();
  added = linesWith(console, "{\"name\":\"added\",");
  for (const char* element : {"Lab", "router7", "switch2"}) {
    bool found = false;
    for (size_t i = 1; i < added.size(); i++)
      found = found || added[i].find(std::string("\"value\":\"") + element + "\"") !=
                           std::string::npos;
    EXPECT_TRUE(found) << element << "\n" << console.output();
  }

  // The synchronisation's subprocess ends; the console's stays.
  ASSERT_TRUE(waitUntil([&] { return liveChildren(daemon.pid()).size() == 1; }, 30))
      << liveChildren(daemon.pid()).size() << " subprocesses\n" << daemon.output();

  // It is deleted: its subprocess ends and it receives nothing more.
  EXPECT_EQ("0\n", request(two, "0x100"));
  EXPECT_TRUE(daemon.waitForOutput("sending SIGTERM signal to subprocess", 30))
      << daemon.output();
  EXPECT_TRUE(waitUntil([&] { return liveChildren(daemon.pid()).empty(); }, 30));
  size_t before = console.lines().size();
  send({"--type", "event", "--from", "router7", "after=int:1"});
  sleepSeconds(2);
  EXPECT_EQ(before, console.lines().size()) << console.output();

  // SIGTERM ends both daemons with status 0: the units restart them only
  // on a failure.
  console.stop(SIGTERM, 10);
  EXPECT_TRUE(exitedZero(daemon.stop(SIGTERM, 30))) << daemon.output() << daemon.errors();
  EXPECT_TRUE(exitedZero(qm.stop(SIGTERM, 10))) << qm.output() << qm.errors();
}

}  // namespace
