#include "orxdb/orxdb.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "orxdb/orxdb_test_util.h"

namespace {

const char* const kStation =
    "# a small station\n"
    "element Home view.root\n"
    "element Net1 view.network\n"
    "element Empty view.network\n"
    "element router7 component.router\n"
    "element host3 component.host\n"
    "element link1 connection.serial\n"
    "member Net1 Home 10 20 0 110 120\n"
    "member router7 Home 1 2 3 4 5\n"
    "member Empty Home\n"
    "member router7 Net1\n"
    "member host3 Net1 7 8 9 10 11\n"
    "member link1 Net1\n"
    "property router7 ifNumber 4\n"
    "property router7 location \"Machine room 2\"\n"
    "property router7 serial \"0042\"\n"
    "property router7 offset -2\n"
    "property router7 counter 4294967295\n"
    "property link1 Object1 router7\n"
    "property link1 Object2 host3\n"
    "color router7 255 0 128\n"
    "connect router7 link1\n"
    "connect host3 link1\n"
    "agent router7 snmp 1 \"public:161\"\n"
    "agent router7 icmp 0\n"
    "agent router7 empty 2 \"\"\n";

std::vector<std::string> listOf(char** list) {
  std::vector<std::string> names;
  for (char** p = list; p != nullptr && *p != nullptr; p++) names.push_back(*p);
  orxdb_free_list(list);
  return names;
}

std::vector<std::string> elementsOf(const char* view) {
  std::vector<std::string> names;
  orxdb_enumeration* h = orxdb_enumerate_elements(view, 0);
  EXPECT_NE(nullptr, h) << view;
  for (const char* n; (n = orxdb_get_next_element(h)) != nullptr;) names.push_back(n);
  EXPECT_EQ(nullptr, orxdb_get_next_element(h));  // stays at the end
  orxdb_free_enumeration_handle(h);
  return names;
}

typedef std::vector<std::string> Names;

class OrxdbReadTest : public OrxdbRootTest {
 protected:
  void SetUp() override {
    OrxdbRootTest::SetUp();
    ASSERT_EQ("", load("station", kStation));
    ASSERT_NE(0, open("station"));
  }
};

TEST_F(OrxdbReadTest, ReadsElementsAndRefusesMissingOnes) {
  orxdb_buffer b;
  ASSERT_NE(0, orxdb_read("link1", &b));
  EXPECT_STREQ("connection.serial", orxdb_get_element_type(&b));
  EXPECT_EQ(0, orxdb_read("router8", &b));
  EXPECT_EQ(ORX_ENOTFOUND, orx_error);
  EXPECT_EQ(nullptr, orxdb_get_element_type(&b));
  EXPECT_EQ(0, orxdb_read(std::string(300, 'x').c_str(), &b));
  EXPECT_EQ(ORX_ENOTFOUND, orx_error);
  // The calls on a failed read's buffer refuse rather than answer for the
  // element read before.
  orx_error = 0;
  EXPECT_EQ(nullptr, orxdb_enumerate_views(&b));
  EXPECT_EQ(ORX_EINVAL, orx_error);
  EXPECT_EQ(0, orxdb_get_color(&b, nullptr, nullptr, nullptr));
  EXPECT_EQ(0, orxdb_read(nullptr, &b));
  EXPECT_EQ(ORX_EINVAL, orx_error);
}

TEST_F(OrxdbReadTest, ElementInTwoViewsWithAndWithoutPlacement) {
  orxdb_buffer b;
  ASSERT_NE(0, orxdb_read("router7", &b));
  EXPECT_EQ((Names{"Home", "Net1"}), listOf(orxdb_enumerate_views(&b)));
  int v[5] = {-1, -1, -1, -1, -1};
  ASSERT_NE(0, orxdb_get_view(&b, "Home", &v[0], &v[1], &v[2], &v[3], &v[4]));
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), std::vector<int>(v, v + 5));
  orx_error = 0;
  EXPECT_EQ(0, orxdb_get_view(&b, "Net1", &v[0], &v[1], &v[2], &v[3], &v[4]));
  EXPECT_EQ(0, orxdb_get_view(&b, "Empty", &v[0], &v[1], &v[2], &v[3], &v[4]));
  EXPECT_EQ(0, orxdb_get_view(&b, "nowhere", &v[0], &v[1], &v[2], &v[3], &v[4]));
  EXPECT_EQ(0, orx_error);  // finding nothing is not a failure

  ASSERT_NE(0, orxdb_read("Home", &b));
  EXPECT_EQ(nullptr, orxdb_enumerate_views(&b));  // the root is in no view
}

