#include "parse_dbtmpl.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_root.h"

namespace {

TEST(GetFlagsTest, KeywordsAndAbbreviations) {
  EXPECT_EQ(3, getFlags("membership,color"));
  EXPECT_EQ(3, getFlags("mem,COL"));
  EXPECT_EQ(OVI_DB_COLOR, getFlags("c"));
  EXPECT_EQ(OVI_DB_COLOR, getFlags("co"));
  EXPECT_EQ(OVI_DB_CONNECTIONS, getFlags("con"));
  EXPECT_EQ(OVI_DB_AGENTS, getFlags("a"));
  EXPECT_EQ(OVI_DB_ATTRIBUTES, getFlags("at"));
  EXPECT_EQ(OVI_DB_MEMBERSHIP, getFlags("M"));
  EXPECT_EQ(31, getFlags("membership,color,agents,connections,attributes"));
  EXPECT_EQ(0, getFlags("colors"));  // longer than the keyword: no match
}

TEST(GetFlagsTest, DropEmptyAndUnknownItems) {
  EXPECT_EQ(0, getFlags("agents,drop,color"));
  EXPECT_EQ(0, getFlags("d"));
  EXPECT_EQ(OVI_DB_COLOR, getFlags("color,bogus,agents"));
  EXPECT_EQ(OVI_DB_MEMBERSHIP, getFlags("membership,,agents"));
  EXPECT_EQ(0, getFlags(",agents"));
  EXPECT_EQ(OVI_DB_MEMBERSHIP, getFlags("membership,"));
  EXPECT_EQ(OVI_DB_MEMBERSHIP, getFlags("membership, color"));
  EXPECT_EQ(0, getFlags(""));
  EXPECT_EQ(0, getFlags(nullptr));
}

class DbTemplateTest : public OviRootTest {
 protected:
  std::vector<std::pair<std::string, std::string>> records(const std::string& content) {
    write("tmpl", content);
    EXPECT_EQ(0, ovi_open_db_template_file("tmpl"));
    std::vector<std::pair<std::string, std::string>> out;
    char name[OVI_DB_FIELD_SIZE], flags[OVI_DB_FIELD_SIZE];
    while (ovi_get_db_entry_from_file(name, flags) != -1 && out.size() < 100) out.emplace_back(name, flags);
    ovi_close_db_template_file();
    return out;
  }
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST_F(DbTemplateTest, RecordsAreTwoTokens) {
  EXPECT_EQ((Pairs{{"added", "membership,color"}, {"deleted", ""}, {"changed", "agents"}, {"moved", "c"}}),
            records("# template\nadded membership,color\ndeleted\nchanged \"agents\"\nmoved c\n"));
  // A third token begins the next record.
  EXPECT_EQ((Pairs{{"a", "b"}, {"c", ""}}), records("a b c\n"));
  // A name followed by blanks takes its flags from the next line.
  EXPECT_EQ((Pairs{{"a", "color"}}), records("a  \ncolor\n"));
}

TEST_F(DbTemplateTest, LastRecordWithoutNewline) {
  EXPECT_EQ((Pairs{{"a", "b"}, {"c", ""}}), records("a b\nc d"));
  EXPECT_EQ((Pairs{{"a", "b"}}), records("a b\nc"));
  EXPECT_EQ((Pairs{{std::string(256, 'n'), std::string(256, 'f')}}),
            records(std::string(2000, 'n') + " " + std::string(300, 'f') + "\n"));
}

TEST_F(DbTemplateTest, LookUpByNamePrefixIgnoringCase) {
  write("t", "addedElement color\nadded membership\nDeleted drop\nplain\n");
  ASSERT_EQ(1, ovi_add_db_file_to_cache("t"));
  ASSERT_EQ(0, ovi_opentemplate("t"));
  EXPECT_EQ(OVI_DB_COLOR, ovi_getTemplateEntry("added"));  // first entry it begins
  EXPECT_EQ(OVI_DB_COLOR, ovi_getTemplateEntry("ADDEDELEMENT"));
  EXPECT_EQ(-1, ovi_getTemplateEntry("addedElements"));
  EXPECT_EQ(0, ovi_getTemplateEntry("deleted"));
  EXPECT_EQ(0, ovi_getTemplateEntry("plain"));
  EXPECT_EQ(-1, ovi_getTemplateEntry("other"));
  EXPECT_EQ(0, ovi_getTemplateEntry(""));
  EXPECT_EQ(0, ovi_getTemplateEntry(nullptr));
  ovi_closetemplate();
  EXPECT_EQ(0, ovi_getTemplateEntry("added"));
}

TEST_F(DbTemplateTest, SelectionOfCachedFiles) {
  write("t1", "a color\n");
  write("t2", "a agents\n");
  EXPECT_EQ(-1, ovi_opentemplate("missing"));  // empty cache, cannot add
  EXPECT_EQ(0, ovi_opentemplate("missing"));   // but it is cached, empty
  EXPECT_EQ(0, ovi_getTemplateEntry("a"));
  EXPECT_EQ(1, ovi_opentemplate("t1"));        // not added once the cache holds a file
  EXPECT_EQ(0, ovi_getTemplateEntry("a"));     // the failed selection cleared it
  ASSERT_EQ(1, ovi_add_db_file_to_cache("t1"));
  ASSERT_EQ(1, ovi_add_db_file_to_cache("t2"));
  ASSERT_EQ(0, ovi_opentemplate("t2"));
  EXPECT_EQ(OVI_DB_AGENTS, ovi_getTemplateEntry("a"));
  ovi_free_db_file_cache();
  EXPECT_EQ(0, ovi_getTemplateEntry("a"));
  EXPECT_EQ(0, ovi_opentemplate("t1"));  // the empty cache takes it again
  EXPECT_EQ(OVI_DB_COLOR, ovi_getTemplateEntry("a"));
}

TEST_F(DbTemplateTest, FileIsReadOnceWhileCached) {
  write("t", "a color\n");
  ASSERT_EQ(1, ovi_add_db_file_to_cache("t"));
  write("t", "a agents\nb color\n");
  EXPECT_EQ(1, ovi_add_db_file_to_cache("t"));
  EXPECT_EQ(1, ovi_db_file_entry_count("t"));
  EXPECT_EQ(0, ovi_add_db_file_to_cache(""));
  EXPECT_EQ(-1, ovi_db_file_entry_count("other"));
}

TEST_F(DbTemplateTest, FilterFileWithTwoRecordsNamingOneTemplate) {
  write("t", "a color\n");
  write("f", "hostname x - - pass t\nhostname y - - pass t\n");
  char message[256] = "";
  ASSERT_EQ(0, ovi_openfilter_with_msg("f", message));
  EXPECT_EQ(1, ovi_db_file_entry_count("t"));
  ASSERT_EQ(0, ovi_opentemplate("t"));
  EXPECT_EQ(OVI_DB_COLOR, ovi_getTemplateEntry("a"));
  ovi_closefilter();  // frees the template cache with the filter cache
  EXPECT_EQ(-1, ovi_db_file_entry_count("t"));
}

}  // namespace
