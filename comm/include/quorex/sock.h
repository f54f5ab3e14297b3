// CSock: up to 16 sockets ("slots") for owner windows, each with its own
// receive thread and a ring of 255 received packets. Every packet that
// arrives posts the slot's message id to its owner (wParam 1; lParam 1 when
// the ring was full and its oldest packet was dropped to make room, else 0).
//
// Slot kinds: 0x1 TCP server (one client), 0x2 TCP client (Connect starts
// it), 0x4 UDP, 0x8 with 0x4: broadcasts allowed. A UDP slot keeps
// receiving after a passing error (a datagram too large, a refused send).
//
// Threads: the owner's thread opens, connects, sends, reads and closes;
// each slot's receive thread only fills its ring and posts.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ui/types.h"
#include "quorex/export.h"

namespace platform {
class Socket;
}
namespace quorex {
class PacketRing;
}

struct QUOREX_API tagQX_SOCK_FIELD {
  tagQX_SOCK_FIELD();
  ~tagQX_SOCK_FIELD();
  HWND owner = nullptr;
  uint32_t messageId = 0;
  char peerAddress[32] = {};
  std::atomic<int32_t> threadEnded{0};
  uint16_t kind = 0;
  uint16_t localPort = 0;
  uint16_t peerPort = 0;
  std::unique_ptr<platform::Socket> socket;
  std::unique_ptr<quorex::PacketRing> ring;
  std::thread thread;
  std::unique_ptr<platform::Socket> accepted;
  int32_t index = -1;
  std::atomic<bool> stop{false};
  std::mutex peerLock;  // the peer address and port, written by a UDP slot's thread
};

class QUOREX_API CSock {
 public:
  static constexpr int32_t kSlots = 16;
  static constexpr uint16_t kTcpServer = 0x1;
  static constexpr uint16_t kTcpClient = 0x2;
  static constexpr uint16_t kUdp = 0x4;
  static constexpr uint16_t kBroadcast = 0x8;

  explicit CSock(HWND owner = nullptr);
  virtual ~CSock();
  CSock(const CSock&) = delete;
  CSock& operator=(const CSock&) = delete;

  // The lowest free slot, bound to port; null when all 16 are taken, no kind
  // bit is given or the socket cannot be made. Message id 0 means 0x0E5B +
  // the slot's index; a null owner means the default owner.
  tagQX_SOCK_FIELD* Open(uint16_t kind, uint16_t port, int32_t messageId = 0, HWND owner = nullptr,
                         int32_t startup = 1);
  // TCP client slots: connects and starts the receive thread. 0, or -1 (bad
  // arguments, refused, or already connected); a refused slot can try again.
  int32_t Connect(tagQX_SOCK_FIELD* slot, uint16_t port, const char* address);
  // 0 sent whole, -1 failed. UDP: a non-zero port and a non-null address
  // replace the peer's.
  int32_t Send(tagQX_SOCK_FIELD* slot, uint16_t length, const void* data, uint16_t port = 0,
               const char* address = nullptr);
  // As CCommCtrl::SockRead on the slot's ring.
  int32_t Read(tagQX_SOCK_FIELD* slot, void* buffer, uint16_t size);
  int32_t Close(tagQX_SOCK_FIELD* slot, int32_t cleanup = 0);

 private:
  void ReceiveThread(tagQX_SOCK_FIELD* slot);
  bool StartThread(tagQX_SOCK_FIELD* slot);
  HWND owner_ = nullptr;
  int32_t started_ = 0;
  tagQX_SOCK_FIELD* slots_[kSlots] = {};
};
