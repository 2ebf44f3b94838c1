// The filter chain against a real management database and filter file.
#include "filter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <vector>

#include "daemon.h"
#include "harness/station.h"
#include "log.h"

namespace {

// alpha sits in Rack (in Lab, in Site) and in Annex; beta the same in the
// other order; L1 and L2 contain each other and L2 itself.
const char kNetwork[] =
    "element Home view.root\n"
    "element Site view.site\nelement Lab view.lab\nelement Rack view.rack\n"
    "element Annex view.annex\nelement Top VIEW.top\n"
    "element L1 view.loop\nelement L2 view.loop\n"
    "member Site Home\nmember Lab Site\nmember Rack Lab\nmember Annex Home\nmember Top Home\n"
    "member L1 L2\nmember L2 L1\nmember L2 L2\nmember L2 Top\n"
    "element alpha component.router\nmember alpha Rack\nmember alpha Annex\n"
    "element beta component.host\nmember beta Annex\nmember beta Rack\n"
    "element gamma component.host\nmember gamma L1\n";

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ORX_NAME", "net", 1);
    station_.loadDatabase("net", kNetwork);
    ASSERT_NE(0, orxdb_open());
    strcpy(d_.filterFile, "console.filter");
  }
  void TearDown() override {
    ovi_closefilter();
    orxdb_close();
    unsetenv("ORX_NAME");
  }
  // Rewrites the filter file in place, each time with a later modification
  // time, as an editor saving it would.
  void setFilter(const std::string& text) {
    std::string path = station_.writeData("console.filter", text);
    struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) + ++edits_, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
  }
  int filter(const char* host, uint32_t type = 12, int16_t reportClass = OVI_CLASS_TRAP) {
    msg_.type = type;
    info_.reportClass = reportClass;
    return d_.filterReport(&msg_, nullptr, nullptr, nullptr, &info_, host);
  }

  Station station_;
  Daemon d_{Daemon::Detached{}};
  TesselServiceMsg msg_;
  OVI_MessageInfo info_{};
  int edits_ = 0;
};

// Each record removed in turn lets the next kind decide; a record that
// drops is never overridden by a later kind that would pass.
TEST_F(FilterTest, FirstKindFoundDecidesInOrderAndEditsApplyAtOnce) {
  const std::vector<std::string> records = {
      "hostname ALPHA high high drop\n",
      "component Component.Router LOW Med Pass\n",
      "viewname Site - - drop\n",  // three views up, yet before the nearer Annex
      "viewname Annex high HIGH pass\n",
      "viewtype LAB - - drop\n",   // the type of Lab, two views up
      "default - - urgent pass\n",
  };
  const struct { int pass, filterPriority, newPriority; } expected[] = {
      {0, 0, 0}, {1, 1, 2}, {0, 0, 0}, {1, 3, 3}, {0, 0, 0}, {1, 0, 0}, {0, 0, 0}};
  for (size_t i = 0; i <= records.size(); i++) {
    std::string text = "component router - - pass\n";  // never: the type is matched whole
    for (size_t j = i; j < records.size(); j++) text += records[j];
    setFilter(text);
    for (uint32_t type : {12u, 4u}) {
      SCOPED_TRACE("records from " + std::to_string(i) + ", type " + std::to_string(type));
      EXPECT_EQ(expected[i].pass, filter("alpha", type, type == 4 ? OVI_CLASS_EVENT : 2));
      EXPECT_EQ(expected[i].filterPriority, d_.child.filterPriority);
      EXPECT_EQ(expected[i].newPriority, d_.child.newPriority);
    }
  }
}

TEST_F(FilterTest, DatabaseTrapsAndOtherReportTypesPassUnfiltered) {
  strcpy(d_.filterFile, "missing.filter");
  d_.child.filterPriority = d_.child.newPriority = 3;
  EXPECT_EQ(1, filter("alpha", 12, OVI_CLASS_DBMGR_TRAP));
  EXPECT_EQ(0, d_.child.filterPriority + d_.child.newPriority);
  EXPECT_EQ(1, filter("alpha", 5));
  EXPECT_EQ(1, filter("alpha", 2));
  EXPECT_EQ(0, filter("alpha", 12));  // no filter file: no record
  EXPECT_EQ(0, filter("alpha", 4, OVI_CLASS_EVENT));
}

// Each view of the host in database order, each searched upward before the
// next; a cycle of views ends the search of that branch.
TEST_F(FilterTest, ViewsAreSearchedDepthFirstInDatabaseOrderThroughCycles) {
  setFilter("viewname Site - low pass\nviewname Annex - high pass\n");
  EXPECT_EQ(1, filter("alpha"));
  EXPECT_EQ(1, d_.child.newPriority);
  EXPECT_EQ(1, filter("beta"));
  EXPECT_EQ(3, d_.child.newPriority);
  EXPECT_EQ(0, filter("nosuch"));
  EXPECT_EQ(0, filter("Home"));  // in no view

  // Neither name is met around the L1-L2 cycle; Top's type is, past it.
  setFilter("viewname Elsewhere - - pass\nviewtype top - med pass\n");
  EXPECT_EQ(1, filter("gamma"));
  EXPECT_EQ(2, d_.child.newPriority);
}

}  // namespace
