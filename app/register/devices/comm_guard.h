// The guard of the register's serial ports: held while a receive handler
// drains one port's input queue, so that one handler never runs inside
// another. It is held only around the port's own data: what the data asks
// for (a key, a mode change) is done after it is released, so a key that
// opens a modal dialog cannot leave the next device message waiting for it.
#pragma once

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

}  // namespace varnex::reg
