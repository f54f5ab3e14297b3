// Powering the machine off through the system's own service for it: logind's
// PowerOff over D-Bus (asked through busctl, after logind's CanPowerOff says
// the user may), or "systemctl poweroff" where busctl is missing. The
// system's policy decides; a refusal comes back with its reason.
#pragma once

#include <functional>
#include <string>

namespace platform {

// True when the system took the request (the machine is going down). False
// with the reason in UTF-8 when it refused or could not be asked.
bool powerOffSystem(std::string* reason);

// Tests see the request instead of the machine going down: the runner
// answers for it. An empty function restores the system's; the previous one
// is returned.
using PowerOffRunner = std::function<bool(std::string* reason)>;
PowerOffRunner setPowerOffRunner(PowerOffRunner runner);

// The programs asked, looked up in PATH (tests point PATH at scripted ones).
inline constexpr const char* kBusctlProgram = "busctl";
inline constexpr const char* kSystemctlProgram = "systemctl";

}  // namespace platform
