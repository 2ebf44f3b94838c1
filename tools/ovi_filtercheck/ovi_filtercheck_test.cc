// Runs the ovi_filtercheck binary on files below a temporary OVI_ROOT.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "test_root.h"

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

class FilterCheckTest : public OviRootTest {
 protected:
  Outcome run(const std::string& args) {
    std::string out = root_ + "/out", err = root_ + "/err";
    int rc = system(("timeout 60 " + std::string(OVI_FILTERCHECK_BIN) + " " + args + " >" + out +
                     " 2>" + err).c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, contents(out), contents(err)};
  }
  // How the checker shows record n with its eight fields.
  static std::string record(int n, const std::vector<std::string>& fields) {
    static const char* const kNames[] = {"keyword", "target", "filterPriority", "newPriority",
                                         "action", "dbTemplateFile", "reportClasses",
                                         "trapTemplateFile"};
    std::string out = "record " + std::to_string(n) + "\n";
    for (int i = 0; i < 8; i++)
      out += "  " + (kNames[i] + std::string(17, ' ')).substr(0, 17) + "\"" + fields[i] + "\"\n";
    return out;
  }
  static bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
};

TEST_F(FilterCheckTest, PrintsRecordsWithDefaultsAndTheFilesTheyName) {
  write("t.db", "added membership\ndeleted drop\n");
  write("traps.lst", "---Standard Traps---------%All%\n");
  write("f",
        "# operators' filter\n"
        "hostname alpha low high pass t.db\n"
        "default \"\" - - drop t.db traps traps.lst\n");
  Outcome r = run("f");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err);
  EXPECT_EQ("filter file \"f\" (" + dataPath("f") + ")\n" +
                record(1, {"hostname", "alpha", "low", "high", "pass", "t.db", "all", "-"}) +
                record(2, {"default", "", "-", "-", "drop", "t.db", "traps", "traps.lst"}) +
                "2 records\n"
                "db template file \"t.db\" (" + dataPath("t.db") + "): read, 2 entries\n"
                "trap template file \"traps.lst\" (" + dataPath("traps.lst") +
                "): read, 1 entry\n"
                "registration: accepted\n",
            r.out);
}

TEST_F(FilterCheckTest, UnreadableTemplatesAreShownAndFailTheCheck) {
  write("f",
        "hostname a - - pass missing.db all missing.lst\n"
        "hostname b - - pass\n"
        "Hostnames c - - pass x.db bogus\n");
  Outcome r = run("f");
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(has(r.out, "db template file \"missing.db\" (" + dataPath("missing.db") +
                             "): cannot be read: No such file or directory\n"))
      << r.out;
  EXPECT_TRUE(has(r.out, "db template file \"\": no file named\n"));
  EXPECT_TRUE(has(r.out, "trap template file \"missing.lst\" (" + dataPath("missing.lst") +
                             "): cannot be read"));
  EXPECT_TRUE(has(r.out, "registration: refused with \"Can't open trap template file\"\n"));
  EXPECT_TRUE(has(r.out, "note: the keyword is none of"));
  EXPECT_TRUE(has(r.out, "note: the report classes select nothing"));
  EXPECT_EQ("ovi_filtercheck: " + dataPath("f") + ": Can't open trap template file\n", r.err);
}

TEST_F(FilterCheckTest, HostLookUpPerReportKind) {
  write("t.db", "added color\n");
  write("f",
        "hostname other - - pass t.db\n"
        "HOSTNAME Alpha low - pass t.db events\n"
        "default x - - drop t.db glyphs\n");
  Outcome r = run("f alpha");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(has(r.out,
                  "host \"alpha\"\n"
                  "  event reports: hostname record 2 (pass)\n"
                  "  glyph-state traps: no hostname record; default record 3 (drop)\n"
                  "  database-manager traps: hostname record 2 (pass)\n"))
      << r.out;
  EXPECT_TRUE(has(run("f nobody").out,
                  "  event reports: no hostname record and no default record (dropped)\n"));
}

TEST_F(FilterCheckTest, MissingFileAndUsage) {
  Outcome r = run("nofile");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("", r.out);
  EXPECT_EQ("ovi_filtercheck: cannot open filter file " + dataPath("nofile") +
                ": No such file or directory\n",
            r.err);
  for (const char* help : {"--help", "-h"}) {
    r = run(help);
    EXPECT_EQ(0, r.status) << help;
    EXPECT_TRUE(has(r.out, "Usage: ovi_filtercheck")) << help;
  }
  for (const char* bad : {"", "a b c", "--bogus f", "--schemas extra"}) {
    r = run(bad);
    EXPECT_EQ(2, r.status) << bad;
    EXPECT_EQ(0u, r.err.rfind("ovi_filtercheck: ", 0)) << bad;
    EXPECT_EQ(r.err.size() - 1, r.err.find('\n')) << bad;  // one line
  }
}

TEST_F(FilterCheckTest, SchemasPrintsTheTablesTheDaemonWouldLoad) {
  write("/etc/opt/ZEPHline/orx/orx.conf", "qm.snmp.schemas /opt/ZEPHline/orx/agents\n");
  write("/opt/ZEPHline/orx/agents/router.schema",
        "ENUM state ( 1 up 2 down )\n"
        "record component.router ( string[16] Name enum state adminState )\n");
  Outcome r = run("--schemas");
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_TRUE(has(r.out, "Object: component.router\n")) << r.out;
  EXPECT_TRUE(has(r.out, "adminState")) << r.out;
  // A directory that cannot be opened is named, below the station's root.
  write("/etc/opt/ZEPHline/orx/orx.conf",
        "qm.snmp.schemas /opt/ZEPHline/orx/agents:/opt/missing\n");
  r = run("--schemas");
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(has(r.out, "Object: component.router\n")) << r.out;
  EXPECT_EQ("ovi_filtercheck: cannot open schema directory " + root_ +
                "/opt/missing: No such file or directory\n",
            r.err);
  write("/etc/opt/ZEPHline/orx/orx.conf", "# no schema entry\n");
  r = run("--schemas");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(0u, r.err.rfind("ovi_filtercheck: ", 0)) << r.err;
}

}  // namespace
