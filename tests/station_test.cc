// End-to-end tests of the station's RPC layer: qm.event, tessel_send,
// ovi_console and an agent on the forwarding library, over loopback with
// the host's rpcbind.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "harness/process.h"
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

// A started qm.event, tracing subscriptions.
class Dispatcher {
 public:
  Dispatcher() {
    EXPECT_TRUE(proc.start({QM_EVENT_BIN, "-d", "1"}));
    EXPECT_TRUE(proc.waitForOutput("serving program", 10)) << proc.errors();
  }
  ~Dispatcher() { EXPECT_EQ(0, proc.stop()); }
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

TEST(StationTest, DispatcherIsListedForUdpAndTcp) {
  Dispatcher qm;
  std::string table;
  ASSERT_EQ(0, runProgram({"/usr/sbin/rpcinfo", "-p"}, &table));
  EXPECT_NE(std::string::npos, table.find("100101   10   udp")) << table;
  EXPECT_NE(std::string::npos, table.find("100101   10   tcp")) << table;
  std::string ping;
  EXPECT_EQ(0, runProgram({"/usr/sbin/rpcinfo", "-t", "localhost", "100101", "10"}, &ping));
}

TEST(StationTest, ReportsReachASubscriberWithEveryFieldIntact) {
  Dispatcher qm;
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

TEST(StationTest, ConsoleSendsActionRequestsWithTheirOptions) {
  Process agent;
  ASSERT_TRUE(agent.start({TEST_AGENT_BIN, "--status", "57"}));
  ASSERT_TRUE(agent.waitForOutput("ready", 10)) << agent.errors();
  std::string out;
  ASSERT_EQ(0, runProgram({OVI_CONSOLE_BIN, "--register", "--prog", "0x20000303", "--vers", "3",
                           "--filter", "f.filter", "--db", "office", "--recv-orx", "north",
                           "--addr", "127.0.0.2", "--timeout", "1"}, &out));
  EXPECT_EQ("{\"request\":\"register\",\"status\":57}\n", out);
  ASSERT_EQ(0, runProgram({OVI_CONSOLE_BIN, "--delete", "--prog", "0x20000303", "--db", "office",
                           "--timeout", "1"}, &out));
  EXPECT_EQ("{\"request\":\"delete\",\"status\":57}\n", out);
  ASSERT_TRUE(agent.waitForLines(3, 10));
  std::vector<std::string> lines = agent.lines();
  EXPECT_EQ("{\"type\":6,\"flags\":128,\"system\":\"\",\"group\":\"\",\"key\":\"\",\"count\":0,"
            "\"interval\":0,\"data\":{\"tessel_rendez_addr\":\"127.0.0.2\","
            "\"tessel_rendez_prog\":\"536871683\",\"tessel_rendez_vers\":\"3\","
            "\"vant_filter_file\":\"f.filter\",\"vant_orx_name\":\"office\","
            "\"receiving_orx\":\"north\"}}",
            lines[1]);
  EXPECT_NE(std::string::npos, lines[2].find("\"flags\":256")) << lines[2];
  EXPECT_EQ(std::string::npos, lines[2].find("receiving_orx")) << lines[2];
  EXPECT_EQ(0, agent.stop());
}

TEST(StationTest, ConsoleWithoutDaemonFails) {
  ASSERT_FALSE(registered(kAgentProg, 10)) << "another agent runs on this host";
  std::string out;
  int status = runProgram({OVI_CONSOLE_BIN, "--register", "--prog", "0x20000304"}, &out);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
}

// The state letter of /proc/PID/stat, or 0 when the process is gone.
char processState(pid_t pid) {
  FILE* f = fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (f == nullptr) return 0;
  char state = 0;
  if (fscanf(f, "%*d (%*[^)]) %c", &state) != 1) state = 0;
  fclose(f);
  return state;
}

TEST(StationTest, AgentShutsDownOnSigtermAndItsChildrenJustEnd) {
  Process agent;
  ASSERT_TRUE(agent.start({TEST_AGENT_BIN, "--fork-child"}));
  ASSERT_TRUE(agent.waitForOutput("ready", 10)) << agent.errors();
  ASSERT_TRUE(registered(kAgentProg, 10));
  pid_t child = 0;
  ASSERT_EQ(1, sscanf(agent.output().c_str(), "child %d", &child));
  ASSERT_EQ(0, kill(child, SIGTERM));
  // The agent does not reap it: the child ends as a zombie.
  EXPECT_TRUE(waitUntil([&] { return processState(child) == 'Z'; }, 10));
  EXPECT_TRUE(registered(kAgentProg, 10)) << "a child's SIGTERM leaves the agent registered";
  EXPECT_EQ(std::string::npos, agent.output().find("shutdown"));

  int status = agent.stop(SIGTERM, 10);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_NE(std::string::npos, agent.output().find("shutdown\n"));
  EXPECT_FALSE(registered(kAgentProg, 10));
}

// Sends raw bytes to a UDP port and over a TCP connection to a TCP port.
void sendGarbage(unsigned short udpPort, unsigned short tcpPort, const std::string& bytes) {
  struct sockaddr_in sin = {};
  sin.sin_family = AF_INET;
  sin.sin_addr = loopback();
  sin.sin_port = htons(udpPort);
  int u = socket(AF_INET, SOCK_DGRAM, 0);
  sendto(u, bytes.data(), bytes.size(), 0, reinterpret_cast<struct sockaddr*>(&sin), sizeof sin);
  close(u);
  sin.sin_port = htons(tcpPort);
  int t = socket(AF_INET, SOCK_STREAM, 0);
  if (connect(t, reinterpret_cast<struct sockaddr*>(&sin), sizeof sin) == 0) {
    ssize_t n = write(t, bytes.data(), bytes.size());
    (void)n;
  }
  close(t);
}

// An RPC call whose arguments are the given bytes.
std::string rawArgs;
bool_t xdrRaw(XDR* x, void*) {
  return xdr_opaque(x, const_cast<char*>(rawArgs.data()), rawArgs.size());
}

// Calls proc with the given bytes as its arguments.
enum clnt_stat callRaw(CLIENT* handle, u_long proc, const std::string& bytes) {
  rawArgs = bytes;
  struct timeval timeout = {5, 0};
  Tessel_error reply;
  if (proc == NULLPROC)
    return clnt_call(handle, proc, (xdrproc_t)tessel_xdrVoid, nullptr, (xdrproc_t)tessel_xdrVoid,
                     nullptr, timeout);
  return clnt_call(handle, proc, (xdrproc_t)xdrRaw, nullptr, (xdrproc_t)_tessel_xdrStatus,
                   (char*)&reply, timeout);
}

// Makes a valid message encoding to damage.
std::string validMessageBytes() {
  TesselServiceMsg msg;
  msg.type = TESSEL_MSG_TRAP;
  Tessel_data d = {"name", TESSEL_STRING, 5, const_cast<char*>("value")};
  EXPECT_TRUE(TesselGeneric().putData(&d, &msg));
  char buf[4096];
  XDR x;
  xdrmem_create(&x, buf, sizeof buf, XDR_ENCODE);
  EXPECT_TRUE(_tessel_serialMsg(&x, &msg));
  std::string out(buf, xdr_getpos(&x));
  xdr_destroy(&x);
  return out;
}

void expectServerSurvivesGarbage(unsigned long prog, unsigned long vers) {
  unsigned short udp = portOf(prog, vers, IPPROTO_UDP), tcp = portOf(prog, vers, IPPROTO_TCP);
  ASSERT_NE(0, udp);
  ASSERT_NE(0, tcp);
  sendGarbage(udp, tcp, std::string(1, '\0'));
  sendGarbage(udp, tcp, std::string("\x80\x00\x00\x10partial", 11));  // a record cut short
  sendGarbage(udp, tcp, std::string("\xff\xff\xff\xff", 4));          // a huge record
  sendGarbage(udp, tcp, std::string(3000, 'x'));

  std::string valid = validMessageBytes();
  std::vector<std::string> bad = {"", valid.substr(0, valid.size() - 4), valid.substr(0, 40),
                                  std::string(200, '\xff')};
  for (size_t i : {size_t(7), size_t(50), valid.size() - 1}) {
    bad.push_back(valid);
    bad.back()[i] ^= 0x20;
  }
  for (int protocol : {TESSEL_PROTO_UDP, TESSEL_PROTO_TCP}) {
    TesselClient client;
    ASSERT_TRUE(client.getClient(loopback(), protocol, prog, vers, 0, {5, 0}));
    for (const std::string& b : bad)
      EXPECT_EQ(RPC_CANTDECODEARGS, callRaw(client.handle(), TESSEL_PROC_MESSAGE, b))
          << "protocol " << protocol << ", " << b.size() << " bytes";
    EXPECT_EQ(RPC_SUCCESS, callRaw(client.handle(), TESSEL_PROC_MESSAGE, valid));
    EXPECT_EQ(RPC_SUCCESS, callRaw(client.handle(), NULLPROC, ""));
  }
}

TEST(StationTest, MalformedMessagesAreRefusedAndServiceGoesOn) {
  {
    Dispatcher qm;
    expectServerSurvivesGarbage(QM_EVENT_PROG, QM_EVENT_VERS);
    EXPECT_TRUE(qm.proc.running());
  }
  Process agent;
  ASSERT_TRUE(agent.start({TEST_AGENT_BIN}));
  ASSERT_TRUE(agent.waitForOutput("ready", 10));
  expectServerSurvivesGarbage(kAgentProg, 10);
  EXPECT_TRUE(agent.running());
  EXPECT_EQ(0, agent.stop());
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
