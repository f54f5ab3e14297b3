// The port settings dialogs and the port lists.
#include "quorex/comm_set.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "comm/resources/quorex_resources.h"
#include "platform/base/profile.h"
#include "platform/base/serial_ports.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "quorex/comm_ctrl.h"

namespace ui = platform::ui;

namespace {

constexpr int32_t kCombos[6] = {21486, 21487, 21489, 21490, 21491, 21492};
constexpr int32_t kLabels[6] = {1200, 1201, 1202, 1203, 1204, 1205};

const char* const kBauds[] = {"110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",   "14400", "19200",
                              "38400", "57600", "115200", "128000", "230400", "256000", "460800", "921600"};
const char* const kDataBits[] = {"4", "5", "6", "7", "8"};
const char* const kParityJa[] = {"偶数", "奇数", "ﾏｰｸ", "ｽﾍﾟｰｽ", "なし"};
const char* const kParityEn[] = {"Even", "Odd", "Mark", "Space", "None"};
const char* const kStopBits[] = {"1", "1.5", "2"};
const char* const kFlowJa[] = {"なし", "RTS/CTS", "XON/XOFF", "both"};
const char* const kFlowEn[] = {"None", "RTS/CTS", "XON/XOFF", "both"};

template <size_t N>
void fill(HWND combo, const char* const (&items)[N]) {
  for (const char* item : items) ui::addListItem(combo, item);
}

// The Japanese parity and flow words shown in English, and back.
std::string toEnglish(const std::string& word, bool flow) {
  if (word == "なし") return "None";
  if (flow) return word;
  for (int i = 0; i < 4; ++i)
    if (word == kParityJa[i]) return kParityEn[i];
  return word;
}

std::string toJapanese(const std::string& word, bool flow) {
  if (word == "None") return "なし";
  if (flow) return word;
  for (int i = 0; i < 4; ++i)
    if (word == kParityEn[i]) return kParityJa[i];
  return word;
}

// "COM12" -> 12; 0 for any other name.
unsigned long comNumber(const std::string& name) {
  if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return 0;
  for (size_t i = 3; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return 0;
  return std::strtoul(name.c_str() + 3, nullptr, 10);
}

}  // namespace

// --- CCommSet -----------------------------------------------------------------------------

CCommSet::CCommSet(HWND parent) : CCommSet(20581, parent, false) {}

CCommSet::CCommSet(int32_t templateId, HWND parent, bool english)
    : ui::Dialog(templateId, parent), english_(english) {
  quorex::LoadQuorexResources();
  m_Setting[0] = "COM1";
  m_Setting[1] = "9600";
  m_Setting[2] = "8";
  m_Setting[3] = english ? "None" : "なし";
  m_Setting[4] = "1";
  m_Setting[5] = "XON/XOFF";
}

CCommSet::~CCommSet() = default;

CCommSetEn::CCommSetEn(HWND parent) : CCommSet(20582, parent, true) {}

int32_t CCommSet::AddPortList(int32_t count, const char* names) {
  if (count <= 0) return 1;
  if (!names) return 0;
  const char* p = names;
  for (int32_t i = 0; i < count; ++i) {
    const size_t n = std::strlen(p) + 1;
    if (portBytes_ + static_cast<int32_t>(n) > kPortListSize) return 0;
    std::memcpy(portList_ + portBytes_, p, n);
    portBytes_ += static_cast<int32_t>(n);
    ++portCount_;
    p += n;
  }
  return 1;
}

int32_t CCommSet::GetPortList(int32_t* count, char* buffer, int32_t size) {
  if (!count || !buffer || size < 0) return -1;
  platform::Profile& profile = platform::Profile::of(platform::ProfileScope::User);
  const std::string section = profileSection_ + "\\Devices";
  struct Port {
    unsigned long number;
    std::string name;
  };
  std::vector<Port> ports;
  std::vector<std::string> mappedPaths;
  std::vector<unsigned long> mappedNumbers;
  for (const std::string& key : profile.keys(section)) {
    const unsigned long number = comNumber(key);
    const auto path = profile.getString(section, key);
    if (number == 0 || !path || path->empty()) continue;
    mappedNumbers.push_back(number);
    mappedPaths.push_back(*path);
    if (platform::characterDeviceExists(*path)) ports.push_back({number, key});
  }
  std::vector<std::string> others;
  for (const platform::SerialDevice& device : platform::listSerialDevices()) {
    if (std::find(mappedPaths.begin(), mappedPaths.end(), device.path) != mappedPaths.end()) continue;
    if (device.name.compare(0, 4, "ttyS") == 0) {
      const unsigned long number = std::strtoul(device.name.c_str() + 4, nullptr, 10) + 1;
      if (std::find(mappedNumbers.begin(), mappedNumbers.end(), number) == mappedNumbers.end())
        ports.push_back({number, "COM" + std::to_string(number)});
    } else {
      others.push_back(device.path);
    }
  }
  std::sort(ports.begin(), ports.end(), [](const Port& a, const Port& b) { return a.number < b.number; });
  int32_t used = 0;
  *count = 0;
  auto append = [&](const std::string& name) {
    const int32_t n = static_cast<int32_t>(name.size()) + 1;
    if (used + n > size) return false;
    std::memcpy(buffer + used, name.c_str(), static_cast<size_t>(n));
    used += n;
    ++*count;
    return true;
  };
  bool room = true;
  for (const Port& p : ports)
    if (room) room = append(p.name);
  for (const std::string& path : others)
    if (room) room = append(path);
  return used;
}

int32_t CCommSet::GetModemList(int32_t* count, char* buffer, int32_t size) {
  if (!count || !buffer || size < 0) return -1;
  *count = 0;
  return 0;
}

bool CCommSet::onInitDialog() {
  const HWND dialog = handle();
  if (m_PortOnly && !m_Enable[0]) {
    endDialog(3);
    return true;
  }
  HWND combos[6];
  for (int i = 0; i < 6; ++i) combos[i] = item(kCombos[i]);
  // The ports, measured for the widest name.
  int32_t widest = 0;
  const char* p = portList_;
  for (int32_t i = 0; i < portCount_; ++i) {
    ui::addListItem(combos[0], p);
    widest = std::max(widest, ui::textWidth(combos[0], p));
    p += std::strlen(p) + 1;
  }
  fill(combos[1], kBauds);
  fill(combos[2], kDataBits);
  if (english_) {
    fill(combos[3], kParityEn);
    fill(combos[5], kFlowEn);
  } else {
    fill(combos[3], kParityJa);
    fill(combos[5], kFlowJa);
  }
  fill(combos[4], kStopBits);
  for (int i = 0; i < 6; ++i) {
    m_Selected[i] = -1;
    for (int32_t k = 0; k < ui::listItemCount(combos[i]); ++k) {
      if (ui::listItemText(combos[i], k) == m_Setting[i]) {
        m_Selected[i] = k;
        break;
      }
    }
    ui::setListSelection(combos[i], m_Selected[i]);
  }
  // A port name wider than its combo (room for the drop arrow kept) widens
  // the dialog and the combo, and the buttons move to the new right edge.
  const ui::Rect portRect = ui::windowRect(combos[0]);
  const int32_t room = portRect.right - portRect.left - 28;
  if (widest > room) {
    const int32_t grow = widest - room;
    ui::Rect r = portRect;
    r.right += grow;
    ui::moveWindow(combos[0], r);
    for (int32_t id : {1, 2}) {
      ui::Rect b = ui::windowRect(item(id));
      b.left += grow;
      b.right += grow;
      ui::moveWindow(item(id), b);
    }
    ui::Rect d = ui::windowRect(dialog);
    d.right += grow;
    ui::moveWindow(dialog, d);
  }
  ui::enableWindow(combos[0], m_Enable[0] != 0);
  if (m_PortOnly) {
    for (int i = 1; i < 6; ++i) {
      ui::showWindow(combos[i], false);
      ui::showWindow(item(kLabels[i]), false);
    }
    // Down to the port row and the two buttons beside it.
    ui::Rect d = ui::windowRect(dialog);
    const ui::Rect cancel = ui::windowRect(item(2));
    d.bottom = d.top + cancel.bottom + (cancel.bottom - cancel.top) / 2;
    ui::moveWindow(dialog, d);
  } else {
    for (int i = 1; i < 6; ++i) ui::enableWindow(combos[i], m_Enable[i] != 0);
  }
  return true;
}

void CCommSet::onOK() {
  // A combo without a selection keeps the setting it came with: a baud rate
  // not in the list survives the dialog.
  for (int i = 0; i < 6; ++i) {
    const HWND combo = item(kCombos[i]);
    const int32_t selected = ui::listSelection(combo);
    m_Selected[i] = selected;
    if (selected >= 0) m_Setting[i] = ui::listItemText(combo, selected);
  }
  endDialog(1);
}

// --- CSockSet -----------------------------------------------------------------------------

namespace {

constexpr int32_t kTcp = 21493;
constexpr int32_t kUdp = 21494;
constexpr int32_t kAddress = 21495;
constexpr int32_t kReceivePort = 21497;
constexpr int32_t kSendPort = 21499;
constexpr int32_t kConnect = 21500;
constexpr int32_t kProtocol = 21501;
constexpr int32_t kProtocolLabel = 21502;

const char* const kProtocols[] = {"ﾃｷｽﾄ", "拡張ﾃｷｽﾄ", "ﾊﾞｲﾅﾘ", "混在", "専用ﾌﾟﾛﾄｺﾙ"};

std::string addressText(uint32_t a) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (a >> 24) & 0xFF, (a >> 16) & 0xFF, (a >> 8) & 0xFF, a & 0xFF);
  return text;
}

