// CCommCtrl: settings, the settings string and the profile keys.
#include "quorex/comm_ctrl.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/base/file.h"
#include "platform/base/profile.h"
#include "platform/base/serial_line.h"
#include "platform/base/sync.h"
#include "comm/settings_words.h"
#include "comm/sock/socket_port.h"

namespace {

struct ParityWord {
  const char* stored;
  const char* letter;
  const char* english;
};

// Index = the line's parity value (none, odd, even, mark, space).
const ParityWord kParityWords[] = {
    {"なし", "N", "None"}, {"奇数", "O", "Odd"}, {"偶数", "E", "Even"},
    {"ﾏｰｸ", "M", "Mark"},  {"ｽﾍﾟｰｽ", "S", "Space"},
};

std::string addressText(uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFF, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

std::string textOf(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace

namespace quorex {

std::string storedParityWord(const std::string& word) {
  for (const ParityWord& p : kParityWords)
    if (word == p.stored || word == p.letter || word == p.english) return p.stored;
  return word;
}

int parityValueOf(const std::string& word) {
  for (int i = 0; i < 5; ++i) {
    const ParityWord& p = kParityWords[i];
    if (word == p.stored || word == p.letter || word == p.english) return i;
  }
  return -1;
}

}  // namespace quorex

using quorex::storedParityWord;

CCommCtrl::CCommCtrl()
    : line_(std::make_unique<platform::SerialLine>()),
      profileSection_("Quorex Settings"),
      portName_("COM1"),
      baudRate_("9600"),
      dataBits_("8"),
      parity_("なし"),
      stopBits_("1"),
      flow_("XON/XOFF"),
      sendAddressText_(addressText(0x7F000001)),
      logFileName_("LOG.TXT") {}

CCommCtrl::~CCommCtrl() {
  CommClose();
  RetireSocketPort();
}

std::string CCommCtrl::GetPortName() const { return portName_; }
void CCommCtrl::SetPortName(const char* name) { portName_ = textOf(name); }
std::string CCommCtrl::GetBoudRate() const { return baudRate_; }
void CCommCtrl::SetBoudRate(const char* baud) { baudRate_ = textOf(baud); }
std::string CCommCtrl::GetDataBit() const { return dataBits_; }
void CCommCtrl::SetDataBit(const char* bits) { dataBits_ = textOf(bits); }
std::string CCommCtrl::GetParity() const { return parity_; }
void CCommCtrl::SetParity(const char* parity) { parity_ = textOf(parity); }
std::string CCommCtrl::GetStopBit() const { return stopBits_; }
void CCommCtrl::SetStopBit(const char* bits) { stopBits_ = textOf(bits); }
std::string CCommCtrl::GetFlow() const { return flow_; }
void CCommCtrl::SetFlow(const char* flow) { flow_ = textOf(flow); }
std::string CCommCtrl::GetProfileSectionA() const { return profileSection_; }
void CCommCtrl::SetProfileSection(const char* section) { profileSection_ = textOf(section); }

void CCommCtrl::SetSettings(const char* settings) { SetSettings(textOf(settings)); }

void CCommCtrl::SetSettings(const std::string& settings) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() < 6) {
    size_t comma = settings.find(',', start);
    fields.push_back(settings.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  // A field is missing when the string ends before it; an empty field between
  // commas is taken as it stands, as the other fields are.
  if (fields.size() > 0) portName_ = fields[0];
  if (fields.size() > 1) baudRate_ = fields[1];
  if (fields.size() > 2) dataBits_ = fields[2];
  if (fields.size() > 3) parity_ = storedParityWord(fields[3]);
  if (fields.size() > 4) stopBits_ = fields[4];
  if (fields.size() > 5) flow_ = (fields[5] == "N" || fields[5] == "None") ? std::string("なし") : fields[5];
}

std::string CCommCtrl::GetSettings() const {
  return portName_ + "," + baudRate_ + "," + dataBits_ + "," + parity_ + "," + stopBits_ + "," + flow_;
}

void CCommCtrl::GetProfileSettings(uint32_t flags) {
  platform::Profile& profile = platform::Profile::of(platform::ProfileScope::User);
  const std::string& s = profileSection_;
  if (flags & 0x2) portName_ = profile.getString(s, "Port", portName_);
  if (flags & 0x4) baudRate_ = profile.getString(s, "BoudRate", baudRate_);
  if (flags & 0x8) dataBits_ = profile.getString(s, "DataBit", dataBits_);
  if (flags & 0x10) parity_ = profile.getString(s, "Parity", parity_);
  if (flags & 0x20) stopBits_ = profile.getString(s, "StopBit", stopBits_);
  if (flags & 0x40) flow_ = profile.getString(s, "Flow", flow_);
  if (flags & 0x100) udp_ = static_cast<int32_t>(profile.getInt(s, "UDP", 0));
  if (flags & 0x200) receivePort_ = static_cast<uint32_t>(profile.getInt(s, "Recv Port", 0));
  if (flags & 0x400) sendPort_ = static_cast<uint32_t>(profile.getInt(s, "Send Port", 0));
  if (flags & 0x800) sendAddress_ = static_cast<uint32_t>(profile.getInt(s, "Send Adrs", 0x7F000001));
  if (flags & 0x10000) protocol_ = static_cast<uint32_t>(profile.getInt(s, "Sock Mode", 0));
}

void CCommCtrl::WriteProfileSettings(uint32_t flags) {
  platform::Profile& profile = platform::Profile::of(platform::ProfileScope::User);
  const std::string& s = profileSection_;
  if (flags & 0x2) profile.setString(s, "Port", portName_);
  if (flags & 0x4) profile.setString(s, "BoudRate", baudRate_);
  if (flags & 0x8) profile.setString(s, "DataBit", dataBits_);
  if (flags & 0x10) profile.setString(s, "Parity", parity_);
  if (flags & 0x20) profile.setString(s, "StopBit", stopBits_);
  if (flags & 0x40) profile.setString(s, "Flow", flow_);
  if (flags & 0x100) profile.setInt(s, "UDP", udp_);
  if (flags & 0x200) profile.setInt(s, "Recv Port", receivePort_);
  if (flags & 0x400) profile.setInt(s, "Send Port", sendPort_);
  if (flags & 0x800) profile.setInt(s, "Send Adrs", sendAddress_);
  if (flags & 0x10000) profile.setInt(s, "Sock Mode", protocol_);
}

std::string CCommCtrl::DevicePathOf(const std::string& portName) const {
  std::string name = portName;
  if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
  bool comName = name.size() > 3 && (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
                 (name[2] == 'M' || name[2] == 'm');
  for (size_t i = 3; comName && i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') comName = false;
  if (!comName) return name;
  std::string key = "COM" + name.substr(3);
  platform::Profile& profile = platform::Profile::of(platform::ProfileScope::User);
  if (auto mapped = profile.getString(profileSection_ + "\\Devices", key); mapped && !mapped->empty())
    return *mapped;
  unsigned long number = std::strtoul(name.c_str() + 3, nullptr, 10);
  return "/dev/ttyS" + std::to_string(number == 0 ? 0 : number - 1);
}

void CCommCtrl::SetSendAdrs(uint32_t address) {
  sendAddress_ = address;
  sendAddressText_ = addressText(address);
}

void CCommCtrl::SetSendAdrsStr(const char* text) {
  std::string given = textOf(text).substr(0, 31);
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(given.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
  sendAddress_ = ((a & 0xFF) << 24) | ((b & 0xFF) << 16) | ((c & 0xFF) << 8) | (d & 0xFF);
  sendAddressText_ = given;
}

void CCommCtrl::SetEventMask(uint32_t mask) {
  eventMask_ = mask;
  if (!socketMode_ && open_.load()) line_->setEventMask(mask);
}

const uint8_t* CCommCtrl::MemData(const uint8_t* data, uint32_t dataLength, const uint8_t* pattern,
                                  uint32_t patternLength) {
  if (!data || !pattern || patternLength > dataLength) return nullptr;
  if (patternLength == 0) return data;
  for (uint32_t i = 0; i + patternLength <= dataLength; ++i)
    if (std::memcmp(data + i, pattern, patternLength) == 0) return data + i;
  return nullptr;
}
