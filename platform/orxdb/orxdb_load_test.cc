#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "orxdb/orxdb.h"
#include "orxdb/orxdb_admin.h"
#include "orxdb/orxdb_test_util.h"

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::string dbFile(const char* name) { return std::string(orxdb_dir()) + "/db." + name; }

const char* const kBase =
    "element Home view.root\n"
    "element a component.host\n"
    "element b component.host\n"
    "member a Home 1 2 3 4 5\n"
    "property a p 1\n"
    "property a q x\n"
    "agent a snmp 1 text\n";

typedef OrxdbRootTest OrxdbLoadTest;

TEST_F(OrxdbLoadTest, BadLineStoresNothingOfTheFile) {
  ASSERT_EQ("", load("db1", kBase));
  std::string before = dump("db1");
  ASSERT_NE("", before);
  EXPECT_EQ("test.orx:3: unterminated quote",
            load("db1", "element c t\nmember c Home\nproperty c x \"open\n"));
  EXPECT_EQ("test.orx:2: unknown element \"Nowhere\"",
            load("db1", "element d t\nmember d Nowhere\nmember b Home\n"));
  EXPECT_EQ("test.orx:2: element \"a\" already has type \"component.host\"",
            load("db1", "element a component.host\nelement a component.router\n"));
  EXPECT_EQ(before, dump("db1"));

  // A bad file does not even create the database.
  EXPECT_NE("", load("db2", "element x t\ncolor x 1 2\n"));
  EXPECT_FALSE(exists(dbFile("db2")));
  EXPECT_EQ("test.orx:1: unknown element \"y\"", load("db2", "member y Home\n"));
  EXPECT_FALSE(exists(dbFile("db2")));
}

TEST_F(OrxdbLoadTest, LaterLoadsExtendAndChangeInPlace) {
  ASSERT_EQ("", load("db1", kBase));
  ASSERT_EQ("", load("db1",
                     "element c component.host\n"
                     "element a component.host\n"     // same type: nothing changes
                     "member c Home\n"
                     "member a Home\n"                // placement removed, place kept
                     "member b Home 9 9 9 9 9\n"
                     "property a p 7\n"               // new value, place kept
                     "agent a snmp 0\n"               // text removed
                     "color a 1 2 3\n"
                     "color a 4 5 6\n"));
  EXPECT_EQ(
      "element Home view.root\n"
      "element a component.host\n"
      "element b component.host\n"
      "element c component.host\n"
      "property a p 7\n"
      "property a q x\n"
      "color a 4 5 6\n"
      "member a Home\n"
      "member c Home\n"
      "member b Home 9 9 9 9 9\n"
      "agent a snmp 0\n",
      dump("db1"));
}

TEST_F(OrxdbLoadTest, DumpWritesWhatWasLoadedAndLoadsBackToTheSameDatabase) {
  // Written as the dump writes it: elements, properties, colours, members,
  // connections, agents, each in load order, words quoted only where needed.
  const std::string text =
      "element Home view.root\n"
      "element \"Net #2\" view.network\n"
      "element \"say \\\"hi\\\"\" component.host\n"
      "element \"back\\\\slash\" connection.serial\n"
      "element \"#hash\" component.host\n"
      "property \"back\\\\slash\" Object1 \"say \\\"hi\\\"\"\n"
      "property \"back\\\\slash\" serial \"0042\"\n"
      "property \"back\\\\slash\" count -7\n"
      "property \"back\\\\slash\" note \"\"\n"
      "color \"#hash\" 0 0 0\n"
      "member \"Net #2\" Home 0 0 0 0 0\n"
      "member \"#hash\" \"Net #2\" -1 -2 -3 -4 -5\n"
      "member \"say \\\"hi\\\"\" \"Net #2\"\n"
      "member \"say \\\"hi\\\"\" Home 1 1 1 1 1\n"
      "connect \"#hash\" \"back\\\\slash\"\n"
      "agent \"#hash\" snmp 3 \"public community\"\n"
      "agent \"#hash\" icmp 0\n"
      "agent \"#hash\" none 1 \"\"\n";
  ASSERT_EQ("", load("first", text));
  EXPECT_EQ(text, dump("first"));
  ASSERT_EQ("", load("second", dump("first")));
  EXPECT_EQ(text, dump("second"));
}

