// The remote file service client against a scripted server on loopback:
// the handshake, frames, status mapping, split and broken replies.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "lib/container/remote/connection.h"
#include "peers/file_service_peer.h"
#include "platform/base/last_error.h"
#include "platform/base/system_info.h"
#include "zemta/sockifs.h"

namespace {

using testing_support::FileServicePeer;

class SockIfsConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    zemta::remote::setReplyTimeout(5000);
    peer_ = std::make_unique<FileServicePeer>();
  }
  void TearDown() override {
    SockDisconnect();
    peer_.reset();
    zemta::remote::setReplyTimeout(30000);
  }
  void connect() { ASSERT_EQ(SockConnect("127.0.0.1", peer_->port()), 0); }
  std::string request(size_t i) const { return peer_->requests().at(i); }

  std::unique_ptr<FileServicePeer> peer_;
};

TEST_F(SockIfsConnection, HandshakeSendsTheClientLineAndReadsTheServerVersion) {
  peer_->setGreeting("#FFFFFFFF#SERVER=REDIVIDI;VER=2.1;MORE=x;\r\n");
  connect();
  EXPECT_EQ(SockIsConnect(), 1);
  EXPECT_EQ(SockBindWVSrv("Varnex", "1.0"), 0);
  EXPECT_EQ(peer_->clientLine(), "#FFFFFFFF#BIND=IFS;WSID=" + platform::hostName() + ";APP=Varnex;VER=1.0;\r\n");
  char version[32] = {};
  EXPECT_EQ(SockGetWVSrvVer(version, sizeof version), 0);
  EXPECT_STREQ(version, "2.1.0.0");
}

TEST_F(SockIfsConnection, HandshakeWithoutApplicationOrVersionSendsNeither) {
  connect();
  EXPECT_EQ(SockBindWVSrv(nullptr, nullptr), 0);
  EXPECT_EQ(peer_->clientLine(), "#FFFFFFFF#BIND=IFS;WSID=" + platform::hostName() + ";\r\n");
}

TEST_F(SockIfsConnection, HandshakeRefusesWhatIsNotTheServersLine) {
  const std::string cases[] = {
      "#FFFFFFFF#SERVER=REDIVI\r\n",                       // 25 bytes
      "#FFFFFFFF#SERVER=OTHERSRV;VER=1.0;\r\n",             // another server
      "#FFFFFFFF#SERVER=REDIVIDI;NOVERSION;\r\n",           // no version item
      std::string(5000, 'x'),                               // too long
  };
  ASSERT_EQ(cases[0].size(), 25u);
  for (const std::string& greeting : cases) {
    peer_ = std::make_unique<FileServicePeer>();
    peer_->setGreeting(greeting);
    connect();
    EXPECT_EQ(SockBindWVSrv("Varnex", nullptr), 10053) << greeting.substr(0, 40);
    EXPECT_EQ(SockIsConnect(), 0);
  }
}

TEST_F(SockIfsConnection, HandshakeLineSplitIntoSingleBytesIsReadWhole) {
  peer_->setOneByteWrites(true);
  connect();
  EXPECT_EQ(SockBindWVSrv("Varnex", "1.0"), 0);
  char version[32] = {};
  SockGetWVSrvVer(version, sizeof version);
  EXPECT_STREQ(version, "1.2.3.4");
}

TEST_F(SockIfsConnection, WithoutConnectionRequestsFailWith10093AndSendNothing) {
  EXPECT_EQ(SockIsConnect(), 0);
  EXPECT_EQ(SockBindWVSrv(nullptr, nullptr), 10093);
  EXPECT_EQ(SockDisconnect(), 10093);
  EXPECT_EQ(SockIfsGetSize(5), -1);
  EXPECT_EQ(platform::lastError(), 10093u);
  EXPECT_EQ(SockIfsCreate("a.dbf", -1, nullptr, 0x2000, 0, 0), 0u);
  EXPECT_EQ(platform::lastError(), 10093u);
  uint32_t got = 7;
  char buffer[4];
  EXPECT_EQ(SockIfsRead(5, buffer, 4, &got, 0, 0, 1), -1);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(platform::lastError(), 10093u);
  EXPECT_TRUE(peer_->requests().empty());
}

