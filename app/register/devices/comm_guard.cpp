// Draining a register port's receive queue (see comm_guard.h).
#include "app/register/devices/comm_guard.h"

#include "quorex/serial.h"

namespace varnex::reg {

bool DrainCommPort(CSerial& port, CCommGuard& guard, const std::function<void(const CommMessage&)>& take) {
  CCommGuardHold hold(guard);
  if (!hold.Taken()) return false;
  uint8_t buffer[4096];
  for (;;) {
    uint32_t type = 0, status = 0;
    int32_t tag = 0;
    const int32_t n = port.CommRead(&type, buffer, sizeof buffer, &status, &tag, nullptr);
    if (n < 0) return true;
    // An empty queue leaves type and tag alone; an entry with no data (an
    // unanswered frame) still has its type, and the entries after it follow.
    if (n == 0 && type == 0 && tag == 0) return true;
    take(CommMessage{buffer, n, type, tag});
  }
}

}  // namespace varnex::reg
