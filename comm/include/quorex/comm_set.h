// The port settings dialogs: CCommSet (Japanese, dialog 20581), CCommSetEn
// (English, dialog 20582) and CSockSet (dialog 20583), and the port lists.
//
// Port list: "COMn" names of the machine's serial ports. A name mapped in
// the profile section "Quorex Settings\Devices" (key "COMn", value a device
// path) is listed when its device exists; an on-board port ttyS<k> that no
// mapping takes is "COM<k+1>", as CCommCtrl opens it; a USB or modem-class
// adapter that no mapping names is listed by its device path, which a port
// setting takes as well.
//
// Modem lines: Linux has no telephony line service, so GetModemList lists
// no lines.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/dialog_class.h"
#include "quorex/export.h"

class QUOREX_API CCommSet : public platform::ui::Dialog {
 public:
  static constexpr int32_t kPortListSize = 4096;
  explicit CCommSet(HWND parent = nullptr);
  ~CCommSet() override;

  // Adds count names packed one after another, each ending in NUL; 1, or 0
  // when the list would pass 4096 bytes (the names added before stay).
  int32_t AddPortList(int32_t count, const char* names);
  // Bytes written (names packed with their NULs, as many as fit whole) and
  // their count; -1 for a null argument.
  int32_t GetPortList(int32_t* count, char* buffer, int32_t size);
  // Bytes written: always 0 lines (see above); -1 for a null argument.
  int32_t GetModemList(int32_t* count, char* buffer, int32_t size);
  // The profile section whose "\Devices" keys map "COMn" names.
  void SetProfileSection(const std::string& section) { profileSection_ = section; }

  // The six settings (port, baud rate, data bits, parity, stop bits, flow)
  // as texts, their enable switches, and port-only mode.
  std::string m_Setting[6];
  int32_t m_Enable[6] = {1, 1, 1, 1, 1, 1};
  int32_t m_PortOnly = 0;
  // The selected index of each combo after OK, -1 when the text was not listed.
  int32_t m_Selected[6] = {-1, -1, -1, -1, -1, -1};
  int32_t PortCount() const { return portCount_; }

 protected:
  CCommSet(int32_t templateId, HWND parent, bool english);
  bool onInitDialog() override;
  void onOK() override;

 private:
  bool english_;
  std::string profileSection_ = "Quorex Settings";
  char portList_[kPortListSize] = {};
  int32_t portCount_ = 0;
  int32_t portBytes_ = 0;
};

class QUOREX_API CCommSetEn : public CCommSet {
 public:
  explicit CCommSetEn(HWND parent = nullptr);
};

class QUOREX_API CSockSet : public platform::ui::Dialog {
 public:
  explicit CSockSet(HWND parent = nullptr);
  int32_t m_ConnectRequest = 0;
  uint32_t m_RecvPort = 0;
  uint32_t m_SendPort = 0;
  uint32_t m_SendAddress = 0x7F000001;
  int32_t m_Udp = 0;
  int32_t m_Protocol = -1;  // -1: the protocol choice is hidden

 protected:
  bool onInitDialog() override;
  void onOK() override;

 private:
  bool ReadBack();
  void ProtocolChanged();
};