TEST_F(SockIfsConnection, BareRequestIsTenBytesWithLengthSix) {
  connect();
  peer_->queue(FileServicePeer::frame(0x06, 0, 0x1234));
  EXPECT_EQ(SockIfsClose(0x1234), 0);
  EXPECT_EQ(request(0), FileServicePeer::frame('C', 0, 0x1234));
  EXPECT_EQ(request(0).size(), 10u);
  EXPECT_EQ(FileServicePeer::u16At(request(0), 2), 6u);
}

TEST_F(SockIfsConnection, ReplyForAnotherHandleIsRefused) {
  connect();
  peer_->queue(FileServicePeer::frame(0x06, 0, 0x9999));
  EXPECT_EQ(SockIfsClose(0x1234), -1);
  EXPECT_EQ(SockIsConnect(), 1);
}

TEST_F(SockIfsConnection, ServerStatusesMapToLibraryCodes) {
  const struct {
    uint32_t status;
    uint32_t code;
  } cases[] = {
      {0x400000A3, 0x20000083}, {0x40000045, 0x20000045}, {0x40000105, 0x20000000},
      {0x40000090, 0x20000010}, {0x400000C1, 0x20000101}, {0x400000E2, 0x20001002},
  };
  for (const auto& c : cases) EXPECT_EQ(zemta::remote::mapServerStatus(c.status), c.code) << std::hex << c.status;

  connect();
  // A refusal with bit 7 of the code set carries a server status in byte 9.
  peer_->queue(FileServicePeer::frame(0x80, 0xA3, 0x1234));
  EXPECT_EQ(SockIfsClose(0x1234), -1);
  EXPECT_EQ(platform::lastError(), 0x20000083u);
  // Any other refusal carries a plain number.
  peer_->queue(FileServicePeer::frame(0x15, 2, 0x1234));
  EXPECT_EQ(SockIfsClose(0x1234), -1);
  EXPECT_EQ(platform::lastError(), 2u);
  EXPECT_EQ(SockIsConnect(), 1);
}

TEST_F(SockIfsConnection, ReplyShorterThanItsLengthFieldIsRefused) {
  zemta::remote::setReplyTimeout(300);
  connect();
  // Length field 20 announces 24 bytes; 18 arrive, then nothing: refused
  // with the status its header carries.
  std::string reply = FileServicePeer::frame(0x95, 0x03, 0x1234, std::string(14, 'x'));
  ASSERT_EQ(FileServicePeer::u16At(reply, 2), 20u);
  peer_->queue(FileServicePeer::Answer{reply.substr(0, 18), false, false, true});
  EXPECT_EQ(SockIfsClose(0x1234), -1);
  EXPECT_EQ(platform::lastError(), 0x20000003u);
  // The stream is out of step: the connection is closed.
  EXPECT_EQ(SockIsConnect(), 0);
  EXPECT_EQ(SockIfsClose(0x1234), -1);
  EXPECT_EQ(platform::lastError(), 10093u);

  // A data reply cut short fails with the time-out.
  connect();
  reply = FileServicePeer::frame(0x42, 0, 0x1234, std::string(14, 'x'));
  peer_->queue(FileServicePeer::Answer{reply.substr(0, 18), false, false, true});
  EXPECT_EQ(SockIfsGetSize(0x1234), -1);
  EXPECT_EQ(platform::lastError(), 10060u);
  EXPECT_EQ(SockIsConnect(), 0);
}

TEST_F(SockIfsConnection, ResetMidReplyFailsAndDropsTheConnection) {
  connect();
  std::string reply = FileServicePeer::frame(0x42, 0, 0x1234, std::string(409, 'r'));
  peer_->queue(FileServicePeer::Answer{reply.substr(0, 100), false, true, false});
  std::vector<char> buffer(409);
  uint32_t got = 0;
  EXPECT_EQ(SockIfsRead(0x1234, buffer.data(), 409, &got, 0, 0, 0), -1);
  EXPECT_EQ(got, 0u);
  const uint32_t error = platform::lastError();
  EXPECT_TRUE(error == 10053 || error == 10054) << error;
  EXPECT_EQ(SockIsConnect(), 0);
}

TEST_F(SockIfsConnection, FrameLengthBeyondTheProtocolIsRefused) {
  connect();
  std::string reply = FileServicePeer::frame(0x42, 0, 0x1234, std::string(5000, 'r'));
  peer_->queue(reply);
  char buffer[8];
  uint32_t got = 0;
  EXPECT_EQ(SockIfsRead(0x1234, buffer, 8, &got, 0, 0, 0), -1);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(SockIsConnect(), 0);
}

}  // namespace
