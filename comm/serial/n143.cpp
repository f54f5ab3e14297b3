// CSerial: the N143 member of the receive check chain. The N143 framing is
// not built into this engine yet, so the check never claims received bytes
// and they go on to the binary check.
#include "quorex/serial.h"

int32_t CSerial::N143Check(uint32_t status) { return 0; }
