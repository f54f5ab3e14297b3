// The customer display on a pole: a serial display on the "CD" port, or a
// display behind a printer queue ("CD Device" beginning with "EPSON DM-D"),
// which is sent the same bytes as a raw print job (or, without a queue,
// appended to the file that "CD Port" names).
#pragma once

#include <cstdint>
#include <string>

#include "app/register/devices/comm_guard.h"
#include "platform/ui/window.h"

class CSerial;

namespace varnex::reg {

class CPoleDisplay {
 public:
  CSerial* m_pPort = nullptr;
  int32_t m_bOpen = 0;
  int32_t m_bPrinter = 0;         // driven through a printer queue
  std::string m_strPrinter;       // "CD Port" of the printer form: a queue or a file
  CCommGuard* m_pGuard = nullptr;

  // The bytes that show the pending line (emptied), or clear the display
  // and show the idle text.
  static std::string Bytes(std::string& pending, const std::string& idle);
  // Shows the pending line or the idle text; nothing when "Use CD" is off.
  // False when the display could not be reached.
  bool Update(int32_t useCd, std::string& pending, const std::string& idle);
  // The printer form: nothing when both texts are empty.
  bool Spool(std::string& pending, const std::string& idle);
  // WM_COMM_CD: what the display sends is read and dropped.
  void OnCommCd(WPARAM wParam);

 private:
  CCommGuard m_ownGuard;
};

}  // namespace varnex::reg
