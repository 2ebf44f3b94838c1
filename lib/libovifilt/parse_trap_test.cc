#include "parse_trap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_root.h"
#include "trap_limits.h"

namespace {

using Strings = std::vector<std::string>;

class TrapFileTest : public OviRootTest {
 protected:
  // The next entry under the cursor as "enterprise|traps|oid", or "<end>".
  static std::string next() {
    char e[OVI_TRAP_FIELD_SIZE], t[OVI_TRAP_FIELD_SIZE], o[OVI_TRAP_FIELD_SIZE];
    if (!ovi_get_trap_entry(e, t, o)) return "<end>";
    return std::string(e) + "|" + t + "|" + o;
  }
  // The entries of a selected cached file.
  static Strings entriesOf(const std::string& name) {
    if (ovi_open_trap_file(name.c_str()) != 0) return {"<not selected>"};
    Strings out;
    for (std::string e; (e = next()) != "<end>";) out.push_back(e);
    return out;
  }
};

TEST_F(TrapFileTest, LinesSplitAtPercentSignsAndLongLinesAreCut) {
  write("t",
        "Acme Corp%1-3,7%1.3.6.1.4.1.99\n"
        "no separator\n"
        "one%separator\n"
        "three%fields%oid%with%more\n" +
            std::string(1500, 'e') + "%" + std::string(1000, '9') + "%x\n"
        "last%4%1.2");
  ASSERT_EQ(1, ovi_add_trap_file_to_cache("t"));
  // 2056 characters per read: the first read of the long line holds one "%"
  // only and its name is cut to 1023; the rest of the line is an entry of its own.
  EXPECT_EQ((Strings{"Acme Corp|1-3,7|1.3.6.1.4.1.99", "||", "one||", "three|fields|oid%with%more",
                     std::string(1023, 'e') + "||", std::string(445, '9') + "||", "last|4|1.2"}),
            entriesOf("t"));
}

TEST_F(TrapFileTest, FilesAreCachedOnceByExactNameAndTheCursorWalksTheSelectedOne) {
  write("t1", "a%1%1.1\nb%2%2.2\n");
  write("t2", "c%3%3.3\n");
  EXPECT_EQ(-1, ovi_open_trap_file("missing"));  // the cache was empty, adding failed...
  EXPECT_EQ(Strings{}, entriesOf("missing"));    // ...yet the file is cached, empty
  ovi_free_trap_file_cache(0);
  EXPECT_EQ(0, ovi_open_trap_file("t1"));  // the cache was empty: added
  EXPECT_EQ("a|1|1.1", next());
  EXPECT_EQ(1, ovi_open_trap_file("t2"));  // not added once the cache holds a file...
  EXPECT_EQ("b|2|2.2", next());            // ...and the cursor stays where it was
  EXPECT_EQ("<end>", next());
  EXPECT_EQ("<end>", next());
  ASSERT_EQ(0, ovi_open_trap_file("t1"));
  ovi_close_trap_file();
  EXPECT_EQ("<end>", next());
  // A cached file is not read again; an absolute name is another entry.
  write("t1", "x%9%9.9\n");
  EXPECT_EQ(1, ovi_add_trap_file_to_cache("t1"));
  EXPECT_EQ((Strings{"a|1|1.1", "b|2|2.2"}), entriesOf("t1"));
  EXPECT_EQ(1, ovi_add_trap_file_to_cache(dataPath("t1").c_str()));
  EXPECT_EQ((Strings{"x|9|9.9"}), entriesOf(dataPath("t1")));
  EXPECT_EQ(0, ovi_add_trap_file_to_cache("-"));
  EXPECT_EQ(7, ovi_free_trap_file_cache(7));
  EXPECT_EQ(1, ovi_free_trap_file_cache(7));  // already empty
}

using EnterpriseListTest = OviRootTest;

TEST_F(EnterpriseListTest, SortedByNameAfterThePseudoEnterprisesAndKeptWhenTheFileGoes) {
  const std::string n80(80, 'n');
  std::string path = write("/opt/ZEPHline/orx/agents/enterprises.oid",
                           "# enterprises\n"
                           "\"Zeta\" \"1.3.6.1.4.1.3\"\n"
                           " \"indented lines are comments\" \"1\"\n"
                           "\"  alpha\"\t\"  1.3.6.1.4.1.1\"\n"
                           "\"Mid\" \"1.3.6.1.4.1.2\"\n"
                           "\"mid\" \"1.3.6.1.4.1.4\"\n"
                           "\"No oid\"\n"
                           "\"" + std::string(100, 'n') + "\" \"" + std::string(100, '1') + "\"\n");
  ASSERT_EQ(1, build_enterprise_list_cache(nullptr));
  Strings names;
  for (unsigned i = 0; get_enp_name_from_index(i) != nullptr; i++)
    names.push_back(get_enp_name_from_index(i));
  EXPECT_EQ((Strings{OVI_ALL_ENTERPRISE_TRAPS, OVI_STANDARD_TRAPS, "alpha", "Mid", "mid", n80,
                     "No oid", "Zeta"}),
            names);
  EXPECT_EQ(2, get_index_from_enp_name("alpha"));
  EXPECT_EQ(-1, get_index_from_enp_name("ALPHA"));
  EXPECT_STREQ("1.3.6.1.4.1.1", get_oid_from_name("alpha"));
  EXPECT_STREQ("1.3.6.1.4.1.4", get_oid_from_name("mid"));
  EXPECT_EQ(std::string(82, '1'), get_oid_from_name(n80.c_str()));
  EXPECT_STREQ("", get_oid_from_name(OVI_STANDARD_TRAPS));
  EXPECT_STREQ("", get_oid_from_name("nobody"));
  remove(path.c_str());
  char message[256] = "";
  EXPECT_EQ(0, build_enterprise_list_cache(message));
  EXPECT_EQ("Unable to open the file " + path + ".\n", std::string(message));
  EXPECT_EQ(2, get_index_from_enp_name("alpha"));
  free_enterprise_list_cache();
  EXPECT_EQ(nullptr, get_enp_name_from_index(0));
}

}  // namespace
