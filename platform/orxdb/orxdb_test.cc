#include "orxdb/orxdb.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "orxdb/orxdb_test_util.h"

namespace {

const char* const kStation =
    "element Home view.root\nelement Net1 view.network\nelement Empty view.network\n"
    "element router7 component.router\nelement host3 component.host\n"
    "element link1 connection.serial\n"
    "member Net1 Home 10 20 0 110 120\nmember router7 Home 1 2 3 4 5\nmember Empty Home\n"
    "member router7 Net1\nmember host3 Net1 7 8 9 10 11\nmember link1 Net1\n"
    "property router7 ifNumber 4\nproperty router7 location \"Machine room 2\"\n"
    "property router7 offset -2\nproperty router7 counter 4294967295\n"
    "property link1 Object1 router7\nproperty link1 Object2 host3\n"
    "color router7 255 0 128\nconnect router7 link1\nconnect host3 link1\n"
    "agent router7 snmp 1 \"public:161\"\nagent router7 icmp 0\nagent router7 empty 2 \"\"\n";

typedef std::vector<std::string> Names;

Names listOf(char** list) {
  Names names;
  for (char** p = list; p != nullptr && *p != nullptr; p++) names.push_back(*p);
  orxdb_free_list(list);
  return names;
}

// The elements of a view, or {"<null>"} when it cannot be enumerated.
Names elementsOf(const char* view, int flags = 0) {
  orxdb_enumeration* h = orxdb_enumerate_elements(view, flags);
  if (h == nullptr) return {"<null>"};
  Names names;
  for (const char* n; (n = orxdb_get_next_element(h)) != nullptr;) names.push_back(n);
  EXPECT_EQ(nullptr, orxdb_get_next_element(h));  // stays at the end
  orxdb_free_enumeration_handle(h);
  return names;
}

std::string ints(const int* p, int n) {
  std::string out = std::to_string(p[0]);
  for (int i = 1; i < n; i++) out += " " + std::to_string(p[i]);
  return out;
}

// All the calls on a buffer tell of an element, in one line: "TYPE | VIEW[X Y
// Z X1 Y1] VIEW ... | R G B | CONNECTION ... | AGENT:INDICATOR:TEXT ...";
// the orx_error number in brackets when it cannot be read.
std::string describe(const char* name) {
  orxdb_buffer b;
  if (!orxdb_read(name, &b)) return "[" + std::to_string(orx_error) + "]";
  std::string out = std::string(orxdb_get_element_type(&b)) + " |";
  int p[5];
  for (const std::string& v : listOf(orxdb_enumerate_views(&b))) {
    out += " " + v;
    if (orxdb_get_view(&b, v.c_str(), &p[0], &p[1], &p[2], &p[3], &p[4]))
      out += "[" + ints(p, 5) + "]";
  }
  out += orxdb_get_color(&b, &p[0], &p[1], &p[2]) ? " | " + ints(p, 3) + " |" : " | |";
  for (const std::string& c : listOf(orxdb_enumerate_connections(&b))) out += " " + c;
  out += " |";
  for (const std::string& agent : listOf(orxdb_enumerate_agents(&b))) {
    char text[256];
    memset(text, 'x', sizeof text);  // an agent without text must empty it
    if (orxdb_get_agent(&b, agent.c_str(), &p[0], text))
      out += " " + agent + ":" + std::to_string(p[0]) + ":" + text;
  }
  return out;
}

class OrxdbReadTest : public OrxdbRootTest {
 protected:
  void SetUp() override {
    OrxdbRootTest::SetUp();
    ASSERT_EQ("", load("station", kStation));
    ASSERT_NE(0, open("station"));
  }
  orxdb_buffer b_;
};

TEST_F(OrxdbReadTest, EveryCallOnAnElementAndOnAMissingOne) {
  EXPECT_EQ("component.router | Home[1 2 3 4 5] Net1 | 255 0 128 | link1 | snmp:1:public:161 "
            "icmp:0: empty:2:",
            describe("router7"));
  EXPECT_EQ("component.host | Net1[7 8 9 10 11] | | link1 |", describe("host3"));
  EXPECT_EQ("connection.serial | Net1 | | |", describe("link1"));
  EXPECT_EQ("view.root | | | |", describe("Home"));  // the root is in no view
  // Finding nothing (no colour, placement or agent) is not a failure.
  ASSERT_NE(0, orxdb_read("router7", &b_));
  int v[5];
  char text[256];
  for (const char* view : {"Empty", "nowhere"})
    EXPECT_EQ(0, orxdb_get_view(&b_, view, &v[0], &v[1], &v[2], &v[3], &v[4]));
  EXPECT_EQ(0, orxdb_get_agent(&b_, "cmip", &v[0], text));
  EXPECT_EQ(ORX_OK, orx_error);
  EXPECT_EQ("[5]", describe(std::string(300, 'x').c_str()));  // ORX_ENOTFOUND
  // The calls on a failed read's buffer refuse rather than answer for the
  // element read before.
  EXPECT_EQ(0, orxdb_read("router8", &b_));
  EXPECT_EQ(ORX_ENOTFOUND, orx_error);
  EXPECT_EQ(nullptr, orxdb_get_element_type(&b_));
  EXPECT_EQ(0, orxdb_get_color(&b_, &v[0], &v[1], &v[2]));
  EXPECT_EQ(ORXDB_PROPERTY_ABSENT, orxdb_get_property_kind(&b_, "ifNumber"));
  orx_error = 0;
  EXPECT_EQ(nullptr, orxdb_enumerate_views(&b_));
  EXPECT_EQ(ORX_EINVAL, orx_error);
  EXPECT_EQ(0, orxdb_read(nullptr, &b_));
}

TEST_F(OrxdbReadTest, PropertiesByKind) {
  ASSERT_NE(0, orxdb_read("router7", &b_));
  EXPECT_EQ(4, orxdb_get_property(&b_, "ifNumber", 0).i32);
  EXPECT_EQ(-2, orxdb_get_property(&b_, "offset", 0).i16);
  EXPECT_EQ(0xFFFFFFFFu, orxdb_get_property(&b_, "counter", 0).u32);
  EXPECT_EQ(ORXDB_PROPERTY_INTEGER, orxdb_get_property_kind(&b_, "offset"));
  EXPECT_EQ(ORXDB_PROPERTY_TEXT, orxdb_get_property_kind(&b_, "location"));
  EXPECT_EQ(ORXDB_PROPERTY_ABSENT, orxdb_get_property_kind(&b_, "Location"));  // exact names
  orxdb_value v = orxdb_get_property(&b_, "absent", 0);
  for (unsigned char byte : v.bytes) EXPECT_EQ(0, byte);
  EXPECT_EQ(0, orx_error);  // finding nothing is not a failure
  // A connection's ends; texts stay valid together until the next read.
  ASSERT_NE(0, orxdb_read("link1", &b_));
  const char* one = orxdb_get_property(&b_, "Object1", 0).text;
  const char* two = orxdb_get_property(&b_, "Object2", 0).text;
  ASSERT_TRUE(one != nullptr && two != nullptr);
  EXPECT_STREQ("router7", one);
  EXPECT_STREQ("host3", two);
}

TEST_F(OrxdbReadTest, EnumeratesViewElementsInLoadOrder) {
  EXPECT_EQ((Names{"Net1", "router7", "Empty"}), elementsOf("Home"));
  EXPECT_EQ((Names{"router7", "host3", "link1"}), elementsOf("Net1"));
  EXPECT_EQ(Names{}, elementsOf("Empty"));
  EXPECT_EQ(nullptr, orxdb_get_next_element(nullptr));
  const struct { const char* view; int flags, error; } bad[] = {
      {"Nowhere", 0, ORX_ENOTFOUND}, {nullptr, 0, ORX_EINVAL}, {"Home", 1, ORX_EINVAL}};
  for (const auto& c : bad) {
    EXPECT_EQ(Names{"<null>"}, elementsOf(c.view, c.flags));
    EXPECT_EQ(c.error, orx_error);
  }
}

TEST_F(OrxdbReadTest, ReadsSeeEveryCommitAndBuffersTheSnapshotOfTheirRead) {
  orxdb_buffer first, second;
  for (int round = 0; round < 2; round++) {  // the second round is served from memory
    EXPECT_EQ("[5]", describe("late"));
    ASSERT_NE(0, orxdb_read("router7", &first));
    EXPECT_EQ(4, orxdb_get_property(&first, "ifNumber", 0).i32);
  }
  ASSERT_EQ("", load("station",
                     "property router7 ifNumber 6\nmember router7 Empty\n"
                     "element late component.host\nmember late Net1\n"));
  // The buffer read before the load still answers as it was read.
  EXPECT_EQ(4, orxdb_get_property(&first, "ifNumber", 0).i32);
  EXPECT_EQ((Names{"Home", "Net1"}), listOf(orxdb_enumerate_views(&first)));
  ASSERT_NE(0, orxdb_read("router7", &second));
  EXPECT_EQ((Names{"Home", "Net1", "Empty"}), listOf(orxdb_enumerate_views(&second)));
  // An older buffer takes a fresh snapshot when used after a newer read.
  EXPECT_EQ(6, orxdb_get_property(&first, "ifNumber", 0).i32);
  orx_error = ORX_OK;
  EXPECT_EQ("component.host | Net1 | | |", describe("late"));
  EXPECT_EQ(ORX_OK, orx_error);  // success leaves it alone
  // Reads served from memory give each buffer a snapshot of its own.
  ASSERT_NE(0, orxdb_read("router7", &second));
  ASSERT_NE(0, orxdb_read("late", &b_));
  EXPECT_EQ(6, orxdb_get_property(&second, "ifNumber", 0).i32);
  // A buffer filled from another database is refused.
  ASSERT_EQ("", load("other", "element router7 t\n"));
  ASSERT_NE(0, open("other"));
  EXPECT_EQ(nullptr, orxdb_enumerate_views(&second));
  EXPECT_EQ(ORX_EINVAL, orx_error);
}

TEST_F(OrxdbRootTest, MoreElementsThanTheProcessKeepsReadTwiceGiveTheSameAnswers) {
  std::string text = "element Home view.root\n";
  for (int i = 0; i < 700; i++)
    text += "element e" + std::to_string(i) + " t" + std::to_string(i % 7) + "\nproperty e" +
            std::to_string(i) + " n " + std::to_string(i) + "\n";
  ASSERT_EQ("", load("big", text));
  ASSERT_NE(0, open("big"));
  orxdb_buffer b;
  for (int i = 0; i < 2 * 700; i++) {
    std::string name = "e" + std::to_string(i % 700);
    ASSERT_NE(0, orxdb_read(name.c_str(), &b)) << name;
    ASSERT_EQ("t" + std::to_string(i % 7), orxdb_get_element_type(&b));
    ASSERT_EQ(i % 700, orxdb_get_property(&b, "n", 0).i32);
  }
}

TEST_F(OrxdbRootTest, OpenNeedsAnExistingManagementDatabase) {
  orxdb_buffer b;
  EXPECT_EQ(0, orxdb_read("router7", &b));
  EXPECT_EQ(ORX_ENOTOPEN, orx_error);
  EXPECT_EQ(0, orxdb_open());  // ORX_NAME unset
  EXPECT_EQ(ORX_ENONAME, orx_error);
  ASSERT_EQ("", load("good", "element Home view.root\n"));
  std::ofstream(std::string(orxdb_dir()) + "/db.junk") << "not a database\n";
  const struct { const char* name; int error; } bad[] = {
      {"../etc", ORX_ENONAME}, {"missing", ORX_ENODB}, {"junk", ORX_EBADDB}, {"fifo", ORX_EBADDB}};
  // A FIFO would hold the opener until a writer came.
  ASSERT_EQ(0, mkfifo((std::string(orxdb_dir()) + "/db.fifo").c_str(), 0644));
  for (const auto& c : bad) {
    ASSERT_NE(0, open("good"));
    EXPECT_EQ(0, open(c.name)) << c.name;
    EXPECT_EQ(c.error, orx_error) << c.name;
    EXPECT_EQ(0, orxdb_read("Home", &b));  // a failed open leaves nothing open
    EXPECT_EQ(ORX_ENOTOPEN, orx_error);
  }
}

TEST_F(OrxdbRootTest, RefreshFollowsADatabaseReplacedRemovedAndLoadedAgain) {
  ASSERT_EQ("", load("office", "element Home view.root\nelement n1 t.old\n"));
  ASSERT_NE(0, open("office"));
  orxdb_buffer b;
  auto typeOfN1 = [&]() -> std::string {
    return orxdb_read("n1", &b) ? orxdb_get_element_type(&b) : "[" + std::to_string(orx_error) + "]";
  };
  EXPECT_EQ("t.old", typeOfN1());
  EXPECT_NE(0, orxdb_refresh());  // unchanged: still open, still the same answers
  EXPECT_EQ("t.old", typeOfN1());

  // Another database renamed over it.
  ASSERT_EQ("", load("next", "element Home view.root\nelement n1 t.renamed\n"));
  std::string dir = orxdb_dir();
  ASSERT_EQ(0, rename((dir + "/db.next").c_str(), (dir + "/db.office").c_str()));
  EXPECT_EQ("t.old", typeOfN1());  // the open file is the old one until the refresh
  EXPECT_NE(0, orxdb_refresh());
  EXPECT_EQ("t.renamed", typeOfN1());

  // Dropped: nothing is open until it is loaded again.
  std::string error;
  ASSERT_NE(0, orxdb_dropDatabase("office", &error)) << error;
  EXPECT_EQ(0, orxdb_refresh());
  EXPECT_EQ("[" + std::to_string(ORX_ENOTOPEN) + "]", typeOfN1());
  EXPECT_EQ(0, orxdb_refresh());
  ASSERT_EQ("", load("office", "element Home view.root\nelement n1 t.loaded\n"));
  EXPECT_NE(0, orxdb_refresh());
  EXPECT_EQ("t.loaded", typeOfN1());
}

TEST_F(OrxdbRootTest, BetweenRefreshesWhatWasReadIsNotCheckedAgain) {
  ASSERT_EQ("", load("office", "element Home view.root\n"));
  ASSERT_NE(0, open("office"));
  orxdb_buffer b;
  EXPECT_EQ(0, orxdb_read("n2", &b));  // missing, and known to be
  ASSERT_NE(0, orxdb_refresh());
  ASSERT_EQ("", load("office", "element n2 t.new\n"));
  EXPECT_EQ(0, orxdb_read("n2", &b)) << "checked again within the unit of work";
  ASSERT_NE(0, orxdb_refresh());
  ASSERT_NE(0, orxdb_read("n2", &b));
  EXPECT_STREQ("t.new", orxdb_get_element_type(&b));
}

}  // namespace
