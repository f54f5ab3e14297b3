// CSerial: the N114 member of the receive check chain. The N114 framing is
// not built into this engine yet, so the check never claims received bytes
// and they go on to the text check.
#include "quorex/serial.h"

int32_t CSerial::N114Check(uint32_t status) { return 0; }