TEST_F(OrxdbReadTest, PropertiesByKind) {
  orxdb_buffer b;
  ASSERT_NE(0, orxdb_read("router7", &b));
  orxdb_value v = orxdb_get_property(&b, "ifNumber", 0);
  EXPECT_EQ(4, v.i32);
  EXPECT_EQ(4, v.i16);
  v = orxdb_get_property(&b, "offset", 0);
  EXPECT_EQ(-2, v.i16);
  EXPECT_EQ(-2, v.i32);
  v = orxdb_get_property(&b, "counter", 0);
  EXPECT_EQ(0xFFFFFFFFu, v.u32);
  EXPECT_EQ(0xFFFFu, v.u16);

  // Texts stay valid together until the next read.
  const char* location = orxdb_get_property(&b, "location", 0).text;
  const char* serial = orxdb_get_property(&b, "serial", 0).text;
  ASSERT_NE(nullptr, location);
  ASSERT_NE(nullptr, serial);
  EXPECT_STREQ("Machine room 2", location);
  EXPECT_STREQ("0042", serial);  // quoted digits are a text

  v = orxdb_get_property(&b, "absent", 0);
  EXPECT_EQ(nullptr, v.text);
  for (unsigned char byte : v.bytes) EXPECT_EQ(0, byte);

  orx_error = 0;
  EXPECT_EQ(nullptr, orxdb_get_property(&b, "location", 1).text);
  EXPECT_EQ(ORX_EINVAL, orx_error);
}

TEST_F(OrxdbReadTest, PropertyKindTellsIntegersFromTexts) {
  orxdb_buffer b;
  ASSERT_NE(0, orxdb_read("router7", &b));
  EXPECT_EQ(ORXDB_PROPERTY_INTEGER, orxdb_get_property_kind(&b, "ifNumber"));
  EXPECT_EQ(ORXDB_PROPERTY_INTEGER, orxdb_get_property_kind(&b, "offset"));
  EXPECT_EQ(ORXDB_PROPERTY_TEXT, orxdb_get_property_kind(&b, "location"));
  EXPECT_EQ(ORXDB_PROPERTY_TEXT, orxdb_get_property_kind(&b, "serial"));  // quoted digits
  orx_error = 0;
  EXPECT_EQ(ORXDB_PROPERTY_ABSENT, orxdb_get_property_kind(&b, "absent"));
  EXPECT_EQ(ORXDB_PROPERTY_ABSENT, orxdb_get_property_kind(&b, "Location"));  // exact names
  EXPECT_EQ(0, orx_error);  // finding nothing is not a failure

  EXPECT_EQ(ORXDB_PROPERTY_ABSENT, orxdb_get_property_kind(&b, nullptr));
  EXPECT_EQ(ORX_EINVAL, orx_error);
  orxdb_buffer unfilled;
  EXPECT_EQ(0, orxdb_read("router8", &unfilled));
  EXPECT_EQ(ORXDB_PROPERTY_ABSENT, orxdb_get_property_kind(&unfilled, "ifNumber"));
  EXPECT_EQ(ORXDB_PROPERTY_ABSENT, orxdb_get_property_kind(nullptr, "ifNumber"));
}

TEST_F(OrxdbReadTest, ConnectionElementAndConnections) {
  orxdb_buffer b;
  ASSERT_NE(0, orxdb_read("link1", &b));
  EXPECT_EQ(0, strncmp("connection", orxdb_get_element_type(&b), 10));
  EXPECT_STREQ("router7", orxdb_get_property(&b, "Object1", 0).text);
  EXPECT_STREQ("host3", orxdb_get_property(&b, "Object2", 0).text);
  EXPECT_EQ(nullptr, orxdb_enumerate_connections(&b));

  ASSERT_NE(0, orxdb_read("host3", &b));
  EXPECT_EQ((Names{"link1"}), listOf(orxdb_enumerate_connections(&b)));
  EXPECT_EQ((Names{"Net1"}), listOf(orxdb_enumerate_views(&b)));
}

TEST_F(OrxdbReadTest, Color) {
  orxdb_buffer b;
  int rgb[3] = {-1, -1, -1};
  ASSERT_NE(0, orxdb_read("router7", &b));
  ASSERT_NE(0, orxdb_get_color(&b, &rgb[0], &rgb[1], &rgb[2]));
  EXPECT_EQ((std::vector<int>{255, 0, 128}), std::vector<int>(rgb, rgb + 3));
  ASSERT_NE(0, orxdb_read("host3", &b));
  EXPECT_EQ(0, orxdb_get_color(&b, &rgb[0], &rgb[1], &rgb[2]));
}

TEST_F(OrxdbReadTest, AgentsWithAndWithoutText) {
  orxdb_buffer b;
  ASSERT_NE(0, orxdb_read("router7", &b));
  EXPECT_EQ((Names{"snmp", "icmp", "empty"}), listOf(orxdb_enumerate_agents(&b)));
  char text[256];
  int indicator = -1;
  memset(text, 0, sizeof text);
  ASSERT_NE(0, orxdb_get_agent(&b, "snmp", &indicator, text));
  EXPECT_EQ(1, indicator);
  EXPECT_STREQ("public:161", text);
  memset(text, 0, sizeof text);
  ASSERT_NE(0, orxdb_get_agent(&b, "icmp", &indicator, text));
  EXPECT_EQ(0, indicator);
  EXPECT_STREQ("", text);
  ASSERT_NE(0, orxdb_get_agent(&b, "empty", &indicator, text));
  EXPECT_EQ(2, indicator);
  EXPECT_STREQ("", text);
  EXPECT_EQ(0, orxdb_get_agent(&b, "cmip", &indicator, text));

  ASSERT_NE(0, orxdb_read("host3", &b));
  EXPECT_EQ(nullptr, orxdb_enumerate_agents(&b));
}

