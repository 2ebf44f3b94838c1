#include "attribute.h"

#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "log.h"
#include "parser_driver.h"

// The daemon's fatal start-up message goes to syslog; this test binary
// replaces syslog so that the message can be checked on standard error.
extern "C" void syslog(int priority, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  fprintf(stderr, "syslog(%d): ", priority);
  vfprintf(stderr, format, ap);
  fprintf(stderr, "\n");
  va_end(ap);
}

namespace {

namespace fs = std::filesystem;

class SchemaTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/ovi_schema_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    root_ = tmpl;
    setenv("OVI_ROOT", root_.c_str(), 1);
    free_attribute_lists();
  }
  void TearDown() override {
    free_attribute_lists();
    proxy_trace_level = 0;
    unsetenv("OVI_ROOT");
    fs::remove_all(root_);
  }

  // Writes a file at a fixed path below the temporary root.
  void write(const std::string& fixedPath, const std::string& content) {
    fs::path p = root_ + fixedPath;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << content;
  }
  void configure(const std::string& dirs) {
    write("/etc/opt/ZEPHline/orx/orx.conf", "# schema directories\nqm.snmp.schemas " + dirs + "\n");
  }
  // Loads one schema file written below the root.
  int load(const std::string& fixedPath, const std::string& content) {
    write(fixedPath, content);
    return db_load((root_ + fixedPath).c_str(), nullptr, nullptr);
  }
  // What body writes to standard output.
  static std::string capture(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
  }

  std::string root_;
};

TEST_F(SchemaTablesTest, ReadsGlueStructThenDirectoryForEachDirectoryInTurn) {
  configure("/opt/one/agents:/nowhere:/opt/two/agents");
  write("/opt/one/struct/orx.glue", "enum color ( 1 glue )\n");
  write("/opt/one/struct/b.schema", "enum color ( 1 struct )\n");
  write("/opt/one/struct/a.schema", "record elem ( int one )\n");
  write("/opt/one/agents/z.schema", "enum shape ( 1 square )\n");
  write("/opt/one/agents/notes.schema.orig", "enum shape ( 1 orig )\n");
  write("/opt/one/agents/SCCS/s.z.schema", "enum shape ( 1 sccs )\n");
  write("/opt/two/struct/orx.glue", "record elem ( int two )\n");
  write("/opt/two/agents/a.schema", "enum shape ( 1 circle )\n");
  proxy_trace_level = 3;
  std::string expected;
  for (const char* read : {"one/agents/../struct/orx.glue", "one/agents/../struct/a.schema",
                           "one/agents/../struct/b.schema", "one/agents/z.schema",
                           "two/agents/../struct/orx.glue", "two/agents/a.schema"})
    expected += "[" + std::to_string(getpid()) + "] ovi_sender: Processing " + root_ + "/opt/" +
                read + "\n";
  EXPECT_EQ(expected, capture(build_attribute_lists));  // missing directories without a word
  // First of two equal names wins: the glue file's enum, the first record.
  EXPECT_EQ("glue", getAttrValues("color")->entries.at(0).name);
  EXPECT_EQ("square", getAttrValues("shape")->entries.at(0).name);
  EXPECT_EQ("one", getAttributes("elem")->names.at(0));
}

TEST_F(SchemaTablesTest, OnlyNamesEndingInDotSchemaAreReadAndSccsIsSkipped) {
  const char* names[] = {"a.schema", ".schema", "b.schema.bak", "c.SCHEMA", "dschema", "schema",
                         "e.old.schema", "SCCS"};
  for (const char* n : names)
    write(std::string("/d/") + n,
          std::string("record r ( int ") + (n[0] == '.' ? "dot" : n) + " )\n");
  fs::create_directories(root_ + "/d/f.schema");  // a directory yields nothing
  std::string dir = root_ + "/d";
  for (const char* n : names) process_schema(dir.c_str(), n);
  process_schema(dir.c_str(), "f.schema");
  process_schema(dir.c_str(), "missing.schema");
  // Only the first record r is found; count the records by listing them.
  EXPECT_EQ("Object: r\n\t3:a.schema\nObject: r\n\t3:dot\nObject: r\n\t3:e.old.schema\n",
            capture(list_all_attributes));

  write("/d/SCCS", "enum e ( 1 x )\n");
  EXPECT_EQ(0, process_file((root_ + "/d/SCCS").c_str(), nullptr));
  EXPECT_EQ(nullptr, getAttrValues("e"));
  EXPECT_EQ(1, db_load((root_ + "/d/none.schema").c_str(), nullptr, nullptr));
  EXPECT_EQ(0, db_load((root_ + "/d/SCCS").c_str(), nullptr, nullptr));  // db_load reads any file
  EXPECT_NE(nullptr, getAttrValues("e"));
  EXPECT_EQ(-1, db_stdio_getchar());
}

