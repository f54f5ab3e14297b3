// CREGApp: the register program's application object, one per process.
//
// This holds only what is built so far: the printing it carries (its base
// CReceiptPrinter, with the "Rollback View", "Tax Out" and "Tax In" settings
// that the sales list reads too) and the list's column texts. The rest of the
// application (start-up, the settings loaded from the profile, the serial
// ports and the mode frames) comes with the shell and is added here.
#pragma once

#include <cstdint>
#include <string>

#include "app/register/print/receipt_printer.h"

namespace varnex::reg {
class CRegCom;
}

namespace varnex::shell {

// Widths of the sales list's columns in bytes.
inline constexpr size_t kColumnName = 24;
inline constexpr size_t kColumnQuantity = 8;
inline constexpr size_t kColumnQuantityCompact = 22;
inline constexpr size_t kColumnUnitPrice = 14;
inline constexpr size_t kColumnAmount = 24;
// The single-row form: name from byte 0; quantity, unit price and amount
// ending at these bytes.
inline constexpr size_t kRowQuantityEnd = 32;
inline constexpr size_t kRowUnitPriceEnd = 46;
inline constexpr size_t kRowWidth = 70;

class CREGApp : public reg::CReceiptPrinter {
 public:
  CREGApp();
  ~CREGApp() override;
  CREGApp(const CREGApp&) = delete;
  CREGApp& operator=(const CREGApp&) = delete;

  // The texts of one 96-byte line record for the sales list: name, quantity,
  // unit price and amount; each out may be null.
  // - Compact form: name, quantity and unit price given, amount null: the
  //   quantity is 22 bytes wide and the amount goes to the unit-price out.
  // - Single-row form: only the name given: it receives the whole 70-byte row.
  // The record is read only.
  // (line_columns.cpp)
  void GetLineColumns(const void* record, std::string* name, std::string* quantity, std::string* unitPrice,
                      std::string* amount) const;

  // The data engine (owned by the shell; null before it is made).
  reg::CRegCom* m_pRegCom = nullptr;
};

}  // namespace varnex::shell
