#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "orxdb/orxdb_test_util.h"

namespace {

bool exists(const char* name) {
  return std::filesystem::exists(std::string(orxdb_dir()) + "/db." + name);
}

const char* const kBase =
    "element Home view.root\nelement \"Net #2\" view.network\n"
    "element a component.host\nelement b connection.serial\n"
    "member a Home 1 2 3 4 5\nmember \"Net #2\" Home 0 0 0 0 0\nmember a \"Net #2\" -1 -2 -3 -4 -5\n"
    "property a p 1\nproperty a q x\nproperty b serial \"0042\"\nproperty b note \"\"\n"
    "connect a b\nagent a snmp 1 text\nagent a icmp 0\nagent a none 1 \"\"\n";

typedef OrxdbRootTest OrxdbLoadTest;

TEST_F(OrxdbLoadTest, BadLineStoresNothingOfTheFile) {
  ASSERT_EQ("", load("db1", kBase));
  std::string before = dump("db1");
  ASSERT_NE("", before);
  const struct { const char* text; const char* error; } bad[] = {
      {"element c t\nmember c Home\nproperty c x \"open\n", "test.orx:3: unterminated quote"},
      {"element d t\nmember d Nowhere\nmember b Home\n", "test.orx:2: unknown element \"Nowhere\""},
      {"element a component.host\nelement a component.router\n",
       "test.orx:2: element \"a\" already has type \"component.host\""}};
  for (const auto& c : bad) EXPECT_EQ(c.error, load("db1", c.text));
  EXPECT_EQ(before, dump("db1"));
  // A bad file does not even create the database.
  EXPECT_EQ("test.orx:2: unknown element \"y\"", load("db2", "element x t\nmember y Home\n"));
  EXPECT_FALSE(exists("db2"));
}

TEST_F(OrxdbLoadTest, LaterLoadsChangeInPlaceAndTheDumpLoadsBackToTheSameDatabase) {
  ASSERT_EQ("", load("db1", kBase));
  ASSERT_EQ("", load("db1",
                     "element c component.host\n"
                     "element a component.host\n"     // same type: nothing changes
                     "member c Home\n"
                     "member a Home\n"                // placement removed, place kept
                     "member b Home 9 9 9 9 9\n"
                     "property a p 7\n"               // new value, place kept
                     "property a r -7\n"
                     "agent a snmp 0\n"               // text removed
                     "color a 1 2 3\n"
                     "color a 4 5 6\n"));
  // Elements, properties, colours, members, connections, agents, each in
  // load order, words quoted only where needed.
  const std::string dumped =
      "element Home view.root\n"
      "element \"Net #2\" view.network\n"
      "element a component.host\n"
      "element b connection.serial\n"
      "element c component.host\n"
      "property a p 7\n"
      "property a q x\n"
      "property b serial \"0042\"\n"
      "property b note \"\"\n"
      "property a r -7\n"
      "color a 4 5 6\n"
      "member a Home\n"
      "member \"Net #2\" Home 0 0 0 0 0\n"
      "member a \"Net #2\" -1 -2 -3 -4 -5\n"
      "member c Home\n"
      "member b Home 9 9 9 9 9\n"
      "connect a b\n"
      "agent a snmp 0\n"
      "agent a icmp 0\n"
      "agent a none 1 \"\"\n";
  EXPECT_EQ(dumped, dump("db1"));
  ASSERT_EQ("", load("copy", dumped));
  EXPECT_EQ(dumped, dump("copy"));
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
  EXPECT_FALSE(exists("empty"));
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
  for (int i = 0, status; i < 12000; i++, usleep(10000))
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

const int kBatch = 50, kBatches = 20;

std::string batchName(int batch, int i) {
  return "e" + std::to_string(batch) + "_" + std::to_string(i);
}

// A reader process: opens its own connection (the parent's is not its to
// use), then walks Home over and over while loads go on and checks that it
// only ever sees whole loads, in order.  Exit status: 0 it saw every batch,
// 1 torn or misordered data, 2 a failed call, 3 it gave up, 4 it could read
// through the parent's connection.
int readerProcess(int readyFd) {
  orxdb_buffer b;
  if (orxdb_read("Home", &b) != 0 || orx_error != ORX_ENOTOPEN) return 4;
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
    if (count > 0 && !orxdb_read(last.c_str(), &b)) return 2;
    if (count > 0 && orxdb_get_property(&b, "batch", 0).i32 != count / kBatch - 1) return 1;
    if (count == kBatch * kBatches) return 0;
  }
  return 3;
}

TEST_F(OrxdbLoadTest, ForkedReadersOpenTheirOwnAndSeeWholeLoadsWhileAWriterLoads) {
  ASSERT_EQ("", load("busy", "element Home view.root\n"));
  ASSERT_NE(0, open("busy"));
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t readers[2];
  for (pid_t& pid : readers) ASSERT_NE(-1, pid = spawn([&fds] { return readerProcess(fds[1]); }));
  close(fds[1]);
  // Start writing once both readers have the database open (a reader that
  // ends first closes its end of the pipe, so the reads cannot hang).
  char ready[2];
  for (char& c : ready) ASSERT_EQ(1, read(fds[0], &c, 1)) << "a reader failed to open";
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
  orxdb_buffer b;  // the parent's connection still works
  EXPECT_NE(0, orxdb_read(batchName(kBatches - 1, 0).c_str(), &b));
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
