// End-to-end tests of the station's RPC layer: qm.event, tessel_send and
// ovi_console, over loopback with the host's rpcbind.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "harness/process.h"
#include "harness/station.h"
#include "rpc_server.h"
#include "tessel/tessel_call.h"
#include "tessel/tessel_client.h"
#include "tessel/tessel_generic.h"
#include "tessel/tessel_oid.h"
#include "tessel/tessel_rendez.h"
#include "tessel/tessel_xdr.h"

namespace {

const unsigned long kAgentProg = 100139;

struct in_addr loopback() {
  struct in_addr a;
  a.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

unsigned short portOf(unsigned long prog, unsigned long vers, int protocol) {
  return tessel_getport(loopback(), prog, vers, protocol, {2, 0});
}

bool registered(unsigned long prog, unsigned long vers) {
  return portOf(prog, vers, IPPROTO_UDP) != 0 && portOf(prog, vers, IPPROTO_TCP) != 0;
}

// A started qm.event, tracing subscriptions, with its files below a
// temporary root.
class Dispatcher {
 public:
  Dispatcher() {
    EXPECT_TRUE(proc.start({QM_EVENT_BIN, "-d", "1"}, station.env()));
    EXPECT_TRUE(proc.waitForOutput("serving program", 10)) << proc.errors();
  }
  ~Dispatcher() { EXPECT_EQ(0, proc.stop()); }
  Station station;
  Process proc;
};

// Messages received by the test's own subscriber, decoded.
std::vector<std::unique_ptr<TesselServiceMsg>> received;

void collect(struct svc_req* rq, SVCXPRT* xprt) {
  if (rq->rq_proc != TESSEL_PROC_MESSAGE) {
    svc_sendreply(xprt, (xdrproc_t)tessel_xdrVoid, nullptr);
    return;
  }
  auto msg = std::make_unique<TesselServiceMsg>();
  if (!rpc_takeMessage(xprt, msg.get())) return;
  rpc_answerStatus(xprt, 0);
  received.push_back(std::move(msg));
}

std::vector<Tessel_event> dataOf(TesselServiceMsg* msg) {
  std::vector<Tessel_event> out;
  Tessel_event d;
  tessel_msgRewind(msg);
  while (tessel_msgNextDatum(msg, &d) && d.type != 0) out.push_back(d);
  return out;
}

TEST(StationTest, ReportsReachASubscriberWithEveryFieldIntact) {
  Dispatcher qm;
  ASSERT_TRUE(registered(QM_EVENT_PROG, QM_EVENT_VERS)) << "listed for UDP and TCP";
  received.clear();
  RpcServer subscriber;
  const unsigned long prog = 0x20000301;
  ASSERT_TRUE(subscriber.serve(prog, 3, collect));
  struct timeval timeout = {5, 0};
  ASSERT_TRUE(tessel_register_rendez("localhost", "", prog, 3, 0, 1, &timeout));

  // The senders run while this process serves: qm.event answers a sender
  // only after the subscriber took the report.
  Process event, trap;
  ASSERT_TRUE(event.start({TESSEL_SEND_BIN, "--type", "event", "--from", "node7", "--group",
                           "perf", "--system", "sys1", "--key", "k1", "--priority", "2",
                           "--agent-prog", "100120", "load=int:95/5:90:3",
                           "label=string:disk /var/x:1", "--tcp"}));
  subscriber.run(10, [] { return received.size() >= 1; });
  ASSERT_TRUE(trap.start({TESSEL_SEND_BIN, "--type", "trap", "--agent-prog", "100110",
                          "--group", "tessel_db_config", "--flags", "0x200",
                          "added=string:router7", "count=int:-5", "state=enum:3",
                          "enterprise=oid:1.3.6.1.4.1.11"}));
  subscriber.run(10, [] { return received.size() >= 2; });
  ASSERT_EQ(0, event.wait(20)) << event.errors();
  ASSERT_EQ(0, trap.wait(20)) << trap.errors();
  ASSERT_EQ(2u, received.size());

  TesselServiceMsg* e = received[0].get();
  EXPECT_EQ(4u, e->type);
  EXPECT_STREQ("node7", e->host);
  EXPECT_STREQ("perf", e->group);
  EXPECT_STREQ("sys1", e->system);
  EXPECT_STREQ("k1", e->key);
  EXPECT_EQ(2, e->priority);
  EXPECT_EQ(100120u, e->agentProg);
  std::vector<Tessel_event> ed = dataOf(e);
  ASSERT_EQ(2u, ed.size());
  EXPECT_STREQ("load", ed[0].name);
  EXPECT_EQ(95, *static_cast<int*>(ed[0].value));
  EXPECT_EQ(5, ed[0].relationalOp);
  EXPECT_EQ(90, *static_cast<int*>(ed[0].threshold));
  EXPECT_EQ(3, ed[0].priority);
  // A '/' in a text value is kept when what follows is not a threshold.
  EXPECT_STREQ("disk /var/x:1", static_cast<char*>(ed[1].value));
  EXPECT_EQ(0, ed[1].relationalOp);

  TesselServiceMsg* t = received[1].get();
  EXPECT_EQ(12u, t->type);
  EXPECT_EQ(0x200u, t->flags);
  EXPECT_EQ(100110u, t->agentProg);
  EXPECT_STREQ("tessel_db_config", t->group);
  std::vector<Tessel_event> td = dataOf(t);
  ASSERT_EQ(4u, td.size());
  EXPECT_STREQ("router7", static_cast<char*>(td[0].value));
  EXPECT_EQ(7u, td[0].length);
  EXPECT_EQ(-5, *static_cast<int*>(td[1].value));
  EXPECT_EQ(14u, td[2].type);
  EXPECT_EQ(3, *static_cast<int*>(td[2].value));
  EXPECT_EQ(17u, td[3].type);
  EXPECT_STREQ("1.3.6.1.4.1.11", tessel_oid2string(td[3].length, td[3].value));
  tessel_unregister_rendez("localhost", "", prog, 3, 0, 1, timeout);
}

TEST(StationTest, ConsolePrintsReceivedMessagesAsJsonLines) {
  Dispatcher qm;
  Process console;
  ASSERT_TRUE(console.start({OVI_CONSOLE_BIN, "--subscribe", "--prog", "0x20000302", "--vers",
                             "2", "--count", "2", "--timeout", "30"}));
  ASSERT_TRUE(qm.proc.waitForOutput("subscribed", 10)) << console.errors();
  std::string out;
  ASSERT_EQ(0, runProgram({TESSEL_SEND_BIN, "--type", "trap", "--from", "alpha", "--group", "g",
                           "--agent-prog", "7", "s=string:Running", "i=int:-3", "e=enum:2",
                           "o=oid:1.3.6"}, &out));
  EXPECT_EQ("0\n", out);
  ASSERT_EQ(0, runProgram({TESSEL_SEND_BIN, "--type", "event", "--from", "alpha",
                           "u=ushort:65535"}, &out));
  EXPECT_EQ(0, console.wait(20)) << console.errors();
  std::vector<std::string> lines = console.lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("{\"prog\":536871682,\"vers\":2,\"proc\":1,\"type\":12,\"agent_prog\":7,"
            "\"host\":\"alpha\",\"group\":\"g\",\"priority\":0,\"data\":["
            "{\"name\":\"s\",\"type\":9,\"length\":7,\"value\":\"Running\"},"
            "{\"name\":\"i\",\"type\":3,\"length\":4,\"value\":-3},"
            "{\"name\":\"e\",\"type\":14,\"length\":4,\"value\":2},"
            "{\"name\":\"o\",\"type\":17,\"length\":12,\"value\":\"1.3.6\"}]}",
            lines[0]);
  EXPECT_EQ("{\"prog\":536871682,\"vers\":2,\"proc\":1,\"type\":4,\"agent_prog\":0,"
            "\"host\":\"alpha\",\"group\":\"\",\"priority\":0,\"data\":["
            "{\"name\":\"u\",\"type\":2,\"length\":2,\"value\":65535}]}",
            lines[1]);
  EXPECT_FALSE(registered(0x20000302, 2)) << "the console unregisters when it ends";
}

TEST(StationTest, ConsoleWithoutDaemonFails) {
  ASSERT_FALSE(registered(kAgentProg, 10)) << "another agent runs on this host";
  std::string out;
  int status = runProgram({OVI_CONSOLE_BIN, "--register", "--prog", "0x20000304"}, &out);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
}

TEST(StationTest, UnreachableSubscriberIsDroppedAndOthersStillReceive) {
  Dispatcher qm;
  received.clear();
  RpcServer subscriber;
  const unsigned long prog = 0x20000305;
  ASSERT_TRUE(subscriber.serve(prog, 1, collect));
  struct timeval timeout = {5, 0};
  // Subscribed first, and never served.
  ASSERT_TRUE(tessel_register_rendez("localhost", "127.0.0.1", 0x20000306, 1, 0, 1, &timeout));
  ASSERT_TRUE(tessel_register_rendez("localhost", "127.0.0.1", prog, 1, 0, 1, &timeout));
  for (int i = 0; i < 4; i++) {
    Process sender;
    ASSERT_TRUE(sender.start({TESSEL_SEND_BIN, "--type", "trap", "n=int:" + std::to_string(i)}));
    subscriber.run(10, [i] { return received.size() >= static_cast<size_t>(i + 1); });
    EXPECT_EQ(0, sender.wait(20)) << sender.errors();
  }
  EXPECT_EQ(4u, received.size());
  EXPECT_TRUE(qm.proc.waitForOutput("dropped subscriber 127.0.0.1 program 536871686", 10))
      << qm.proc.output();
  tessel_unregister_rendez("localhost", "127.0.0.1", prog, 1, 0, 1, timeout);
}

}  // namespace