TEST_F(SchemaTablesTest, TranslateEnum) {
  ASSERT_EQ(0, load("/s/a.schema",
                    "enum status ( 1 up 2 down -5 broken )\n"
                    "agent ag ( group g ( enum status status enum status status int plain ) )\n"
                    "agent ag2 ( group g ( enum dup dup enum status dup ) )\n"
                    "agent ag3 ( group g ( enum later late ) )\n"
                    "enum later ( 1 one )\n"));
  EXPECT_STREQ("down", translateEnum("status", 2));
  EXPECT_STREQ("broken", translateEnum("status", -5));
  EXPECT_EQ(nullptr, translateEnum("status", 3));        // value not in the enumeration
  EXPECT_STREQ("-7", translateEnum("plain", -7));        // not enumerated: the decimal text
  EXPECT_STREQ("1", translateEnum("Status", 1));         // names compare exactly
  // "dup" first refers to an enumeration that does not exist; the second
  // "dup" (linked to status) is never consulted.
  EXPECT_EQ(nullptr, translateEnum("dup", 1));
  // An enumeration read after the attribute that names it is never linked.
  EXPECT_EQ(nullptr, translateEnum("late", 1));
  EXPECT_NE(nullptr, getAttrValues("later"));
}

TEST_F(SchemaTablesTest, TablesAreCutAtTheirLimits) {
  std::string values, fields;
  for (int i = 0; i < 1100; i++) {
    values += std::to_string(i) + " v" + std::to_string(i) + "\n";
    fields += "int f" + std::to_string(i) + "\n";
  }
  ASSERT_EQ(0,
            load("/s/big.schema", "enum big (\n" + values + ")\nrecord big (\n" + fields + ")\n"));
  EXPECT_EQ(1024, getAttrValues("big")->count());
  EXPECT_EQ("v1023", getAttrValues("big")->entries.back().name);
  EXPECT_EQ(1024, getAttributes("big")->count());
  EXPECT_EQ("f1023", getAttributes("big")->names.back());
  // Names given to the callbacks directly are held to the table's room.
  std::string longName(100, 'n');
  dbparse_beginEnumeration(longName.c_str(), 0);
  EXPECT_NE(nullptr, getAttrValues(longName.substr(0, 79).c_str()));
  dbparse_newRecord(longName.c_str());
  EXPECT_NE(nullptr, getAttributes(longName.substr(0, 64).c_str()));
}

TEST_F(SchemaTablesTest, MissingSchemaEntryIsFatal) {
  for (const char* conf : {"", "other.key /x\n", "qm.snmp.schemas \n", "qm.snmp.schemas :::\n"}) {
    if (conf[0] != '\0') write("/etc/opt/ZEPHline/orx/orx.conf", conf);  // "": no orx.conf
    EXPECT_EXIT(build_attribute_lists(), ::testing::ExitedWithCode(1),
                "syslog\\(3\\): ovi_sender : error in orx.conf,  please check the "
                "qm.snmp.schemas entry")
        << conf;
  }
}

// The checker's listing: enumerated attributes with their values (by
// index), then every record layout, equal names included; syntax errors
// named on standard error.
TEST_F(SchemaTablesTest, CheckerListingReportsWhatTheDirectoriesYield) {
  configure("/opt/a/agents");
  write("/opt/a/struct/elements.schema",
        "record component.router ( name Name enum status state string[32] label objectid oid )\n"
        "record component.router ( int other )\n");
  write("/opt/a/agents/ag.schema",
        "enum status ( 1 up 2 down )\nagent ag ( group g ( enum status state enum nothing "
        "orphan ) )\nbroken here\n");
  testing::internal::CaptureStderr();
  std::string out = capture([] { EXPECT_EQ(1, list_schema_tables("ovi_filtercheck")); });
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ("Object: state\n\t0:up\n\t1:down\nObject: orphan\n"
            "Object: component.router\n\t22:Name\n\t21:state\n\t10:label\n\t23:oid\n"
            "Object: component.router\n\t3:other\n",
            out);
  EXPECT_EQ("ovi_filtercheck: " + root_ + "/opt/a/agents/ag.schema:3: syntax error\n", err);
  EXPECT_EQ(nullptr, getAttributes("component"));  // names compare whole
}

}  // namespace
