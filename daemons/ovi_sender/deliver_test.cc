// The outgoing data of forwarded reports, against a real management database,
// filter file, database templates and schema tables.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "attribute.h"
#include "daemon.h"
#include "harness/station.h"
#include "tessel/tessel_generic.h"

namespace {

// router7 is in Net1 (placed), an internal view and Net2 (not placed);
// lonely is in no view and has nothing.
const char kOffice[] =
    "element Home view.root\n"
    "element Net1 view.network\nelement Net2 view.network\nelement ORX:hidden view.internal\n"
    "element router7 component.router\nelement host3 component.host\n"
    "element lonely component.host\nelement link1 connection.serial\n"
    "element pi component.probe\nelement pt component.probe\n"
    "member Net1 Home\nmember Net2 Home\n"
    "member router7 Net1 10 20 30 40 50\nmember router7 ORX:hidden 1 1 1 1 1\n"
    "member router7 Net2\nmember host3 Net1\nmember link1 Net1\n"
    "property router7 adminState 2\nproperty router7 Name \"never sent\"\n"
    "property link1 Object1 router7\nproperty link1 Object2 host3\nproperty link1 speed 9600\n"
    "color router7 255 0 128\nconnect router7 link1\n"
    "agent router7 snmp 1 public:161\nagent router7 icmp 0\nagent router7 quiet 2\n"
    "property pi n -3\nproperty pi ip 16909060\n"
    "property pt n \"42\"\nproperty pt w hello\nproperty pt ip 10.1.2.3\nproperty pt x 2.5\n"
    "property pt p 3.4\n";

const std::string kRouterMembership = "view=Net1, Xpos=10, Ypos=20, X1pos=40, Y1pos=50, view=Net2";
const std::string kRouterAgents = "agent=snmp:public:161, agent=icmp, agent=quiet:";

// "name=value" as a receiver would show the datum.
std::string show(const Tessel_event& d) {
  const void* v = d.value;
  std::string value;
  switch (d.type) {
    case 1: value = std::to_string(*static_cast<const int16_t*>(v)); break;
    case 2: value = std::to_string(*static_cast<const uint16_t*>(v)); break;
    case 3: case 5: case 13: case 14: case 15:
      value = std::to_string(*static_cast<const int32_t*>(v)); break;
    case 4: case 6: case 20: case 21: case 22:
      value = std::to_string(*static_cast<const uint32_t*>(v)); break;
    case 7: value = std::to_string(*static_cast<const float*>(v)); break;
    case 8: value = std::to_string(*static_cast<const double*>(v)); break;
    case 11: case 18: case 19: value = inet_ntoa(*static_cast<const struct in_addr*>(v)); break;
    case 12: {
      const int32_t* w = static_cast<const int32_t*>(v);
      value = std::to_string(w[0]) + "." + std::to_string(w[1]);
      break;
    }
    default:  // a text shows its NUL, which the length counts, as "\0"
      for (uint32_t i = 0; i < d.length; i++) {
        char c = static_cast<const char*>(v)[i];
        value += c != '\0' ? std::string(1, c) : "\\0";
      }
      break;
  }
  return std::string(d.name) + "=" + value;
}

class DeliverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station_.write("/opt/ZEPHline/orx/agents/office.schema",
                   "record connection.serial ( name Name pointer Object1 pointer Object2 "
                   "int speed )\n");
    build_attribute_lists();
    setenv("ORX_NAME", "office", 1);
    station_.loadDatabase("office", kOffice);
    ASSERT_NE(0, orxdb_open());
    strcpy(d_.filterFile, "console.filter");
    setFilter("hostname nobody - - pass all.tmpl\n");
    station_.writeData("all.tmpl", "added membership,color,agents,connections,attributes\n");
    msg_.agentProg = 100110;
    msg_.setGroup("tessel_db_config");
    char host[256];
    gethostname(host, sizeof host);
    host[sizeof host - 1] = '\0';
    forwardedBy_ = std::string("vant_forwarded_by=") + host;
  }
  void TearDown() override {
    free_info_list(list_);
    ovi_closefilter();
    orxdb_close();
    free_attribute_lists();
    unsetenv("ORX_NAME");
  }
  // Rewrites the filter file with a later modification time each time, so
  // that the next look-up reads it (and its templates) again.
  void setFilter(const std::string& text) {
    std::string path = station_.writeData("console.filter", text);
    struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) + ++edits_, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
  }
  // Appends a datum to the decoded data that the next rebuild takes over.
  void add(const char* name, uint32_t type, const void* value, uint32_t length) {
    infoList* n = static_cast<infoList*>(calloc(1, sizeof(infoList)));
    snprintf(n->name, sizeof n->name, "%s", name);
    n->type = type;
    n->length = length;
    n->value = malloc(length);
    memcpy(n->value, value, length);
    infoList** tail = &list_;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = n;
  }
  // Rebuilds the message from the data added and the given texts (name,
  // then value); the data it then carries, this host shown as HOST, or
  // "<dropped>" when it is not delivered.
  std::string deliver(std::initializer_list<const char*> texts = {}) {
    for (auto t = texts.begin(); t != texts.end(); t += 2) add(t[0], 9, t[1], strlen(t[1]) + 1);
    infoList* list = list_;
    list_ = nullptr;
    if (!d_.rebuildAttributes(list, &msg_, &info_)) return "<dropped>";
    std::string out;
    tessel_msgRewind(&msg_);
    Tessel_event d;
    while (tessel_msgNextDatum(&msg_, &d) && d.type != 0) {
      std::string datum = show(d) == forwardedBy_ ? "vant_forwarded_by=HOST" : show(d);
      out += (out.empty() ? "" : ", ") + datum;
    }
    return out;
  }

  Station station_;
  Daemon d_{Daemon::Detached{}};
  TesselServiceMsg msg_;
  OVI_MessageInfo info_{};
  infoList* list_ = nullptr;
  std::string forwardedBy_;
  int edits_ = 0;
};