// Dotted IPv4 text: false unless four numbers of 0 to 255.
bool addressOf(const std::string& text, uint32_t* out) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  *out = (a << 24) | (b << 16) | (c << 8) | d;
  return true;
}

}  // namespace

CSockSet::CSockSet(HWND parent) : ui::Dialog(20583, parent) {
  quorex::LoadQuorexResources();
  mapCommand(kTcp, [this](uint32_t) { ProtocolChanged(); });
  mapCommand(kUdp, [this](uint32_t) { ProtocolChanged(); });
  mapCommand(kConnect, [this](uint32_t) {
    if (!ReadBack()) return;
    m_ConnectRequest = 1;
    endDialog(1);
  });
}

bool CSockSet::onInitDialog() {
  ui::checkButton(item(kTcp), m_Udp ? 0 : 1);
  ui::checkButton(item(kUdp), m_Udp ? 1 : 0);
  ui::setWindowText(item(kAddress), addressText(m_SendAddress));
  ui::setControlRange(item(kReceivePort), 0, 65535);
  ui::setControlRange(item(kSendPort), 0, 65535);
  ui::setControlPosition(item(kReceivePort), static_cast<int32_t>(m_RecvPort & 0xFFFF));
  ui::setControlPosition(item(kSendPort), static_cast<int32_t>(m_SendPort & 0xFFFF));
  fill(item(kProtocol), kProtocols);
  const bool protocol = m_Protocol >= 0;
  if (protocol) ui::setListSelection(item(kProtocol), m_Protocol);
  ui::showWindow(item(kProtocol), protocol);
  ui::showWindow(item(kProtocolLabel), protocol);
  ui::enableWindow(item(kConnect), !m_Udp);
  m_ConnectRequest = 0;
  return true;
}

