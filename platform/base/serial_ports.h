// The machine's serial devices as the kernel lists them under
// /sys/class/tty: on-board UARTs that have a port behind them (ttyS<n>),
// USB adapters (ttyUSB<n>) and modem-class devices (ttyACM<n>). Virtual
// terminals, consoles and pseudo-terminals are not serial devices.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct SerialDevice {
  std::string name;  // the kernel's name: "ttyS0", "ttyUSB0"
  std::string path;  // the device file: "/dev/ttyS0"
};

// In name order (ttyS2 before ttyS10); empty when sysfs cannot be read.
// The folder is /sys/class/tty unless given (for tests).
std::vector<SerialDevice> listSerialDevices(const std::string& classFolder = "/sys/class/tty");

// True when the path names a character device that exists now.
bool characterDeviceExists(const std::string& path);

}  // namespace platform
