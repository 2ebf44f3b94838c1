// The subprocess's RPC clients toward its receiver, and the choice of the
// client for one message.
#include <sys/socket.h>

#include <new>

#include "daemon.h"
#include "log.h"
#include "tessel/tessel_trap.h"

namespace {

// Largest message sent over UDP; longer ones go over TCP.
const uint32_t kUdpLimit = TESSEL_UDP_LIMIT;

struct ClientSlot {
  TesselClient* Daemon::Subprocess::*member;
  int protocol;
  bool event;  // program 100101 instead of the receiver's own
  const char* label;
};

// In the order they are made: a missing UDP client is fatal, a missing TCP
// one only costs the long messages.
const ClientSlot kSlots[] = {
    {&Daemon::Subprocess::udpClient, TESSEL_PROTO_UDP, false, "UDP client"},
    {&Daemon::Subprocess::udpEventClient, TESSEL_PROTO_UDP, true, "UDP Event client"},
    {&Daemon::Subprocess::tcpClient, TESSEL_PROTO_TCP, false, "TCP client"},
    {&Daemon::Subprocess::tcpEventClient, TESSEL_PROTO_TCP, true, "TCP Event client"},
};

const unsigned long kEventProg = 100101;

// The RPC library blocks every signal for the whole of a call, so the abort
// timer cannot interrupt a write to a receiver that stopped reading.  The
// write itself gives up a little after the timer expired; the timer's
// signal, delivered as the call lets signals in again, then abandons it.
void boundWrites(const TesselClient* client) {
  int fd;
  if (!clnt_control(client->handle(), CLGET_FD, reinterpret_cast<char*>(&fd))) return;
  struct timeval limit = {TCP_ABORT_SECONDS, 500000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

}  // namespace

int Daemon::createClients() {
  ovi_trace(2, "Daemon::createClients\n");
  sigset_t mask = blockSignals();
  // Destroyed in the order UDP, TCP, UDP Event, TCP Event.
  const ClientSlot* destroyOrder[] = {&kSlots[0], &kSlots[2], &kSlots[1], &kSlots[3]};
  for (const ClientSlot* slot : destroyOrder) {
    TesselClient*& client = child.*(slot->member);
    if (client == nullptr) continue;
    client->destroyClient();
    delete client;
    client = nullptr;
    ovi_trace(2, "destroyed %s client\n", slot->label);
  }
  const struct timeval timeout = {5, 0};
  for (const ClientSlot& slot : kSlots) {
    TesselClient*& client = child.*(slot.member);
    client = new (std::nothrow) TesselClient;
    if (client == nullptr || client->status != 0) {
      ovi_trace(2, "No memory\n");
      unblockSignals(mask);
      return 0;
    }
    ovi_trace(2, "creating %s, timeout %d sec ...\n", slot.label, static_cast<int>(timeout.tv_sec));
    if (client->getClient(child.rendezAddr, slot.protocol, slot.event ? kEventProg : child.rendezProg,
                          child.rendezVers, 0, timeout)) {
      ovi_trace(2, "created %s\n", slot.label);
      if (slot.protocol == TESSEL_PROTO_TCP) boundWrites(client);
      continue;
    }
    ovi_trace(2, "cannot create %s: %s\n", slot.label, clnt_spcreateerror(""));
    delete client;
    client = nullptr;
    if (slot.protocol == TESSEL_PROTO_UDP) {
      unblockSignals(mask);
      return 0;
    }
  }
  unblockSignals(mask);
  return 1;
}

int Daemon::loadClient(TesselServiceMsg* msg, bool event) {
  ovi_trace(2, event ? "Daemon::getEventClient\n" : "Daemon::getClient\n");
  sigset_t mask = blockSignals();
  // The length of the encoded data the message carries.
  uint32_t length = msg->arglistLength;
  ovi_trace(3, "Message length is %d\n", static_cast<int>(length));
  const char* label = event ? "Event client" : "client";
  TesselClient* client;
  if (length <= kUdpLimit) {
    client = event ? child.udpEventClient : child.udpClient;
    child.transport = TESSEL_PROTO_UDP;
    ovi_trace(2, "restored UDP %s\n", label);
  } else if ((client = event ? child.tcpEventClient : child.tcpClient) == nullptr) {
    ovi_trace(2, "no TCP client\n");
    unblockSignals(mask);
    return 0;
  } else {
    child.transport = TESSEL_PROTO_TCP;
    ovi_trace(2, "restored TCP %s\n", label);
  }
  client->loadInto(msg);
  unblockSignals(mask);
  return 1;
}

int Daemon::getClient(TesselServiceMsg* msg) { return loadClient(msg, false); }

int Daemon::getEventClient(TesselServiceMsg* msg) { return loadClient(msg, true); }