void CSockSet::ProtocolChanged() {
  m_Udp = ui::buttonState(item(kUdp)) == 1 ? 1 : 0;
  ui::enableWindow(item(kConnect), !m_Udp);
}

bool CSockSet::ReadBack() {
  uint32_t address = 0;
  if (!addressOf(ui::windowText(item(kAddress)), &address)) {
    ui::messageBeep();
    ui::setFocus(item(kAddress));
    return false;
  }
  m_SendAddress = address;
  m_Udp = ui::buttonState(item(kUdp)) == 1 ? 1 : 0;
  m_RecvPort = static_cast<uint32_t>(ui::controlPosition(item(kReceivePort)));
  m_SendPort = static_cast<uint32_t>(ui::controlPosition(item(kSendPort)));
  if (m_Protocol >= 0) m_Protocol = ui::listSelection(item(kProtocol));
  return true;
}

void CSockSet::onOK() {
  if (!ReadBack()) return;
  m_ConnectRequest = 0;
  endDialog(1);
}

// --- CCommCtrl's dialogs ------------------------------------------------------------------

int32_t CCommCtrl::RunSerialDialog(uint32_t flags, HWND parent, bool english) {
  std::unique_ptr<CCommSet> dialog =
      english ? std::make_unique<CCommSetEn>(parent) : std::make_unique<CCommSet>(parent);
  dialog->SetProfileSection(profileSection_);
  for (int i = 0; i < 6; ++i) dialog->m_Enable[i] = (flags & (0x2u << i)) ? 1 : 0;
  dialog->m_PortOnly = (flags & 0x10000000) ? 1 : 0;
  std::vector<char> buffer(CCommSet::kPortListSize);
  int32_t count = 0;
  if (flags & 0x20000) {
    const int32_t n = dialog->GetModemList(&count, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (n < 0 || !dialog->AddPortList(count, buffer.data())) return 3;
  }
  if (flags & 0x40000) {
    const int32_t n = dialog->GetPortList(&count, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (n < 0 || !dialog->AddPortList(count, buffer.data())) return 3;
  }
  const uint32_t profileFlags = flags & ~0xFF00u;
  if (flags & 0x100000) GetProfileSettings(profileFlags);
  const std::string current[6] = {portName_, baudRate_, dataBits_, parity_, stopBits_, flow_};
  for (int i = 0; i < 6; ++i)
    dialog->m_Setting[i] = english && (i == 3 || i == 5) ? toEnglish(current[i], i == 5) : current[i];
  const intptr_t result = dialog->doModal();
  if (result == 1) {
    std::string chosen[6];
    for (int i = 0; i < 6; ++i)
      chosen[i] = english && (i == 3 || i == 5) ? toJapanese(dialog->m_Setting[i], i == 5) : dialog->m_Setting[i];
    portName_ = chosen[0];
    baudRate_ = chosen[1];
    dataBits_ = chosen[2];
    parity_ = chosen[3];
    stopBits_ = chosen[4];
    flow_ = chosen[5];
    if (flags & 0x100000) WriteProfileSettings(profileFlags);
    socketMode_ = 0;
  }
  return static_cast<int32_t>(result);
}

int32_t CCommCtrl::CommSet(uint32_t flags, HWND parent) { return RunSerialDialog(flags, parent, false); }

int32_t CCommCtrl::CommSetEn(uint32_t flags, HWND parent) { return RunSerialDialog(flags, parent, true); }

int32_t CCommCtrl::SockSet(uint32_t flags, HWND parent) {
  CSockSet dialog(parent);
  const uint32_t profileFlags = flags & ~0xFFu;
  if (flags & 0x100000) GetProfileSettings(profileFlags);
  dialog.m_Udp = udp_;
  dialog.m_RecvPort = receivePort_;
  dialog.m_SendPort = sendPort_;
  dialog.m_SendAddress = sendAddress_;
  dialog.m_Protocol = static_cast<int32_t>(protocol_);
  const intptr_t result = dialog.doModal();
  if (result == 1) {
    udp_ = dialog.m_Udp;
    receivePort_ = dialog.m_RecvPort;
    sendPort_ = dialog.m_SendPort;
    SetSendAdrs(dialog.m_SendAddress);
    protocol_ = static_cast<uint32_t>(dialog.m_Protocol);
    connectRequest_ = dialog.m_ConnectRequest;
    if (flags & 0x100000) WriteProfileSettings(profileFlags);
    socketMode_ = 1;
  }
  return static_cast<int32_t>(result);
}
