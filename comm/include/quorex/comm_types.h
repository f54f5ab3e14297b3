// Types shared by the port control and the protocol engine.
#pragma once

#include <cstdint>

#include "platform/ui/types.h"
#include "quorex/export.h"

// Reports one port event (1 characters received, 4 send buffer empty, ...)
// in place of the owner window's message. owner is the value given to
// CommOpen. A non-zero result stops the port's event thread. Runs on the
// port's event thread, so it must be thread-safe.
typedef int32_t (*CommCallback)(uint32_t event, intptr_t owner);

// Comm-event bits as the ports report them.
enum : uint32_t {
  kCommEventReceived = 0x1,       // EV_RXCHAR
  kCommEventTransmitEmpty = 0x4,  // EV_TXEMPTY
  kCommEventConnected = 0x800,
  kCommEventDisconnected = 0x1000,
};