TEST_F(DeliverTest, WithoutARecordEverythingIsAddedInItsOrder) {
  EXPECT_EQ("vant_forwarded_by=HOST, added=router7\\0, type=component.router, adminState=2, "
            "Created_by_ovi=0, red=255, green=0, blue=128, " + kRouterMembership +
                ", connected=link1, " + kRouterAgents +
                ", added=lonely\\0, type=component.host, view=~~~NONE~~~, connected=~~~NONE~~~, "
                "agent=~~~NONE~~~",
            deliver({"added", "router7", "added", "lonely"}));
  EXPECT_EQ(OVI_CLASS_DBMGR_TRAP, info_.reportClass);
}

TEST_F(DeliverTest, TemplateEntriesChooseTheInformation) {
  setFilter("default - - - pass ops.tmpl\n");
  station_.writeData("ops.tmpl", "added mem,COL\nchanged agents\nmoved\nrenamed drop\n"
                                 "deleted drop\nbackground color\n");
  // An operation without an entry gets the type only.
  EXPECT_EQ("vant_forwarded_by=HOST, added=router7\\0, type=component.router, red=255, green=0, "
            "blue=128, " + kRouterMembership + ", changed=router7\\0, type=component.router, " +
                kRouterAgents + ", removed=router7\\0, type=component.router",
            deliver({"added", "router7", "changed", "router7", "removed", "router7"}));
  // Data that their entry drops (or gives no flags) are left out; a trap of
  // such data only is not delivered.  Until one datum is accepted the data
  // start afresh, forwarding host included.
  EXPECT_EQ("<dropped>", deliver({"moved", "router7", "renamed", "router7"}));
  EXPECT_EQ("changed=lonely\\0, type=component.host, agent=~~~NONE~~~",
            deliver({"renamed", "router7", "changed", "lonely"}));
  // A dropped deletion goes on with the type; the deletion of an element no
  // longer in the database goes alone; other data of missing elements and
  // the station's own elements count as handled but are not sent.
  EXPECT_EQ("vant_forwarded_by=HOST, deleted=router7\\0, type=component.router, deleted=gone\\0",
            deliver({"deleted", "router7", "deleted", "gone", "added", "gone", "deleted",
                     "ORX:hidden", "added", "orx:other"}));
  EXPECT_EQ("vant_forwarded_by=HOST", deliver({"deleted", "ORX:hidden"}));
  // "synched" passes whatever the template says, without a database read;
  // "background" passes and marks the report as the daemon's own.
  EXPECT_EQ("vant_forwarded_by=HOST, SYNCHED=no such element\\0, Background=router7\\0",
            deliver({"SYNCHED", "no such element", "Background", "router7"}));
  EXPECT_EQ(100139u, msg_.agentProg);
}

TEST_F(DeliverTest, ConnectionEndsComeUnlessAttributesAreAsked) {
  setFilter("hostname link1 - - pass conn.tmpl\n");
  station_.writeData("conn.tmpl", "added connections\nchanged attributes\n");
  const std::string ends = "type=connection.serial, Object1=router7, Object2=host3";
  EXPECT_EQ("vant_forwarded_by=HOST, added=link1\\0, " + ends + ", connected=~~~NONE~~~, " +
                "changed=link1\\0, " + ends + ", speed=9600",
            deliver({"added", "link1", "changed", "link1"}));
  // A record whose template file cannot be selected: the type and the ends.
  setFilter("hostname link1 - - pass\ndefault - - - pass conn.tmpl\n");
  EXPECT_EQ("vant_forwarded_by=HOST, added=link1\\0, " + ends, deliver({"added", "link1"}));
}

