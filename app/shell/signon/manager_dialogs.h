// The manager dialogs: sign-on by name and PIN or by clerk barcode (the
// modeless selection dialog over the disabled main frame), the PIN change,
// and the clerk-code maker that copies a code to the clipboard.
//
// The system manager is clerk record 0, never listed. Its PIN is stored
// like everybody's; a stored 0 stands for the first-run PIN "6284", so a new
// project signs on with the manual's code until the system manager changes
// it (the PIN change with no name chosen changes the system manager's PIN).
#pragma once

#include <cstdint>
#include <functional>

#include "app/shell/signon/clerk_code.h"
#include "platform/ui/types.h"

namespace varnex::reg {
class CRegCom;
}

namespace varnex::shell {

class CREGApp;

// Control ids.
enum : int32_t {
  IDC_MANAGER_NAME = 1300, IDC_MANAGER_PIN = 1301, IDC_CHANGE_PIN = 1013, IDC_NO_TIMEOUT = 1012, IDC_EXIT = 8,
  IDC_PIN_OLD = 1014, IDC_PIN_NEW = 1015, IDC_PIN_CONFIRM = 1016,
  IDC_CODE_MANAGER = 1618, IDC_CODE_EXPIRES = 1616, IDC_CODE_DATE = 1617,
};
inline constexpr uint32_t kCmdClerkCodeLogin = 1462;
inline constexpr uint32_t kTimerWrongPin = 107;
inline constexpr uint32_t kFirstRunPin = 6284;

// The modeless sign-on dialog owned by the main frame (null when it cannot
// be made).
HWND CreateAccountDialog(CREGApp& app, HWND owner);

// The PIN change dialog: 1 with *newPin on OK (0: no PIN), 0 on Cancel.
// systemManager allows "6284" as the new PIN; collides tells whether a PIN
// would give the same clerk code as another manager's.
int32_t RunChangePinDialog(HWND owner, uint32_t currentPin, bool systemManager,
                           std::function<bool(uint32_t pin)> collides, uint32_t* newPin);

// The clerk-code dialog.
void RunMakeClerkCodeDialog(CREGApp& app, HWND owner);

// The PIN a clerk record signs on with (record 0's stored 0 is "6284").
uint32_t EffectivePin(int32_t record, const uint8_t* clerk);
// Whether another manager (not record `self`) has a clerk code with the same
// identity bits as clerk number and PIN.
bool ClerkCodeCollides(reg::CRegCom& engine, int32_t self, uint32_t clerkNumber, uint32_t pin);

// Today's date for the expiry check (tests set their own day).
void SetSignOnToday(std::function<ClerkCodeDate()> today);

}  // namespace varnex::shell
