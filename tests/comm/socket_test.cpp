// Sockets on loopback: CCommCtrl in socket mode (UDP, TCP client, TCP
// server) and CSock's slots, with peers made of the platform's sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "comm/test_owner.h"
#include "platform/base/socket.h"
#include "quorex/comm_ctrl.h"
#include "quorex/sock.h"
#include "support/wait_until.h"

using testing_support::waitUntil;

namespace {

struct Events {
  std::atomic<int> received{0}, connected{0}, disconnected{0};
};

int32_t countEvent(uint32_t event, intptr_t owner) {
  Events* e = reinterpret_cast<Events*>(owner);
  if (event == kCommEventReceived) ++e->received;
  if (event == kCommEventConnected) ++e->connected;
  if (event == kCommEventDisconnected) ++e->disconnected;
  return 0;
}

// A port nobody listens on now.
uint16_t freePort(platform::SocketKind kind) {
  platform::Socket s;
  EXPECT_TRUE(s.open(kind, 0));
  return s.localPort();
}

std::string readPacket(CCommCtrl& port, uint32_t* errors = nullptr) {
  char buffer[2048];
  uint32_t e = 0;
  int32_t n = port.CommRead(buffer, sizeof buffer, &e);
  if (errors) *errors = e;
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string receiveOn(platform::Socket& s, std::string* from = nullptr, uint16_t* fromPort = nullptr) {
  char buffer[2048];
  int32_t n = s.receiveFrom(buffer, sizeof buffer, from, fromPort);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

class SocketPortTest : public ::testing::Test {
 protected:
  void openUdp(uint16_t sendPort) {
    port_.SetSocket(1);
    port_.SetSrvPrtcl(1);
    local_ = freePort(platform::kSocketDatagram);
    port_.SetRecvPort(local_);
    port_.SetSendPort(sendPort);
    port_.SetSendAdrsStr("127.0.0.1");
    ASSERT_EQ(port_.CommOpen(reinterpret_cast<HWND>(&events_), &countEvent), 1);
  }
  Events events_;
  CCommCtrl port_;
  uint16_t local_ = 0;
};

TEST_F(SocketPortTest, UdpBothWaysAnswersTheLastSenderAndReadsOnePacketAtATime) {
  platform::Socket peer;
  ASSERT_TRUE(peer.open(platform::kSocketDatagram, 0));
  openUdp(peer.localPort());
  // Written to the configured peer; the result is the byte count, as for a serial line.
  uint32_t errors = 99;
  EXPECT_EQ(port_.CommWrite("hello", 5, &errors), 5);
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(receiveOn(peer), "hello");

  // A second peer writes; the next write answers it.
  platform::Socket other;
  ASSERT_TRUE(other.open(platform::kSocketDatagram, 0));
  std::string hundred(100, 'x');
  hundred[60] = 'y';
  ASSERT_EQ(other.sendTo(hundred.data(), 100, "127.0.0.1", local_), 100);
  ASSERT_EQ(other.sendTo("next", 4, "127.0.0.1", local_), 4);
  ASSERT_TRUE(waitUntil([&] { return events_.received.load() >= 2; }));
  EXPECT_EQ(port_.GetInQue(), 100);  // the oldest packet only
  char part[60];
  EXPECT_EQ(port_.CommRead(part, 60, &errors), 60);
  EXPECT_EQ(port_.GetInQue(), 40);
  EXPECT_EQ(readPacket(port_), hundred.substr(60));
  EXPECT_EQ(readPacket(port_), "next");
  EXPECT_EQ(readPacket(port_), "");
  EXPECT_EQ(port_.CommWrite("back", 4, &errors), 4);
  std::string from;
  uint16_t fromPort = 0;
  EXPECT_EQ(receiveOn(other, &from, &fromPort), "back");
  EXPECT_EQ(fromPort, local_);
  EXPECT_EQ(port_.GetSendPort(), other.localPort());
  EXPECT_EQ(port_.GetSendAdrsStr(), "127.0.0.1");
  EXPECT_EQ(port_.CommWrite(nullptr, 4, &errors), -1);
  EXPECT_EQ(port_.CommWrite("x", 0, &errors), -1);
}

TEST_F(SocketPortTest, AFullRingDropsItsOldestPacketAndSaysSo) {
  openUdp(freePort(platform::kSocketDatagram));
  platform::Socket peer;
  ASSERT_TRUE(peer.open(platform::kSocketDatagram, 0));
  for (int i = 0; i < 300; ++i) {
    std::string n = std::to_string(i);
    ASSERT_EQ(peer.sendTo(n.data(), static_cast<int32_t>(n.size()), "127.0.0.1", local_),
              static_cast<int32_t>(n.size()));
    // Pace the peer on the port's progress so the system's own buffer never overflows.
    ASSERT_TRUE(waitUntil([&] { return events_.received.load() >= i + 1; }));
  }
  uint32_t errors = 0;
  // 255 fit; the 45 oldest made room for the rest, and the port still receives.
  EXPECT_EQ(readPacket(port_, &errors), "45");
  EXPECT_EQ(errors & 0x1u, 0x1u);
  for (int i = 46; i < 300; ++i) ASSERT_EQ(readPacket(port_), std::to_string(i));
  EXPECT_EQ(readPacket(port_), "");
  ASSERT_EQ(peer.sendTo("more", 4, "127.0.0.1", local_), 4);
  ASSERT_TRUE(waitUntil([&] { return port_.GetInQue() == 4; }));
  EXPECT_EQ(readPacket(port_, &errors), "more");
  EXPECT_EQ(errors, 0u);
}

TEST_F(SocketPortTest, AUdpErrorLeavesThePortListening) {
  openUdp(freePort(platform::kSocketDatagram));
  platform::Socket peer;
  ASSERT_TRUE(peer.open(platform::kSocketDatagram, 0));
  // A datagram larger than a packet fails the receive.
  std::string large(2000, 'L');
  ASSERT_EQ(peer.sendTo(large.data(), 2000, "127.0.0.1", local_), 2000);
  ASSERT_EQ(peer.sendTo("after", 5, "127.0.0.1", local_), 5);
  ASSERT_TRUE(waitUntil([&] { return events_.received.load() >= 1; }));
  uint32_t errors = 0;
  EXPECT_EQ(readPacket(port_, &errors), "after");
  EXPECT_EQ(errors, 0x400u);
}

TEST_F(SocketPortTest, TcpClientBothWays) {
  platform::Socket server;
  ASSERT_TRUE(server.open(platform::kSocketStream, 0));
  ASSERT_TRUE(server.listen(1));
  port_.SetSocket(1);
  port_.SetSrvPrtcl(0);
  port_.SetReqCon(1);
  port_.SetRecvPort(0);
  port_.SetSendPort(server.localPort());
  port_.SetSendAdrsStr("127.0.0.1");
  port_.SetEventMask(kCommEventReceived | kCommEventConnected | kCommEventDisconnected);
  ASSERT_EQ(port_.CommOpen(reinterpret_cast<HWND>(&events_), &countEvent), 1);
  EXPECT_EQ(events_.connected.load(), 1);
  EXPECT_EQ(port_.IsSockCon(), 1);
  platform::Socket client;
  ASSERT_TRUE(server.accept(&client, nullptr, nullptr));
  uint32_t errors = 0;
  EXPECT_EQ(port_.CommWrite("ping", 4, &errors), 4);
  char buffer[16];
  EXPECT_EQ(client.receive(buffer, sizeof buffer), 4);
  EXPECT_EQ(client.send("pong", 4), 4);
  ASSERT_TRUE(waitUntil([&] { return port_.GetInQue() == 4; }));
  EXPECT_EQ(readPacket(port_), "pong");
  client.close();
  ASSERT_TRUE(waitUntil([&] { return events_.disconnected.load() == 1; }));
  EXPECT_EQ(port_.IsSockCon(), 0);
}

TEST_F(SocketPortTest, TcpServerTakesOneClientAfterAnother) {
  port_.SetSocket(1);
  port_.SetSrvPrtcl(0);
  port_.SetReqCon(0);
  local_ = freePort(platform::kSocketStream);
  port_.SetRecvPort(local_);
  port_.SetEventMask(kCommEventReceived | kCommEventConnected | kCommEventDisconnected);
  ASSERT_EQ(port_.CommOpen(reinterpret_cast<HWND>(&events_), &countEvent), 1);
  uint32_t errors = 0;
  EXPECT_EQ(port_.CommWrite("early", 5, &errors), -1);  // no client yet
  for (int round = 1; round <= 2; ++round) {
    platform::Socket client;
    ASSERT_TRUE(client.open(platform::kSocketStream, 0));
    ASSERT_TRUE(client.connect("127.0.0.1", local_));
    ASSERT_TRUE(waitUntil([&] { return events_.connected.load() == round; }));
    std::string text = "client" + std::to_string(round);
    ASSERT_EQ(client.send(text.data(), static_cast<int32_t>(text.size())), static_cast<int32_t>(text.size()));
    ASSERT_TRUE(waitUntil([&] { return port_.GetInQue() > 0; }));
    EXPECT_EQ(readPacket(port_), text);
    EXPECT_EQ(port_.CommWrite("ok", 2, &errors), 2);  // to the client of this round
    char buffer[8];
    EXPECT_EQ(client.receive(buffer, sizeof buffer), 2);
    EXPECT_EQ(port_.GetSendPort(), client.localPort());
    client.close();
    ASSERT_TRUE(waitUntil([&] { return events_.disconnected.load() == round; }));
  }
  port_.CommClose();
  EXPECT_EQ(port_.IsOpen(), 0);
}

TEST(CSockTest, SlotsPostTheirMessagesAndCarryDataBothWays) {
  TestOwner owner;
  CSock sock(owner.hwnd());
  tagQX_SOCK_FIELD* slots[16] = {};
  for (int i = 0; i < 16; ++i) {
    slots[i] = sock.Open(CSock::kUdp, 0);
    ASSERT_NE(slots[i], nullptr);
  }
  EXPECT_EQ(sock.Open(CSock::kUdp, 0), nullptr);  // a 17th
  EXPECT_EQ(slots[3]->messageId, 0x0E5Eu);
  const uint16_t port3 = slots[3]->socket->localPort();
  ASSERT_EQ(sock.Close(slots[5]), 0);
  EXPECT_EQ(sock.Open(0, 0), nullptr);  // no kind
  tagQX_SOCK_FIELD* again = sock.Open(CSock::kUdp, 0, 0x0F00);
  ASSERT_EQ(again, sock.Open(CSock::kUdp, 0) ? nullptr : again);  // slot 5 was the free one
  platform::Socket peer;
  ASSERT_TRUE(peer.open(platform::kSocketDatagram, 0));
  ASSERT_EQ(peer.sendTo("abc", 3, "127.0.0.1", port3), 3);
  ASSERT_TRUE(owner.pumpUntil([&] { return owner.delivered(0x0E5E, 1) == 1; }));
  char buffer[8];
  EXPECT_EQ(sock.Read(slots[3], buffer, 2), 2);
  EXPECT_EQ(sock.Read(slots[3], buffer, 8), 1);
  EXPECT_EQ(sock.Read(slots[3], buffer, 8), 0);
  EXPECT_EQ(sock.Read(slots[3], buffer, 0), -1);
  // The answer goes back to the last sender.
  EXPECT_EQ(sock.Send(slots[3], 2, "ok"), 0);
  EXPECT_EQ(receiveOn(peer), "ok");
  EXPECT_EQ(sock.Send(slots[3], 0, "ok"), -1);
}

TEST(CSockTest, TcpServerAndClientSlots) {
  TestOwner owner;
  CSock sock(owner.hwnd());
  tagQX_SOCK_FIELD* server = sock.Open(CSock::kTcpServer, freePort(platform::kSocketStream), 0x0F01);
  ASSERT_NE(server, nullptr);
  tagQX_SOCK_FIELD* client = sock.Open(CSock::kTcpClient, 0, 0x0F02);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(sock.Connect(client, 0, "127.0.0.1"), -1);
  ASSERT_EQ(sock.Connect(client, server->localPort, "127.0.0.1"), 0);
  EXPECT_EQ(sock.Send(client, 5, "hello"), 0);
  ASSERT_TRUE(owner.pumpUntil([&] { return owner.delivered(0x0F01, 1) == 1; }));
  char buffer[16];
  EXPECT_EQ(sock.Read(server, buffer, sizeof buffer), 5);
  EXPECT_EQ(sock.Send(server, 3, "hey"), 0);
  ASSERT_TRUE(owner.pumpUntil([&] { return owner.delivered(0x0F02, 1) == 1; }));
  EXPECT_EQ(sock.Read(client, buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "hey");
  EXPECT_EQ(sock.Close(client), 0);
  EXPECT_EQ(sock.Close(server), 0);
}

}  // namespace