// A connection's ends depend on the entry: none without one, and a deletion
// that its entry drops still gets them.
TEST_F(DeliverTest, ConnectionEndsFollowTheEntryOfTheDatum) {
  setFilter("hostname link1 - - pass conn.tmpl\n");
  station_.writeData("conn.tmpl", "added connections\ndeleted drop\n");
  EXPECT_EQ("vant_forwarded_by=HOST, removed=link1\\0, type=connection.serial, deleted=link1\\0, "
            "type=connection.serial, Object1=router7, Object2=host3",
            deliver({"removed", "link1", "deleted", "link1"}));
}

TEST_F(DeliverTest, GlyphStateTrapsPassOrDropWhole) {
  msg_.setGroup("tessel_glyph_state");
  setFilter("hostname host3 - - drop\ndefault - - - pass\n");
  int32_t state = 3;
  add("glyph", 9, "router7", 8);
  add("state", 15, &state, 4);
  EXPECT_EQ("vant_forwarded_by=HOST, glyph=router7\\0, state=3", deliver());
  EXPECT_EQ(OVI_CLASS_GLYPH_TRAP, info_.reportClass);
  add("state", 15, &state, 4);  // released with the rest of the list
  EXPECT_EQ("<dropped>", deliver({"glyph", "router7", "glyph", "host3"}));
  setFilter("hostname host3 - - pass\n");  // no record at all for router7
  EXPECT_EQ("<dropped>", deliver({"glyph", "router7"}));
  msg_.setGroup("tessel_db_config");
  EXPECT_EQ("<dropped>", deliver());  // a database-manager trap without data
}

// Each type code of a schema attribute, from an integer property (pi), a
// text property (pt) and an absent one.
TEST_F(DeliverTest, AttributeValuesTakeTheFormOfTheirTypeCode) {
  const struct {
    const char* property;
    int type;
    const char* fromInteger;
    const char* fromText;
    uint32_t sentType, length;  // length 0: the text's
  } cases[] = {
      {"n", 1, "n=-3", "n=42", 1, 2},         {"n", 2, "n=65533", "n=42", 2, 2},
      {"w", 3, "w=0", "w=0", 3, 4},           {"n", 4, "n=4294967293", "n=42", 4, 4},
      {"n", 5, "n=-3", "n=42", 5, 4},         {"n", 7, "n=-3.000000", "n=42.000000", 7, 4},
      {"x", 8, "x=0.000000", "x=2.500000", 8, 8},
      {"n", 9, "n=-3", "n=42", 9, 0},         {"w", 10, "w=", "w=hello", 9, 0},
      {"ip", 11, "ip=1.2.3.4", "ip=10.1.2.3", 11, 4},
      {"p", 12, "p=0.0", "p=3.4", 12, 8},     {"n", 13, "n=-3", "n=42", 13, 4},
      {"w", 17, "w=", "w=hello", 17, 0},       {"ip", 19, "ip=1.2.3.4", "ip=10.1.2.3", 19, 4},
      {"n", 21, "n=4294967293", "n=42", 21, 4}, {"w", 23, "w=", "w=hello", 23, 0},
  };
  orxdb_buffer pi, pt;
  ASSERT_NE(0, orxdb_read("pi", &pi));
  ASSERT_NE(0, orxdb_read("pt", &pt));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.property) + " type " + std::to_string(c.type));
    for (orxdb_buffer* element : {&pi, &pt}) {
      ASSERT_TRUE(msg_.clearData());
      d_.addToHeader(&msg_, element, c.property, c.type);
      Tessel_event d;
      ASSERT_TRUE(tessel_msgNextDatum(&msg_, &d));
      EXPECT_EQ(element == &pi ? c.fromInteger : c.fromText, show(d));
      EXPECT_EQ(c.sentType, d.type);
      EXPECT_EQ(c.length != 0 ? c.length : strlen(static_cast<char*>(d.value)), d.length);
    }
  }
  // Codes outside 1 to 23 add nothing.
  ASSERT_TRUE(msg_.clearData());
  for (int type : {0, 24, -1}) d_.addToHeader(&msg_, &pi, "n", type);
  Tessel_event d;
  ASSERT_TRUE(tessel_msgNextDatum(&msg_, &d));
  EXPECT_EQ(0u, d.type);
}

}  // namespace