TEST_F(OrxdbReadTest, EnumeratesViewElementsInLoadOrder) {
  EXPECT_EQ((Names{"Net1", "router7", "Empty"}), elementsOf("Home"));
  EXPECT_EQ((Names{"router7", "host3", "link1"}), elementsOf("Net1"));
  EXPECT_EQ(Names{}, elementsOf("Empty"));
  EXPECT_EQ(nullptr, orxdb_get_next_element(nullptr));
  orxdb_free_enumeration_handle(nullptr);
}

TEST_F(OrxdbReadTest, EnumeratingAMissingViewFails) {
  EXPECT_EQ(nullptr, orxdb_enumerate_elements("Nowhere", 0));
  EXPECT_EQ(ORX_ENOTFOUND, orx_error);
  EXPECT_EQ(nullptr, orxdb_enumerate_elements(nullptr, 0));
  EXPECT_EQ(ORX_EINVAL, orx_error);
  EXPECT_EQ(nullptr, orxdb_enumerate_elements("Home", 1));
  EXPECT_EQ(ORX_EINVAL, orx_error);
}

TEST_F(OrxdbReadTest, ChildOfForkOpensItsOwnConnection) {
  pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    orxdb_buffer b;
    // The inherited connection is the parent's: the child must open its own.
    int ok = orxdb_open() && orxdb_read("host3", &b) &&
             strcmp(orxdb_get_element_type(&b), "component.host") == 0;
    orxdb_close();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  orxdb_buffer b;
  EXPECT_NE(0, orxdb_read("router7", &b));  // the parent's connection still works

  // A child that does not open the database cannot use the parent's.
  pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) _exit(orxdb_read("host3", &b) == 0 && orx_error == ORX_ENOTOPEN ? 0 : 1);
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(OrxdbReadTest, BufferAnswersFromTheSnapshotOfItsRead) {
  orxdb_buffer first, second;
  ASSERT_NE(0, orxdb_read("router7", &first));
  ASSERT_EQ("", load("station", "property router7 ifNumber 5\nmember router7 Empty\n"));
  // The buffer read before the load still answers as it was read.
  EXPECT_EQ(4, orxdb_get_property(&first, "ifNumber", 0).i32);
  EXPECT_EQ((Names{"Home", "Net1"}), listOf(orxdb_enumerate_views(&first)));
  ASSERT_NE(0, orxdb_read("router7", &second));
  EXPECT_EQ(5, orxdb_get_property(&second, "ifNumber", 0).i32);
  EXPECT_EQ((Names{"Home", "Net1", "Empty"}), listOf(orxdb_enumerate_views(&second)));
  // An older buffer takes a fresh snapshot when used after a newer read.
  EXPECT_EQ(5, orxdb_get_property(&first, "ifNumber", 0).i32);

  // A buffer filled from another database is refused.
  ASSERT_EQ("", load("other", "element router7 t\n"));
  ASSERT_NE(0, open("other"));
  orx_error = 0;
  EXPECT_EQ(nullptr, orxdb_enumerate_views(&second));
  EXPECT_EQ(ORX_EINVAL, orx_error);
}

TEST_F(OrxdbRootTest, OpenNeedsAnExistingManagementDatabase) {
  orxdb_buffer b;
  EXPECT_EQ(0, orxdb_read("router7", &b));
  EXPECT_EQ(ORX_ENOTOPEN, orx_error);
  EXPECT_EQ(nullptr, orxdb_enumerate_elements("Home", 0));
  EXPECT_EQ(ORX_ENOTOPEN, orx_error);

  EXPECT_EQ(0, orxdb_open());  // ORX_NAME unset
  EXPECT_EQ(ORX_ENONAME, orx_error);
  EXPECT_EQ(0, open("../etc"));
  EXPECT_EQ(ORX_ENONAME, orx_error);
  EXPECT_EQ(0, open("missing"));
  EXPECT_EQ(ORX_ENODB, orx_error);

  std::string junk = std::string(orxdb_dir()) + "/db.junk";
  ASSERT_EQ("", load("good", "element Home view.root\n"));
  FILE* f = fopen(junk.c_str(), "w");
  ASSERT_NE(nullptr, f);
  fputs("not a database\n", f);
  fclose(f);
  EXPECT_EQ(0, open("junk"));
  EXPECT_EQ(ORX_EBADDB, orx_error);
  EXPECT_STRNE("unknown error", orxdb_strerror(orx_error));

  ASSERT_NE(0, open("good"));
  EXPECT_NE(0, orxdb_read("Home", &b));
  EXPECT_EQ(0, open("missing"));  // a failed open leaves nothing open
  EXPECT_EQ(0, orxdb_read("Home", &b));
  EXPECT_EQ(ORX_ENOTOPEN, orx_error);
}

}  // namespace
