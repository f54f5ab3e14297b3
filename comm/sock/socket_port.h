// The state of a CCommCtrl in socket mode: its sockets, receive thread and
// packet ring.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "comm/sock/packet_ring.h"
#include "platform/base/socket.h"
#include "quorex/comm_ctrl.h"

struct CCommCtrl::SocketPort {
  platform::Socket socket;      // the UDP socket, the TCP client or the listening socket
  platform::Socket connection;  // the TCP server's accepted client
  std::mutex connectionLock;    // the connection is swapped by the thread and used for sends
  quorex::PacketRing ring;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<bool> threadRunning{false};
  // The last sender (UDP) or the accepted client (TCP server); the owner's
  // thread copies it into the send address and port before it writes.
  std::mutex peerLock;
  std::string peerAddress;
  uint16_t peerPort = 0;
  bool peerChanged = false;
};
