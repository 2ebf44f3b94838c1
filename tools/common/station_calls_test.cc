// The datum builders and the action request a console sends, read back as
// a receiver reads them.
#include "station_calls.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "datum.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_types.h"

namespace {

// The message's data as "name type value" lines: strings as text, other
// four-byte values as numbers, the rest by their length.
std::string dataOf(TesselServiceMsg* msg) {
  std::string out;
  tessel_msgRewind(msg);
  Tessel_event d;
  while (tessel_msgNextDatum(msg, &d) && d.type != 0) {
    std::string value = "(" + std::to_string(d.length) + " bytes)";
    uint32_t word;
    if (d.type == TESSEL_STRING) {
      value.assign(static_cast<const char*>(d.value), d.length);
    } else if (d.length == 4) {
      memcpy(&word, d.value, 4);
      value = std::to_string(word);
    }
    out += std::string(d.name) + " " + std::to_string(d.type) + " " + value + "\n";
  }
  return out;
}

TEST(DatumTest, PutsCopyNameAndValueAndRefuseWhatCannotBeEncoded) {
  TesselServiceMsg msg;
  ASSERT_TRUE(msg.clearData());
  std::string text = "Running";
  EXPECT_EQ(1, tools_putText(&msg, "state", text));
  text = "changed";  // the message holds its own copy
  EXPECT_EQ(1, tools_putWord(&msg, "seq", TESSEL_INT, 42));
  const uint32_t oid[] = {1, 3, 6};
  EXPECT_EQ(1, tools_putDatum(&msg, std::string(200, 'n').c_str(), TESSEL_OID, oid, sizeof oid));
  uint32_t before = msg.arglistLength;
  EXPECT_EQ(0, tools_putDatum(&msg, "short", TESSEL_INT, oid, 3));
  EXPECT_EQ(before, msg.arglistLength);

  // The name is cut to the protocol's width.
  const std::string cut(TESSEL_NAME_SIZE - 1, 'n');
  EXPECT_EQ("state 9 Running\nseq 3 42\n" + cut + " 17 (12 bytes)\n", dataOf(&msg));
  Tessel_event d;
  ASSERT_TRUE(tessel_msgFindDatum(&msg, cut.c_str(), &d));
  EXPECT_EQ(TESSEL_OID, d.type);
  EXPECT_EQ(0, memcmp(oid, d.value, sizeof oid));
}

TEST(ActionRequestTest, CarriesTheConsolesOptionsInOrder) {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  ActionRequest request;
  request.flags = ACTION_SYNC;
  inet_aton("10.201.0.2", &request.addr);
  request.prog = 0x20000100;
  request.vers = 3;
  request.filter = "console.filter";
  request.db = "office";
  const std::string addr = std::to_string(request.addr.s_addr);

  TesselServiceMsg msg;
  ASSERT_EQ(1, tools_buildActionRequest(request, &msg));
  EXPECT_EQ(static_cast<uint32_t>(TESSEL_MSG_ACTION), msg.type);
  EXPECT_EQ(0x200u, msg.flags);
  EXPECT_STREQ(host, msg.host);
  const std::string common = "tessel_rendez_addr 11 " + addr +
                             "\n"
                             "tessel_rendez_prog 4 536871168\n"
                             "tessel_rendez_vers 4 3\n"
                             "vant_filter_file 9 console.filter\n"
                             "vant_orx_name 9 office\n";
  EXPECT_EQ(common, dataOf(&msg));

  request.receivingOrx = "bench0";
  TesselServiceMsg withOrx;
  ASSERT_EQ(1, tools_buildActionRequest(request, &withOrx));
  EXPECT_EQ(common + "receiving_orx 9 bench0\n", dataOf(&withOrx));
}

}  // namespace
