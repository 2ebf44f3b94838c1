#include "parse_dbtmpl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_root.h"

namespace {

using Strings = std::vector<std::string>;

TEST(GetFlagsTest, AbbreviationsInKeywordOrderUpToDropOrAnUnknownItem) {
  const struct { const char* flags; int bits; } cases[] = {
      {"mem,COL", 3}, {"c", OVI_DB_COLOR}, {"con", OVI_DB_CONNECTIONS}, {"a", OVI_DB_AGENTS},
      {"at", OVI_DB_ATTRIBUTES}, {"membership,color,agents,connections,attributes", 31},
      {"colors", 0},  // longer than the keyword: no match
      {"agents,drop,color", 0}, {"color,bogus,agents", OVI_DB_COLOR},
      {"membership,,agents", OVI_DB_MEMBERSHIP}, {"membership, color", OVI_DB_MEMBERSHIP},
      {nullptr, 0}};
  for (const auto& c : cases) EXPECT_EQ(c.bits, getFlags(c.flags)) << (c.flags ? c.flags : "null");
}

class DbTemplateTest : public OviRootTest {
 protected:
  // The records of a template file, each as "name|flags".
  Strings records(const std::string& content) {
    write("tmpl", content);
    EXPECT_EQ(0, ovi_open_db_template_file("tmpl"));
    Strings out;
    char name[OVI_DB_FIELD_SIZE], flags[OVI_DB_FIELD_SIZE];
    while (ovi_get_db_entry_from_file(name, flags) != -1 && out.size() < 100)
      out.push_back(std::string(name) + "|" + flags);
    ovi_close_db_template_file();
    return out;
  }
};

TEST_F(DbTemplateTest, RecordsAreTwoTokens) {
  const struct { std::string content; Strings records; } cases[] = {
      {"# template\nadded membership,color\ndeleted\nchanged \"agents\"\nmoved c\n",
       {"added|membership,color", "deleted|", "changed|agents", "moved|c"}},
      {"a b c\n", {"a|b", "c|"}},      // a third token begins the next record
      {"a  \ncolor\n", {"a|color"}},   // a name followed by blanks takes the next line's flags
      {"a b\nc d", {"a|b", "c|"}},     // a last line without newline loses its last token
      {"a b\nc", {"a|b"}},
      {std::string(2000, 'n') + " " + std::string(300, 'f') + "\n",
       {std::string(256, 'n') + "|" + std::string(256, 'f')}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.records, records(c.content)) << c.content.substr(0, 40);
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

TEST_F(DbTemplateTest, FilesAreCachedOnceSelectedByNameAndFreedWithTheFilterCache) {
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
  write("t1", "a agents\nb color\n");
  EXPECT_EQ(1, ovi_add_db_file_to_cache("t1"));  // cached: not read again
  EXPECT_EQ(1, ovi_db_file_entry_count("t1"));
  EXPECT_EQ(-1, ovi_db_file_entry_count("other"));
  EXPECT_EQ(0, ovi_add_db_file_to_cache(""));
  // Building the filter cache reads the files its records name afresh.
  write("f", "hostname x - - pass t1\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  EXPECT_EQ(2, ovi_db_file_entry_count("t1"));
  ovi_closefilter();
  EXPECT_EQ(-1, ovi_db_file_entry_count("t1"));
  EXPECT_EQ(0, ovi_getTemplateEntry("a"));
  EXPECT_EQ(0, ovi_opentemplate("t1"));  // the empty cache takes it again
  EXPECT_EQ(OVI_DB_AGENTS, ovi_getTemplateEntry("a"));
}

}  // namespace
