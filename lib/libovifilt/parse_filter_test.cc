#include "parse_filter.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <iterator>
#include <string>
#include <vector>

#include "test_root.h"

namespace {

using Strings = std::vector<std::string>;

Strings fieldsOf(const FilterEntry* e) {
  return {e->keyword,        e->target,       e->filterPriority, e->newPriority,
          e->action,         e->dbTemplateFile, e->reportClasses, e->trapTemplateFile};
}

// "keyword target" of every cached record, in order.
Strings cached() {
  Strings out;
  for (const FilterEntry* e = ovi_filter_cache(); e != nullptr; e = e->next)
    out.push_back(std::string(e->keyword) + " " + e->target);
  return out;
}

OVI_MessageInfo infoOf(int reportClass) {
  OVI_MessageInfo info{};
  info.reportClass = static_cast<int16_t>(reportClass);
  return info;
}

class FilterCacheTest : public OviRootTest {
 protected:
  void SetUp() override {
    OviRootTest::SetUp();
    write("t.db", "added membership\n");
  }
};

TEST_F(FilterCacheTest, ShortRecordTakesDefaultClassesAndTrapFile) {
  write("f", "hostname alpha low high pass t.db\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  const FilterEntry* e = ovi_filter_cache();
  ASSERT_NE(nullptr, e);
  EXPECT_EQ((Strings{"hostname", "alpha", "low", "high", "pass", "t.db", "all", "-"}), fieldsOf(e));
  EXPECT_EQ(nullptr, e->next);
}

TEST_F(FilterCacheTest, TrailingBlanksJoinTheNextLine) {
  write("f",
        "hostname alpha low high pass t.db   \n"
        "traps traps.lst viewname v - - pass\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  const FilterEntry* e = ovi_filter_cache();
  ASSERT_NE(nullptr, e);
  EXPECT_EQ("traps", std::string(e->reportClasses));
  EXPECT_EQ("traps.lst", std::string(e->trapTemplateFile));
  ASSERT_NE(nullptr, e->next);
  EXPECT_EQ((Strings{"viewname", "v", "-", "-", "pass", "", "all", "-"}), fieldsOf(e->next));
}

TEST_F(FilterCacheTest, RebuiltWhenModificationTimeAdvancesOnly) {
  std::string path = write("f", "hostname a - - pass t.db\n");
  setMtime(path, 1000000);
  ASSERT_EQ(0, ovi_openfilter("f"));
  EXPECT_EQ((Strings{"hostname a"}), cached());

  write("f", "hostname b - - pass t.db\n");  // edited in place
  setMtime(path, 2000000);
  ASSERT_EQ(0, ovi_openfilter("f"));
  EXPECT_EQ((Strings{"hostname b"}), cached());

  write("f", "hostname c - - pass t.db\n");
  setMtime(path, 1500000);  // older than the cache: not read again
  ASSERT_EQ(0, ovi_openfilter("f"));
  EXPECT_EQ((Strings{"hostname b"}), cached());
}

TEST_F(FilterCacheTest, NewNameReplacesTheCache) {
  write("f1", "hostname one - - pass t.db\n");
  write("f2", "hostname two - - pass t.db\n");
  ASSERT_EQ(0, ovi_openfilter("f1"));
  ASSERT_EQ(0, ovi_openfilter("f2"));
  EXPECT_EQ((Strings{"hostname two"}), cached());
  // An absolute name is used as it stands.
  ASSERT_EQ(0, ovi_openfilter(dataPath("f1").c_str()));
  EXPECT_EQ((Strings{"hostname one"}), cached());
}

TEST_F(FilterCacheTest, MissingFileReportsErrnoAndKeepsCache) {
  write("f", "hostname a - - pass t.db\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  EXPECT_EQ(ENOENT, ovi_openfilter("missing"));
  EXPECT_EQ(ENOENT, ovi_openfilter(""));
  EXPECT_EQ(ENOENT, ovi_openfilter(nullptr));
  OVI_MessageInfo info = infoOf(OVI_CLASS_EVENT);
  EXPECT_EQ(nullptr, ovi_gethost("a", "hostname", &info));  // nothing is open
}

TEST_F(FilterCacheTest, UncachedReadKeepsTheCache) {
  std::string path = write("f", "hostname a - - pass t.db\n");
  setMtime(path, 1000000);
  ASSERT_EQ(0, ovi_openfilter("f"));
  write("other", "x y\n");
  ASSERT_EQ(0, ovi_open_uncached_filter("other"));
  ovi_close_uncached_filter();
  write("f", "hostname b - - pass t.db\n");
  setMtime(path, 1000000);  // same time: the reopened file is not read again
  ASSERT_EQ(0, ovi_openfilter("f"));
  EXPECT_EQ((Strings{"hostname a"}), cached());
}

TEST_F(FilterCacheTest, MessageOpenReportsTemplateFailureOnlyWhenItRebuilds) {
  char message[256] = "";
  write("f", "hostname a - - pass t.db\nhostname b - - pass missing.db\n");
  EXPECT_EQ(1, ovi_openfilter_with_msg("f", message));
  EXPECT_STREQ("db template file", message);
  EXPECT_EQ((Strings{"hostname a", "hostname b"}), cached());  // cached all the same
  message[0] = '\0';
  EXPECT_EQ(0, ovi_openfilter_with_msg("f", message));
  EXPECT_STREQ("", message);
}

TEST_F(FilterCacheTest, MessageOpenReportsTheFirstFailureOfTheRebuild) {
  char message[256] = "";
  write("f",
        "hostname a - - pass t.db all missing.traps\n"
        "hostname b - - pass missing.db\n");
  EXPECT_EQ(1, ovi_openfilter_with_msg("f", message));
  EXPECT_STREQ("trap template file", message);

  write("g", "hostname a - - pass\n");  // an empty template name fails too
  EXPECT_EQ(1, ovi_openfilter_with_msg("g", message));
  EXPECT_STREQ("db template file", message);

  EXPECT_EQ(ENOENT, ovi_openfilter_with_msg("nofile", message));
  EXPECT_STREQ("filter file", message);
}

class FilterLookupTest : public FilterCacheTest {};

TEST_F(FilterLookupTest, HostLookupIgnoresCaseOfTargetAndKeyword) {
  write("f", "HostName Alpha low high pass t.db\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  OVI_MessageInfo info = infoOf(OVI_CLASS_EVENT);
  const FilterEntry* e = ovi_gethost("aLPHA", "hostname", &info);
  ASSERT_NE(nullptr, e);
  EXPECT_EQ((Strings{"HostName", "Alpha", "low", "high", "pass", "t.db", "all", "-"}), fieldsOf(e));
  EXPECT_EQ(nullptr, e->next);
  EXPECT_EQ(nullptr, ovi_gethost("alphabet", "hostname", &info));
  EXPECT_EQ(nullptr, ovi_gethost("", "hostname", &info));
  EXPECT_EQ(nullptr, ovi_gethost("alpha", "", &info));
  EXPECT_EQ(nullptr, ovi_gethost(nullptr, "hostname", &info));
}

TEST_F(FilterLookupTest, FirstRecordThatTheClassesAcceptWins) {
  write("f",
        "hostname a low - drop t.db traps\n"
        "hostname a med - pass t.db events\n"
        "hostname a high - pass t.db all\n"
        "default x - - drop t.db glyphs\n"
        "default y - - pass t.db\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  OVI_MessageInfo event = infoOf(OVI_CLASS_EVENT);
  OVI_MessageInfo glyph = infoOf(OVI_CLASS_GLYPH_TRAP);
  OVI_MessageInfo dbmgr = infoOf(OVI_CLASS_DBMGR_TRAP);
  EXPECT_STREQ("med", ovi_gethost("a", "hostname", &event)->filterPriority);
  EXPECT_STREQ("high", ovi_gethost("a", "hostname", &glyph)->filterPriority);
  EXPECT_STREQ("low", ovi_gethost("a", "hostname", &dbmgr)->filterPriority);
  EXPECT_STREQ("x", ovi_getdefault("DEFAULT", &glyph)->target);
  EXPECT_STREQ("y", ovi_getdefault("default", &event)->target);
  EXPECT_EQ(nullptr, ovi_getdefault("component", &event));
}

TEST_F(FilterLookupTest, CloseDiscardsCacheAndLookupsFindNothing) {
  write("f", "hostname a - - pass t.db\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  ovi_closefilter();
  EXPECT_EQ(nullptr, ovi_filter_cache());
  OVI_MessageInfo info = infoOf(OVI_CLASS_EVENT);
  EXPECT_EQ(nullptr, ovi_gethost("a", "hostname", &info));
  ASSERT_EQ(0, ovi_openfilter("f"));  // same name, rebuilt after the close
  EXPECT_NE(nullptr, ovi_gethost("a", "hostname", &info));
}

TEST(FormatTest, OperatorAndPriorityNames) {
  EXPECT_STREQ("No Operator", relop2str(0));
  EXPECT_STREQ("Less Than", relop2str(3));
  EXPECT_STREQ("Less Than Or Equal To ", relop2str(4));
  EXPECT_STREQ("Trap ", relop2str(14));
  EXPECT_STREQ("unknown operator", relop2str(15));
  EXPECT_STREQ("low", prio2str(0));
  EXPECT_STREQ("low", prio2str(1));
  EXPECT_STREQ("med", prio2str(2));
  EXPECT_STREQ("high", prio2str(3));
  EXPECT_STREQ("high", prio2str(7));
}

TEST(FormatTest, ValuesByType) {
  int16_t s = -5;
  EXPECT_STREQ("-5", value2str(1, &s, 2));
  uint32_t u = 4000000000u;
  EXPECT_STREQ("4000000000", value2str(4, &u, 4));
  EXPECT_STREQ("-294967296", value2str(3, &u, 4));
  unsigned char octets[2] = {0x0a, 0xff};
  EXPECT_STREQ("0aff", value2str(10, octets, 2));
  uint32_t oid[3] = {1, 3, 6};
  EXPECT_STREQ("1.3.6", value2str(17, oid, 12));
  EXPECT_STREQ("ab", value2str(9, "ab\0cd", 5));
  EXPECT_EQ(nullptr, value2str(23, &u, 4));
}

TEST(FormatTest, LongValuesAreCutTo255Characters) {
  std::vector<unsigned char> bytes(300, 0xab);
  EXPECT_EQ(255u, strlen(value2str(16, bytes.data(), 300)));
  std::string text(400, 't');
  EXPECT_EQ(255u, strlen(value2str(9, text.c_str(), 400)));
  double huge = 1e300;
  EXPECT_EQ(255u, strlen(value2str(8, &huge, 8)));
}

// The directory is kept once found, so each case runs in its own process.
class BaseDirTest : public OviRootTest {
 protected:
  std::string baseDirIn(const std::string& inetd) {
    if (!inetd.empty()) write("/etc/inetd.conf", inetd);
    fflush(stdout);
    std::string out = root_ + "/basedir.out";
    EXPECT_EXIT(
        {
          FILE* fp = fopen(out.c_str(), "w");
          fputs(ovi_get_ovi_installation_base_dir(), fp);
          fputs("|", fp);
          fputs(ovi_get_ovi_installation_base_dir(), fp);
          fclose(fp);
          exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    remove(out.c_str());
    return text;
  }
};

TEST_F(BaseDirTest, FoundInTheServerPathOfInetd) {
  EXPECT_EQ("/usr/local/orx|/usr/local/orx",
            baseDirIn("ovi_sender/10 tli rpc/udp wait root /usr/local/orx/agents/ovi_sender ovi_sender\n"));
  EXPECT_EQ("/opt/ZEPHline/orx|/opt/ZEPHline/orx",
            baseDirIn("ovi_sender\tdgram\t/opt/ZEPHline/orx/agents/ovi_sender\n"));
}

TEST_F(BaseDirTest, DefaultWithoutSuchLine) {
  const std::string def = "/opt/ZEPHline/orx|/opt/ZEPHline/orx";
  EXPECT_EQ(def, baseDirIn(""));
  EXPECT_EQ(def, baseDirIn("# ovi_sender is elsewhere\n/x/orx/agents/ovi_sender\n"));
  EXPECT_EQ(def, baseDirIn("ftp stream tcp nowait root /usr/sbin/ftpd\n"));
}

}  // namespace
