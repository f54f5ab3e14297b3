// Serial devices from sysfs.
#include "platform/base/serial_ports.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace platform {

namespace {

namespace fs = std::filesystem;

// The name's prefix and number ("ttyUSB", 3), for ordering.
std::pair<std::string, long> splitName(const std::string& name) {
  size_t digits = name.size();
  while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
  return {name.substr(0, digits), digits < name.size() ? std::strtol(name.c_str() + digits, nullptr, 10) : -1};
}

bool isSerialName(const std::string& name) {
  const auto [prefix, number] = splitName(name);
  return number >= 0 && (prefix == "ttyS" || prefix == "ttyUSB" || prefix == "ttyACM" || prefix == "ttyAMA");
}

// A legacy UART slot (ttyS) is listed by the kernel whether or not a port
// is there; its "type" is 0 when none is.
bool hasPort(const fs::path& entry, const std::string& name) {
  std::error_code error;
  if (!fs::exists(entry / "device", error)) return false;
  if (splitName(name).first != "ttyS") return true;
  std::ifstream type(entry / "type");
  int value = 0;
  return (type >> value) && value != 0;
}

}  // namespace

std::vector<SerialDevice> listSerialDevices(const std::string& classFolder) {
  std::vector<SerialDevice> found;
  std::error_code error;
  for (fs::directory_iterator it(classFolder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (isSerialName(name) && hasPort(it->path(), name)) found.push_back({name, "/dev/" + name});
  }
  std::sort(found.begin(), found.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return splitName(a.name) < splitName(b.name); });
  return found;
}

bool characterDeviceExists(const std::string& path) {
  struct stat s {};
  return !path.empty() && ::stat(path.c_str(), &s) == 0 && S_ISCHR(s.st_mode);
}

}  // namespace platform