TEST_F(OrxdbLoadTest, CreateLeavesOnlyTheDatabaseAndDropSparesOpenReaders) {
  std::string error;
  ASSERT_NE(0, orxdb_createDatabase("empty", &error)) << error;
  EXPECT_EQ(0, orxdb_createDatabase("empty", &error));
  EXPECT_EQ("", load("empty", "element Home view.root\n"));
  std::vector<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(orxdb_dir()))
    entries.push_back(e.path().filename());
  EXPECT_EQ(std::vector<std::string>{"db.empty"}, entries);  // no build file or journal

  ASSERT_NE(0, open("empty"));
  ASSERT_NE(0, orxdb_dropDatabase("empty", &error)) << error;
  EXPECT_FALSE(exists(dbFile("empty")));
  orxdb_buffer b;
  EXPECT_NE(0, orxdb_read("Home", &b));  // the open reader goes on with the deleted file
  EXPECT_EQ(0, orxdb_createDatabase("a/b", &error));
  EXPECT_EQ(0, orxdb_dropDatabase("../x", &error));
}

// Forks a child that ends with body's result.
pid_t spawn(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// Waits for a child at most two minutes; its exit status, or -1 after
// killing it when it did not end in time.
int waitChild(pid_t pid) {
  for (int i = 0; i < 12000; i++) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

const int kBatch = 50;
const int kBatches = 20;

std::string batchName(int batch, int i) {
  return "e" + std::to_string(batch) + "_" + std::to_string(i);
}

// A reader process: walks Home over and over while loads go on and checks
// that it only ever sees whole loads, in order.  Exit status: 0 it saw every
// batch, 1 torn or misordered data, 2 a failed call, 3 it gave up.
int readerProcess(int readyFd) {
  if (!orxdb_open() || write(readyFd, "r", 1) != 1) return 2;
  close(readyFd);
  for (time_t giveUp = time(nullptr) + 120; time(nullptr) < giveUp;) {
    orxdb_enumeration* h = orxdb_enumerate_elements("Home", 0);
    if (h == nullptr) return 2;
    int count = 0;
    std::string last;
    for (const char* n; (n = orxdb_get_next_element(h)) != nullptr; count++, last = n)
      if (batchName(count / kBatch, count % kBatch) != n) return 1;
    orxdb_free_enumeration_handle(h);
    if (count % kBatch != 0) return 1;
    orxdb_buffer b;
    if (count > 0 && !orxdb_read(last.c_str(), &b)) return 2;
    if (count > 0 && orxdb_get_property(&b, "batch", 0).i32 != count / kBatch - 1) return 1;
    if (count == kBatch * kBatches) return 0;
  }
  return 3;
}

TEST_F(OrxdbLoadTest, ReadersSeeWholeLoadsWhileAWriterLoads) {
  ASSERT_EQ("", load("busy", "element Home view.root\n"));
  setenv("ORX_NAME", "busy", 1);
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t readers[2];
  for (pid_t& pid : readers) ASSERT_NE(-1, pid = spawn([&fds] { return readerProcess(fds[1]); }));
  close(fds[1]);
  // Start writing once both readers have the database open.
  for (int ready = 0; ready < 2; ready++) {
    struct pollfd p = {fds[0], POLLIN, 0};
    char c;
    ASSERT_EQ(1, poll(&p, 1, 30000)) << "readers did not start";
    ASSERT_EQ(1, read(fds[0], &c, 1)) << "a reader failed to open";
  }
  close(fds[0]);
  for (int batch = 0; batch < kBatches; batch++) {
    std::string text;
    for (int i = 0; i < kBatch; i++) {
      std::string n = batchName(batch, i);
      text += "element " + n + " component.host\nmember " + n + " Home " + std::to_string(i) +
              " 0 0 0 0\nproperty " + n + " batch " + std::to_string(batch) + "\n";
    }
    ASSERT_EQ("", load("busy", text));
  }
  for (pid_t pid : readers) EXPECT_EQ(0, waitChild(pid));
}

TEST_F(OrxdbLoadTest, ConcurrentLoadsIntoANewDatabaseAllLand) {
  pid_t writers[3];
  for (int w = 0; w < 3; w++)
    ASSERT_NE(-1, writers[w] = spawn([w] {
                    return load("race", "element w" + std::to_string(w) + " t\n").empty() ? 0 : 1;
                  }));
  for (pid_t pid : writers) EXPECT_EQ(0, waitChild(pid));
  ASSERT_NE(0, open("race"));
  orxdb_buffer b;
  for (const char* name : {"w0", "w1", "w2"}) EXPECT_NE(0, orxdb_read(name, &b)) << name;
}

}  // namespace
