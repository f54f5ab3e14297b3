// The receipt of a closed sale: its block of 96-byte line records turned into
// receipt text line by line, laid out for the paper width, and routed piece
// by piece to the SA device's print text or to the printer.
//
// Column plan of a single-width item line (name, quantity, middle, amount):
//   46 columns: 13 + 9 + 10 + 14      42 columns: 13 + 9 + 10 + 10
//   35 columns: 13, then 1 + 14 + 10 + 10 (two printed lines)
//   30 columns: 13 + 4 + 3 + 10 (departments: 13, then 1 + 9 + 10 + 10)
#include <cstdlib>
#include <cstring>

#include "app/register/print/receipt_format.h"
#include "app/register/print/receipt_printer.h"
#include "app/register/engine/reg_com.h"
#include "zemta/date.h"

namespace varnex::reg {

using namespace receipt;

const uint8_t* CReceiptPrinter::GeneralSettings() const {
  static const uint8_t kEmpty[kTables[kSettingsTable].recordLen] = {};
  if (m_pPrintEngine && m_pPrintEngine->IsOpen() && m_pPrintEngine->Settings()) return m_pPrintEngine->Settings();
  return kEmpty;
}

int32_t CReceiptPrinter::ReceiptForm() const {
  return static_cast<int32_t>(getBits(GeneralSettings(), settings::kReceiptForm));
}

std::string CReceiptPrinter::StoreName() const {
  return getText(GeneralSettings(), settings::kStoreText.offset, settings::kStoreText.size);
}

void CReceiptPrinter::RoutePrintText(const std::string& text, const char* heldPath, int32_t noLogo) {
  if (m_bPrnSA) {
    m_strSaPrintText += text;
  } else if (m_bPrinterReady && !text.empty()) {
    PrintReceiptText(text, heldPath, noLogo);
  }
  RaiseSaRequest(0x100);
}

void CReceiptPrinter::InsertSpaces(std::string& text, int32_t count, int32_t position) {
  if (position < 0) {
    text = spaces(count);
    return;
  }
  if (count <= 0) return;
  text.insert(std::min(static_cast<size_t>(position), text.size()), spaces(count));
}

void CReceiptPrinter::InsertAmount(std::string& text, int32_t value, int32_t width, int32_t position) {
  const std::string field = width > 0 ? amountField(value, width, value >= 0) : std::string();
  if (position < 0)
    text = field;
  else
    text.insert(std::min(static_cast<size_t>(position), text.size()), field);
}

int32_t CReceiptPrinter::PrintReceipt(MemoryBlockHandle block, int32_t force, int32_t first, int32_t end,
                                      uint32_t kindWord, int32_t reprint, const char* proviso) {
  if (!force && !m_bReceiptOn) return 0;
  if (!block) return -1;
  const int32_t size = SeekMemory(block, 0, MEMORY_SEEK_END);
  if (size < 0) return -1;
  const int32_t count = size / static_cast<int32_t>(line::kSize);
  const bool whole = first == 0 && end == -1;
  if (end == -1) end = count;
  if (end == 0) return 0;
  if (first < 0 || end > count || first >= end) return -1;

  auto readRecord = [&](int32_t n, uint8_t* out) {
    return SeekMemory(block, n * static_cast<int32_t>(line::kSize), MEMORY_SEEK_BEGIN) >= 0 &&
           ReadDataMemory(block, out, line::kSize) == static_cast<int32_t>(line::kSize);
  };
  uint8_t closing[line::kSize];
  if (!readRecord(end - 1, closing) || LineView{closing}.type() != kKeyClosing) return -1;

  uint16_t mode = LineView{closing}.number();
  uint16_t date = static_cast<uint16_t>(static_cast<uint32_t>(LineView{closing}.unitPrice()) >> 16);
  int32_t total = LineView{closing}.netPrice();
  if (reprint && whole) {
    mode = kModeXReading;
    date = 0;
    total = 0;
  }

  uint8_t heading[line::kSize] = {};
  bool haveHeading = false;
  if (first == 0 || reprint) {
    uint8_t record[line::kSize];
    if (!readRecord(first, record)) return -1;
    if (LineView{record}.type() == kKeyCustomer) {
      std::memcpy(heading, record, line::kSize);
      haveHeading = true;
    }
    std::string head;
    BuildReceiptHead(head, mode, &date, total, kindWord, haveHeading ? heading : nullptr, proviso);
    RoutePrintText(head, nullptr, proviso ? 1 : 0);
  }

  const int32_t kind = static_cast<int32_t>(kindWord & 0xFF);
  if (kind == 1) first = end - 1;
  for (int32_t r = first; r < end; ++r) {
    uint8_t record[line::kSize];
    if (!readRecord(r, record)) return -1;
    const LineView view{record};
    if (m_bRollbackView && mode == kModeRefund && view.type() <= 14) {
      putI32(record, line::kUnit, -view.unit());
      putI32(record, line::kPrice, -view.price());
    }
    const bool isClosing = view.type() == kKeyClosing;
    std::string text = BuildLineText(record, isClosing && reprint ? -1 : kind, haveHeading ? heading : nullptr, 0);
    if (isClosing) {
      if (r == end - 1)
        text += kFF;
      else
        text += "\r\n\n" + std::string(static_cast<size_t>(m_nPrnCol), '*') + "\r\n\n";
    }
    RoutePrintText(text);
  }
  return 0;
}

std::string CReceiptPrinter::BuildLineText(const void* lineIn, int32_t kind, const void* heading, int32_t alwaysName) {
  uint8_t record[line::kSize];
  std::memcpy(record, lineIn, line::kSize);
  const LineView view{record};
  const int32_t W = m_nPrnCol;
  const int32_t E = W - 35;

  if (m_bRollbackView && (view.flags() & line::kVoid) && view.type() != kKeyClosing) {
    putI32(record, line::kUnit, -view.unit());
    putI32(record, line::kPrice, -view.price());
  }
  if (m_bPrnUchiHen) {
    bool suppress = false;
    ConvertTaxInclusive(record, &suppress);
    if (suppress) return std::string();
  }

  const uint16_t type = view.type();
  const uint16_t code = view.number();
  const uint16_t flags = view.flags();
  switch (type) {
    case kKeyCustomer: {
      const std::string name = view.displayName();
      const int32_t form = ReceiptForm();
      if (name.empty() || m_bPrnSA || !(form == 0 || form == 1 || alwaysName)) return std::string();
      return trimRight(fitColumns(name, std::min(W - 3, 36))) + " 様" + kCRLF;
    }
    case kKeyClosing:
      return BuildFooter(record, kind, heading);
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
      return BuildReportLine(record);
    case 1:
    case 2:
    case 3:
    case 4:
    case 8:
      break;
    default:
      return std::string();
  }

  if (flags & line::kDouble) {
    const std::string amount = amountField(view.price(), 11, view.price() >= 0 && !(flags & line::kCcts)) + kSI;
    if (W < 35) return fitColumns(view.printName(), 8) + kSO + amount;
    if (W < 42) return std::string(1, kSO) + fitColumns(view.printName(), 6) + kSI + " " + kSO + amount;
    std::string indent = W > 42 ? spaces(W - 42) : std::string();
    return std::string(1, kSO) + cutColumns(fitColumns(view.printName(), 12) + indent, (E - 11) / 2 + 12) + amount;
  }

  std::string text;
  if (type == 8 && (code == 30 || code == 41)) text += kCRLF;
  const bool department = type == 1;
  // 1. name
  if (department && code != 0 && m_bPrnFncn)
    text += fitColumns(view.displayName(), 24) + " ";
  else
    text += fitColumns(view.printName(), 12) + " ";
  // 2. one or two printed lines
  const bool twoLine = m_bNarrowLayout && (department || (type == 3 && code >= 29 && code <= 33));
  int32_t Q;
  if (twoLine) {
    text += "\r\n ";
    Q = W < 35 ? 9 : W < 42 ? 14 : 21;
  } else {
    Q = W < 35 ? 4 : 9;
  }
  // 3. quantity
  std::string quantity;
  if (view.unit() == 0 || (type == 3 && (code == 28 || code == 31 || code == 33)))
    quantity = spaces(Q);
  else
    quantity = numberField(view.unit(), Q, 0);
  if ((flags & line::kClct) && quantity.size() >= 4) quantity.replace(0, 4, "訂正");
  text += quantity;
  // 4. middle part
  const int64_t absUnit = std::llabs(static_cast<int64_t>(view.unit()));
  if (type == 3 && code == 28) {
    // A number (a card or slip number) of |unit| digits in a 14-column field;
    // longer numbers keep their last 14 digits.
    const int digits = static_cast<int>(std::min<int64_t>(absUnit, 14));
    std::string number =
        format("%0*lld", digits, static_cast<long long>(std::llabs(static_cast<int64_t>(view.price()))));
    if (number.size() > 14) number = number.substr(number.size() - 14);
    return text + "        #" + spaces(14 - static_cast<int32_t>(number.size())) + number + "#";
  }
  if (type == 3 && (code == 31 || code == 33)) {
    text += numberField(view.unitPrice(), 9, code == 31 ? '-' : '+') + "%";
  } else if ((type == 1 || type == 2 || type == 4 || type == 3) && absUnit > 1) {
    text += "X" + numberField(view.unitPrice(), 9, '@');
  } else if (type == 8 && ((code >= 30 && code <= 38) || code == 46) && W < 42) {
    text += spaces(3);
  } else if (twoLine) {
    text += spaces(10);
  } else {
    text += spaces(W < 42 ? 3 : 10);
  }
  // 5. amount
  std::string amount;
  if (type == 8 && code == 26) {
    const int32_t width = std::max(E + 2, 9);
    amount = format("%*.2f%%", static_cast<int>(width), view.price() / 100.0);
  } else {
    const int32_t A = std::max(E + 3, 10);
    if (type == 8 && (code == 53 || code == 54))
      amount = numberField(view.price(), A - 1, 0) + "P";
    else
      amount = amountField(view.price(), A, view.price() >= 0 && !(type == 4 && code == 75));
  }
  // 6. tax marks
  if (W >= 46 && (department || (type == 8 && code == 8) || (type == 3 && code >= 30 && code <= 33)) &&
      amount.size() >= 3) {
    const std::string& marks = (flags & line::kInnerTax) ? m_strTaxIn : m_strTaxOut;
    const size_t cls = static_cast<size_t>(view.taxClass());
    if (cls < marks.size() && amount[0] == ' ') amount[0] = marks[cls];
    if ((flags & line::kNonTaxable) && amount[1] == ' ') amount[1] = '*';
    if ((flags & line::kNoSpecialTax) && amount[2] == ' ') amount[2] = '/';
  }
  text += amount;
  // 7. codes
  if (flags & line::kPcd) text += fitColumns(view.code(), 14) + kCRLF;
  if (flags & line::kPscd) text += fitColumns(view.subCode(), 14) + kCRLF;
  return text;
}

std::string CReceiptPrinter::BuildFooter(const uint8_t* record, int32_t kind, const void* heading) {
  const LineView view{record};
  const int32_t W = m_nPrnCol;
  const uint16_t mode = view.number();
  const int32_t total = view.netPrice();
  const int32_t form = ReceiptForm();
  const std::string indent = W > 42 ? spaces(W - 42) : std::string();
  std::string text;

  if (((form == 2 && kind == 0) || kind == 2) &&
      (mode == kModeRefund || mode == kModeRegister1 || mode == kModeRegister2)) {
    if ((mode == kModeRefund && total < 0) || (mode != kModeRefund && total >= 0))
      text += kCRLF + BuildFormalBlock(total, 0, heading, nullptr);
    text += BuildMessageLines(0);
  }
  text += kCRLF + fitColumns(cutColumns(view.printName(), 8), 8);

  const bool report = mode == kModeProgram || mode == kModeXReading || mode == kModeSettlement;
  if (!report) {
    const int32_t items = view.unit();
    if (W < 35)
      text += items < 100 ? format("%3ld点 ", static_cast<long>(items)) : spaces(6);
    else if (W < 42)
      text += format("%5ld点  ", static_cast<long>(items));
    else
      text += format("%5ld 点    ", static_cast<long>(items));
  } else {
    text += spaces(W < 35 ? 6 : W < 42 ? 9 : 12);
  }

  switch (mode) {
    case kModeSettlement: text += "Z   "; break;
    case kModeXReading: text += "X   "; break;
    case kModeRegister2: text += "REG2"; break;
    case kModeRegister1: text += "REG1"; break;
    case kModeRefund: text += std::string(1, kSO) + "戻" + kSI; break;
    case kModeProgram: text += "PRG "; break;
    case 207: text += "小計"; break;
    default: text += "    "; break;
  }

  if (mode != 207) {
    const uint32_t timeWord = static_cast<uint32_t>(view.unitPrice()) & 0xFFFF;
    const unsigned hour = timeWord >> 11, minute = (timeWord >> 5) & 0x3F;
    const long number = static_cast<long>(static_cast<uint32_t>(view.price()) & 0xFFFF) + view.unitNet();
    if (W < 35)
      text += format(" %02u:%02u %05ld", hour, minute, number);
    else if (W < 42)
      text += format("  %02u:%02u  %05ld", hour, minute, number);
    else
      text += format("    %02u:%02u%s    %05ld", hour, minute, indent.c_str(), number);
  } else {
    if (W < 35) {
    } else if (W < 42) {
      text += "  ";
    } else {
      text += "    " + indent + "  ";
    }
    text += amountField(view.price(), 12, view.price() >= 0);
  }
  return text;
}

}  // namespace varnex::reg
