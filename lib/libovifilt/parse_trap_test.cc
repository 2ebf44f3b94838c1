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
  // The entries of a selected cached file, each as "enterprise|traps|oid".
  Strings entriesOf(const char* name) {
    Strings out;
    if (ovi_open_trap_file(name) != 0) return {"<not selected>"};
    char e[OVI_TRAP_FIELD_SIZE], t[OVI_TRAP_FIELD_SIZE], o[OVI_TRAP_FIELD_SIZE];
    while (ovi_get_trap_entry(e, t, o)) out.push_back(std::string(e) + "|" + t + "|" + o);
    return out;
  }
};

TEST_F(TrapFileTest, LinesSplitAtPercentSigns) {
  write("t",
        "Acme Corp%1-3,7%1.3.6.1.4.1.99\n"
        "no separator\n"
        "one%separator\n"
        "\n"
        "three%fields%oid%with%more\n"
        "last%4%1.2");
  ASSERT_EQ(1, ovi_add_trap_file_to_cache("t"));
  EXPECT_EQ((Strings{"Acme Corp|1-3,7|1.3.6.1.4.1.99", "||", "one||", "||",
                     "three|fields|oid%with%more", "last|4|1.2"}),
            entriesOf("t"));
}

TEST_F(TrapFileTest, LongLinesAreCutAndTheirRestReadAsALine) {
  std::string line = std::string(1500, 'e') + "%" + std::string(1000, '9') + "%x\n";
  write("t", line);
  ASSERT_EQ(1, ovi_add_trap_file_to_cache("t"));
  Strings entries = entriesOf("t");
  ASSERT_EQ(2u, entries.size());
  // 2056 characters per read: the first read holds one "%" only and its
  // name is cut to 1023; the rest of the line follows as its own entry.
  EXPECT_EQ(std::string(1023, 'e') + "||", entries[0]);
  EXPECT_EQ(std::string(445, '9') + "||", entries[1]);
}

TEST_F(TrapFileTest, FileIsCachedOnceUnderItsName) {
  write("t", "a%1%1.1\n");
  ASSERT_EQ(1, ovi_add_trap_file_to_cache("t"));
  write("t", "b%2%2.2\n");
  EXPECT_EQ(1, ovi_add_trap_file_to_cache("t"));
  EXPECT_EQ((Strings{"a|1|1.1"}), entriesOf("t"));
  EXPECT_EQ(0, ovi_add_trap_file_to_cache("-"));
  // An absolute name is another cache entry, read from where it points.
  EXPECT_EQ(1, ovi_add_trap_file_to_cache(dataPath("t").c_str()));
  EXPECT_EQ((Strings{"b|2|2.2"}), entriesOf(dataPath("t").c_str()));
}

TEST_F(TrapFileTest, UnreadableFileIsCachedEmpty) {
  EXPECT_EQ(0, ovi_add_trap_file_to_cache("missing"));
  EXPECT_EQ(Strings{}, entriesOf("missing"));
}

TEST_F(TrapFileTest, SelectingAddsOnlyIntoAnEmptyCache) {
  write("t1", "a%1%1.1\nb%2%2.2\n");
  write("t2", "c%3%3.3\n");
  EXPECT_EQ(-1, ovi_open_trap_file("missing"));
  ovi_free_trap_file_cache(0);
  EXPECT_EQ(0, ovi_open_trap_file("t1"));  // the cache was empty: added
  EXPECT_EQ(1, ovi_open_trap_file("t2"));  // not added once the cache holds a file
  EXPECT_EQ(7, ovi_free_trap_file_cache(7));
  EXPECT_EQ(1, ovi_free_trap_file_cache(7));  // already empty
}

