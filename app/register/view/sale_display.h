// The customer's side of the sale. Whatever shows the sale to the customer
// (the window on a second monitor, a pole display) hangs on this one hook;
// the registration screen calls SaleDisplaysChanged at each change of the
// open sale and when the register goes back to idle.
#pragma once

#include <string>

namespace varnex::reg {

class SaleDisplay {
 public:
  virtual ~SaleDisplay() = default;
  // line: the 96-byte line record just shown, null when the register is
  // back to idle (no sale shown). poleText: the two 20-byte lines a pole
  // display shows for it (the change line after a covering tender).
  virtual void SaleChanged(const void* line, const std::string& poleText) = 0;
};

// Adds or removes a display (UI thread); each is told in the order added.
void AddSaleDisplay(SaleDisplay* display);
void RemoveSaleDisplay(SaleDisplay* display);
// Tells every display.
void SaleDisplaysChanged(const void* line, const std::string& poleText);

}  // namespace varnex::reg
