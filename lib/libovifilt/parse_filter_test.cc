#include "parse_filter.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "test_root.h"

namespace {

using Strings = std::vector<std::string>;

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
  OVI_MessageInfo event_ = infoOf(OVI_CLASS_EVENT);
};

TEST_F(FilterCacheTest, RebuiltWhenModificationTimeAdvancesOnly) {
  std::string path = write("f", "hostname a - - pass t.db\n");
  setMtime(path, 1000000);
  ASSERT_EQ(0, ovi_openfilter("f"));
  EXPECT_EQ((Strings{"hostname a"}), cached());
  write("other", "x y\n");
  const struct { const char* host; time_t mtime; const char* cached; } edits[] = {
      {"b", 2000000, "hostname b"}, {"c", 1500000, "hostname b"}, {"d", 2000000, "hostname b"}};
  for (const auto& e : edits) {  // edited in place, as an editor saves
    write("f", std::string("hostname ") + e.host + " - - pass t.db\n");
    setMtime(path, e.mtime);
    // Reading another file of the format in between leaves the cache alone.
    ASSERT_EQ(0, ovi_open_uncached_filter("other"));
    ovi_close_uncached_filter();
    ASSERT_EQ(0, ovi_openfilter("f"));
    EXPECT_EQ((Strings{e.cached}), cached()) << e.host;
  }
}

TEST_F(FilterCacheTest, WithinARoundTheFileIsCheckedOnce) {
  std::string path = write("f", "hostname a - - pass t.db\n");
  setMtime(path, 1000000);
  // In a process of its own: the other tests run without rounds.
  EXPECT_EXIT(
      {
        ovi_filter_new_round();
        bool first = ovi_openfilter("f") == 0 && cached() == Strings{"hostname a"};
        write("f", "hostname b - - pass t.db\n");
        setMtime(path, 2000000);
        bool same = ovi_openfilter("f") == 0 && cached() == Strings{"hostname a"};
        ovi_filter_new_round();
        bool next = ovi_openfilter("f") == 0 && cached() == Strings{"hostname b"};
        fprintf(stderr, "[%d%d%d]\n", first, same, next);
        exit(0);
      },
      ::testing::ExitedWithCode(0), "\\[111\\]");
}

TEST_F(FilterCacheTest, NewNameOrACloseRebuildsAndAMissingFileFails) {
  write("f1", "hostname one - - pass t.db\n");
  write("f2", "hostname two - - pass t.db\n");
  ASSERT_EQ(0, ovi_openfilter("f1"));
  ASSERT_EQ(0, ovi_openfilter(dataPath("f2").c_str()));  // an absolute name as it stands
  EXPECT_EQ((Strings{"hostname two"}), cached());
  ovi_closefilter();
  EXPECT_EQ(nullptr, ovi_gethost("two", "hostname", &event_));
  ASSERT_EQ(0, ovi_openfilter(dataPath("f2").c_str()));  // same name and time: the close forgot it
  EXPECT_EQ((Strings{"hostname two"}), cached());
  EXPECT_EQ(ENOENT, ovi_openfilter("missing"));
  EXPECT_EQ(ENOENT, ovi_openfilter(nullptr));
}

TEST_F(FilterCacheTest, MessageOpenReportsTheFirstFailureOfARebuildOnly) {
  write("f", "hostname a - - pass t.db\nhostname b - - pass missing.db\n");
  write("g", "hostname a - - pass t.db all missing.traps\nhostname b - - pass missing.db\n");
  write("h", "hostname a - - pass\n");  // an empty template name fails too
  // A file whose templates fail is cached all the same.
  const struct { const char* name; int result; const char* message; size_t records; } opens[] = {
      {"f", 1, "db template file", 2}, {"f", 0, "-", 2},  // not rebuilt: nothing to say
      {"g", 1, "trap template file", 2}, {"h", 1, "db template file", 1},
      {"nofile", ENOENT, "filter file", 0}};
  for (const auto& o : opens) {
    char message[256] = "-";
    EXPECT_EQ(o.result, ovi_openfilter_with_msg(o.name, message)) << o.name;
    EXPECT_STREQ(o.message, message) << o.name;
    EXPECT_EQ(o.records, cached().size()) << o.name;
  }
}