TEST_F(TrapFileTest, CursorWalksOnceAndStaysOnFailedSelect) {
  write("t1", "a%1%1.1\nb%2%2.2\n");
  ASSERT_EQ(1, ovi_add_trap_file_to_cache("t1"));
  ASSERT_EQ(0, ovi_open_trap_file("t1"));
  char e[OVI_TRAP_FIELD_SIZE], t[OVI_TRAP_FIELD_SIZE], o[OVI_TRAP_FIELD_SIZE];
  ASSERT_EQ(1, ovi_get_trap_entry(e, t, o));
  EXPECT_STREQ("a", e);
  EXPECT_EQ(1, ovi_open_trap_file("other"));
  ASSERT_EQ(1, ovi_get_trap_entry(e, t, o));
  EXPECT_STREQ("b", e);
  EXPECT_EQ(0, ovi_get_trap_entry(e, t, o));
  EXPECT_EQ(0, ovi_get_trap_entry(e, t, o));
  ASSERT_EQ(0, ovi_open_trap_file("t1"));
  EXPECT_EQ(1, ovi_get_trap_entry(e, t, o));
  ovi_close_trap_file();
  EXPECT_EQ(0, ovi_get_trap_entry(e, t, o));
}

class EnterpriseListTest : public OviRootTest {
 protected:
  Strings names() {
    Strings out;
    for (unsigned i = 0; get_enp_name_from_index(i) != nullptr; i++)
      out.push_back(get_enp_name_from_index(i));
    return out;
  }
  static constexpr const char* kPath = "/opt/ZEPHline/orx/agents/enterprises.oid";
};

TEST_F(EnterpriseListTest, SortedByNameWithPseudoEnterprisesFirst) {
  write(kPath,
        "# enterprises\n"
        "\"Zeta\" \"1.3.6.1.4.1.3\"\n"
        " \"indented lines are comments\" \"1\"\n"
        "\"  alpha\"\t\"  1.3.6.1.4.1.1\"\n"
        "\"Mid\" \"1.3.6.1.4.1.2\"\n"
        "\"mid\" \"1.3.6.1.4.1.4\"\n"
        "\"No oid\"\n");
  char message[256] = "";
  ASSERT_EQ(1, build_enterprise_list_cache(message));
  EXPECT_EQ((Strings{OVI_ALL_ENTERPRISE_TRAPS, OVI_STANDARD_TRAPS, "alpha", "Mid", "mid", "No oid",
                     "Zeta"}),
            names());
  EXPECT_EQ(2, get_index_from_enp_name("alpha"));
  EXPECT_EQ(-1, get_index_from_enp_name("ALPHA"));
  EXPECT_STREQ("1.3.6.1.4.1.1", get_oid_from_name("alpha"));
  EXPECT_STREQ("1.3.6.1.4.1.4", get_oid_from_name("mid"));
  EXPECT_STREQ("", get_oid_from_name(OVI_STANDARD_TRAPS));
  EXPECT_STREQ("", get_oid_from_name("nobody"));
  EXPECT_EQ(nullptr, get_enp_name_from_index(7));
}

TEST_F(EnterpriseListTest, FieldsAreCut) {
  write(kPath, "\"" + std::string(100, 'n') + "\" \"" + std::string(100, '1') + "\"\n");
  ASSERT_EQ(1, build_enterprise_list_cache(nullptr));
  EXPECT_EQ(80u, std::string(get_enp_name_from_index(2)).size());
  EXPECT_EQ(82u, std::string(get_oid_from_name(get_enp_name_from_index(2))).size());
}

TEST_F(EnterpriseListTest, MissingFileKeepsThePreviousList) {
  std::string path = write(kPath, "\"Acme\" \"1.2\"\n");
  ASSERT_EQ(1, build_enterprise_list_cache(nullptr));
  remove(path.c_str());
  char message[256] = "";
  EXPECT_EQ(0, build_enterprise_list_cache(message));
  EXPECT_EQ("Unable to open the file " + path + ".\n", std::string(message));
  EXPECT_EQ(2, get_index_from_enp_name("Acme"));
  free_enterprise_list_cache();
  EXPECT_EQ(nullptr, get_enp_name_from_index(0));
}

}  // namespace
