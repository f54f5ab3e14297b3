#include "app/register/view/sale_display.h"

#include <algorithm>
#include <vector>

namespace varnex::reg {

namespace {

std::vector<SaleDisplay*>& displays() {
  static std::vector<SaleDisplay*> list;
  return list;
}

}  // namespace

void AddSaleDisplay(SaleDisplay* display) {
  auto& list = displays();
  if (display && std::find(list.begin(), list.end(), display) == list.end()) list.push_back(display);
}

void RemoveSaleDisplay(SaleDisplay* display) {
  auto& list = displays();
  list.erase(std::remove(list.begin(), list.end(), display), list.end());
}

void SaleDisplaysChanged(const void* line, const std::string& poleText) {
  // A copy: a display may remove itself while it is told.
  const std::vector<SaleDisplay*> list = displays();
  for (SaleDisplay* display : list)
    if (std::find(displays().begin(), displays().end(), display) != displays().end())
      display->SaleChanged(line, poleText);
}

}  // namespace varnex::reg
