// The register's "SA" device on its serial port: it reports key presses and
// mode-key turns, and is sent the display text, receipt lines and commands,
// one frame for each frame it sends, so that the device paces the output.
// The port runs in the library's binary framing (sequence byte, length, XOR
// check); the frames here are handed over without those.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/register/devices/comm_guard.h"
#include "platform/ui/window.h"

class CSerial;

namespace varnex::reg {

// Request bits, served highest first.
inline constexpr uint32_t kSaSaleClosed = 0x02000000, kSaSaleOpened = 0x00080000, kSaDisplay = 0x00000080,
                          kSaReceiptHead = 0x00000800, kSaPrint = 0x00000100;
inline constexpr int32_t kSaLineColumns = 46;

// Cuts the next print line off the front of text (code page 932 with the
// printer's SO/SI double width and ESC sequences) for a line of 46 columns;
// *endMark is '1' after CR/LF, 'A' after FF, 0 when the line was cut at 46
// columns or the text ran out.
std::string TakeSaLine(std::string& text, char* endMark);

class CSaDevice {
 public:
  CSerial* m_pPort = nullptr;
  int32_t m_bOpen = 0;
  CCommGuard* m_pGuard = nullptr;     // shared with the other ports; null: its own
  std::string* m_pDisplayText = nullptr;  // the SA display text
  std::string* m_pPrintText = nullptr;    // receipt text waiting for the device
  uint32_t m_nSaRequest = 0;
  int32_t m_nLastModeKey = 0;

  // A key for the register: a panel position with character 0, or position
  // 0 with a character; 1 when it was delivered.
  std::function<int32_t(int32_t position, int32_t character)> m_fnKey;
  // The current mode number (-1: none may be opened by the mode key) and
  // the opening of a mode.
  std::function<int32_t()> m_fnCurrentMode;
  std::function<void(int32_t mode)> m_fnOpenMode;
  // Called when a key from the device was delivered.
  std::function<void()> m_fnKeyDelivered;

  // Serves the highest pending request (or polls) with one frame.
  void SendSaCommand();
  // The frame SendSaCommand would send now, clearing what it serves.
  std::string NextFrame();
  // WM_COMM_SA: drains the port, then acts on what came.
  void OnCommSa(WPARAM wParam);
  // What a key report asks for: a key (position, or position 0 and a
  // character) or a mode-key turn (its byte).
  struct SaAction {
    int32_t position, character, modeByte;
  };
  // One checked frame from the device: raises what it asks for and adds
  // its keys to actions.
  void HandleFrame(const std::string& frame, std::vector<SaAction>* actions);

 private:
  CCommGuard m_ownGuard;
};

}  // namespace varnex::reg