TEST_F(FilterCacheTest, LookUpsTakeTheFirstRecordThatMatchesAndAcceptsTheClass) {
  write("f",
        "hostname a low - drop t.db traps\n"
        "hostname a med - pass t.db events\n"
        "HostName A high - pass t.db\n"
        "default x - - drop t.db glyphs\n"
        "default y - - pass t.db\n");
  ASSERT_EQ(0, ovi_openfilter("f"));
  OVI_MessageInfo glyph = infoOf(OVI_CLASS_GLYPH_TRAP), dbmgr = infoOf(OVI_CLASS_DBMGR_TRAP);
  const FilterEntry* e = ovi_gethost("a", "HOSTNAME", &glyph);
  ASSERT_NE(nullptr, e);
  EXPECT_STREQ("high", e->filterPriority);
  EXPECT_EQ(nullptr, e->next);  // a copy, unlinked
  EXPECT_STREQ("med", ovi_gethost("a", "hostname", &event_)->filterPriority);
  EXPECT_STREQ("low", ovi_gethost("a", "hostname", &dbmgr)->filterPriority);
  EXPECT_STREQ("x", ovi_getdefault("DEFAULT", &glyph)->target);
  EXPECT_STREQ("y", ovi_getdefault("default", &event_)->target);
  EXPECT_EQ(nullptr, ovi_getdefault("component", &event_));
  EXPECT_EQ(nullptr, ovi_gethost("ab", "hostname", &event_));
  EXPECT_EQ(nullptr, ovi_gethost(nullptr, "hostname", &event_));
}

// Wire values reach value2str in the receive fuzz target; the texts
// consoles see are checked here.
TEST(FormatTest, OperatorsPrioritiesAndValuesByType) {
  EXPECT_STREQ("Trap ", relop2str(14));
  EXPECT_STREQ("unknown operator", relop2str(15));
  EXPECT_EQ("low med high", std::string(prio2str(1)) + " " + prio2str(2) + " " + prio2str(7));
  int16_t s = -5;
  uint32_t u = 4000000000u;
  unsigned char octets[2] = {0x0a, 0xff};
  EXPECT_STREQ("-5", value2str(1, &s, 2));
  EXPECT_STREQ("4000000000", value2str(4, &u, 4));
  EXPECT_STREQ("0aff", value2str(10, octets, 2));
  EXPECT_STREQ("ab", value2str(9, "ab\0cd", 5));
  // Long values are cut to 255 characters.
  std::vector<unsigned char> bytes(300, 0xab);
  EXPECT_EQ(255u, strlen(value2str(16, bytes.data(), 300)));
  EXPECT_EQ(255u, strlen(value2str(9, std::string(400, 't').c_str(), 400)));
}

TEST_F(FilterCacheTest, BaseDirIsFoundInTheServerPathOfInetdElseTheDefault) {
  const std::string def = "/opt/ZEPHline/orx";
  const struct { const char* inetd; std::string dir; } cases[] = {
      {"ovi_sender/10 tli rpc/udp wait root /usr/local/orx/agents/ovi_sender ovi_sender\n",
       "/usr/local/orx"},
      {"ovi_sender\tdgram\t/srv/orx/agents/ovi_sender\n", "/srv/orx"},
      {"# ovi_sender is elsewhere\n/x/orx/agents/ovi_sender\n", def},  // first such line only
  };
  for (const auto& c : cases) {
    write("/etc/inetd.conf", c.inetd);
    // Each case runs in a process of its own; a found directory is kept
    // even when the file is gone.
    EXPECT_EXIT(
        {
          fprintf(stderr, "[%s]", ovi_get_ovi_installation_base_dir());
          remove((root_ + "/etc/inetd.conf").c_str());
          fprintf(stderr, "[%s]\n", ovi_get_ovi_installation_base_dir());
          exit(0);
        },
        ::testing::ExitedWithCode(0), "\\[" + c.dir + "\\]\\[" + c.dir + "\\]")
        << c.inetd;
  }
}

}  // namespace
