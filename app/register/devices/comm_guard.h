// The guard of the register's serial ports: held while a receive handler
// drains one port's input queue, so that one handler never runs inside
// another. It is held only around the port's own data: what the data asks
// for (a key, a mode change) is done after it is released, so a key that
// opens a modal dialog cannot leave the next device message waiting for it.
#pragma once

#include <cstdint>
#include <functional>

class CSerial;

namespace varnex::reg {

class CCommGuard {
 public:
  // False when the guard is held already (a drain is under way on this
  // thread): the caller leaves the data for the next notice.
  bool TryTake() {
    if (m_bHeld) return false;
    m_bHeld = true;
    return true;
  }
  void Release() { m_bHeld = false; }
  bool IsHeld() const { return m_bHeld; }

 private:
  bool m_bHeld = false;
};

class CCommGuardHold {
 public:
  explicit CCommGuardHold(CCommGuard& guard) : m_guard(guard), m_bTaken(guard.TryTake()) {}
  ~CCommGuardHold() {
    if (m_bTaken) m_guard.Release();
  }
  CCommGuardHold(const CCommGuardHold&) = delete;
  CCommGuardHold& operator=(const CCommGuardHold&) = delete;
  bool Taken() const { return m_bTaken; }

 private:
  CCommGuard& m_guard;
  bool m_bTaken;
};

// One entry of a port's receive queue, as one read gave it (an entry longer
// than the read buffer comes in several reads).
struct CommMessage {
  const uint8_t* data;
  int32_t length;
  uint32_t type;  // the entry's kind; 0x8000 with no data: a frame had no answer
  int32_t tag;    // the tag of the frame it answers, 0 none
};

// Reads the port's receive queue to its end under the guard, handing every
// entry to take, the empty ones too. False when the guard was held already
// (the data waits for the next notice). A read error ends the drain like an
// empty queue: what was read before it is handed on.
bool DrainCommPort(CSerial& port, CCommGuard& guard, const std::function<void(const CommMessage&)>& take);

}  // namespace varnex::reg
