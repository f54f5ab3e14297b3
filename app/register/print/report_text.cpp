// Report lines of X and Z readings and programming printouts (item lines,
// total lines, free text, headings, separators, blank lines), the ticket of a
// held sale and the printout of the store's receipt message.
#include <cstring>

#include "app/register/print/receipt_format.h"
#include "app/register/print/receipt_printer.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/message_box.h"
#include "zemta/date.h"

namespace varnex::reg {

using namespace receipt;

std::string CReceiptPrinter::BuildReportLine(const uint8_t* record) {
  const LineView view{record};
  const int32_t W = m_nPrnCol;
  const int32_t E = W - 35;
  const uint16_t type = view.type();
  const uint16_t code = view.number();
  const uint16_t flags = view.flags();
  const bool ccts = flags & line::kCcts;
  const bool sa = m_bPrnSA;
  std::string text;

  if (type == 10) {
    text += kCRLF + fitColumns(view.printName(), 12);
    const uint8_t first = record[line::kCode];
    if (first != 0 && first != 0xFF)
      text += spaces(10) + fitColumns(view.code(), 13) + kCRLF;
    else
      text += kCRLF;
    if (view.unit() != 0) {
      text += sa ? "個ｽｳ" : "個数";
      text += numberField(view.unit(), E < 0 ? 6 : std::min(std::max(E, 2) + 8, 15), 0);
      if (E > 0) text += "  ";
      if (E >= 0) text += " ";
      text += sa ? " ﾍｲｷﾝﾀﾝｶ " : " 平均単価";
      text += numberField(view.price() / view.unit(), std::max(E + 4, 11), '@');
    }
    if (view.price() != 0) {
      text += "売上額";
      text += E == 0 ? std::string(" ") + kSO : std::string(1, kSO);
      text += amountField(view.price(), (E + 1) / 2 + 14, view.price() >= 0);
      text += sa ? std::string("ｺｳｾｲﾋ") + kSI + "  " : std::string("構成比") + kSI;
      // The share of the report's total; a zero total has none.
      if (view.unitPrice() != 0)
        text += format("%*.2f%%", static_cast<int>(E + 22), view.price() * 100.0 / view.unitPrice());
      else
        text += spaces(E + 23);
    }
    if (view.unitNet() != 0 && view.netPrice() != 0) {
      if (view.price() != view.netPrice() && view.price() != 0) {
        const double share = view.netPrice() * 100.0 / view.price();
        if (E > 0)
          text += (sa ? "ｱﾗﾘｹｲｻﾝﾀｲｼｮｳ" : "粗利計算対象") + format("%6.2f%%", share);
        else if (E == 0)
          text += (sa ? "ｱﾗﾘﾀｲｼｮｳ" : "粗利対象") + format("%5.1f%%", share);
        else
          text += sa ? "ﾀｲｼｮｳ" + format("%4.0f%%", share) : "対象" + format("%5.1f%%", share);
      } else {
        text += spaces(E > 0 ? 19 : 14);
      }
      if (E > 0) text += "  ";
      text += sa ? "  ｱﾗﾘ額 " : "  粗利額";
      const int64_t margin = static_cast<int64_t>(view.netPrice()) - view.unitNet();
      text += amountField(margin, std::max(E + 6, 13), margin >= 0);
    }
    return text;
  }

  if (type == 11 && code == 4095) {
    // Free text runs from the display name on, up to the flag word.
    const std::string free = getText(record, 0, line::kFlags);
    return FitPrintLine(free.c_str(), static_cast<int32_t>(free.size()));
  }

  if (type == 11) {
    const bool gross64 = code == 64 && ccts;
    if (!gross64) text += kCRLF;
    if (gross64 && E < 0)
      text += spaces(9);
    else
      text += fitColumns(view.printName(), 12) + (E < 0 ? " " : "  ");
    if (E > 0) text += "  ";
    if (code == 64 && !ccts)
      text += format("No.%04lu\r\n", static_cast<unsigned long>(static_cast<uint32_t>(view.unitPrice()))) +
              spaces(E < 0 ? 9 : E < 7 ? 14 : 16);
    if (view.unit() != 0) {
      if (code == 64) {
        text += std::string(ccts ? "総売個" : "純売件") + (sa ? "ｽｳ" : "数");
      } else if (code == 31 || code == 33) {
        text += "客      ";
      } else {
        text += ccts ? "個" : "件";
        if (E < 0)
          text += "数";
        else
          text += sa ? std::string(1, kSO) + "ｽｳ" + kSI + "  " : std::string("数    ");
      }
      const int32_t width = std::max(E + 11, 13);
      if (code == 75)
        text += format("%*.2f", static_cast<int>(width), view.unit() / 100.0);
      else
        text += numberField(view.unit(), width, 0);
      if (view.price() == 0) return text;
      text += spaces(E < 0 && code == 64 ? 9 : E < 0 ? 13 : E < 7 ? 14 : 16);
    }
    if (code == 64)
      text += ccts ? "総売金額" : "純売金額";
    else
      text += E < 0 ? "金額" : "金額    ";
    text += amountField(view.price(), std::max(E + 11, 13), view.price() >= 0);
    return text;
  }

  if (type == 12) {
    const bool doubleName = code < 11 && E > 0;
    const std::string name = trimRight(fitColumns(view.printName(), 12));
    const int32_t nameLength = static_cast<int32_t>(name.size());
    if (doubleName) text += kSO;
    text += name;
    if (ccts) {
      if (code >= 11) {
        text += spaces(16 - nameLength);
        text += E > 0 ? std::string(1, kSI) + "  " + kSO + "PGM点検" + kSI + kCRLF : std::string("  PGM点検\r\n");
      } else {
        text += E > 0 ? std::string(1, kSI) + "  " + kSO + (sa ? "ｲｯｶﾂ点検" : "一括点検") + kSI
                      : std::string(sa ? "  ｲｯｶﾂ点検" : "  一括点検");
        text += kCRLF;
      }
      return text;
    }
    text += "ﾚﾎﾟｰﾄ 精算";
    // The columns taken so far: the name and the title, twice over when
    // they were printed in double width.
    int32_t width = nameLength + 10;
    if (doubleName) {
      text += kSI;
      width = 2 * nameLength + 20;
    }
    text += spaces(W - 4 - width);
    text += format("%04lu", static_cast<unsigned long>(static_cast<uint32_t>(view.price()) % 10000));
    return text;
  }

  if (type == 13) {
    const bool clct = flags & line::kClct;
    if (clct) text += "\r\n\n";
    std::string name(reinterpret_cast<const char*>(record + line::kPrintName), line::kPrintNameLen);
    char fill = name[line::kPrintNameLen - 1];
    if (fill == 0) fill = ' ';
    for (char& c : name)
      if (c == 0) c = ' ';
    size_t n = 0;
    const size_t space = name.find(' ');
    if (ccts && space != std::string::npos && space > 0) {
      text += kCRLF + kSO + name.substr(0, space) + kSI;
      n = 2 * space;
    }
    if (n < name.size()) text += name.substr(n);
    text += std::string(static_cast<size_t>(std::max(W - 12, 0)), fill);
    if (clct) text += "\r\n\n";
    return text;
  }

  if (type == 14) return kCRLF;
  return text;
}

int32_t CReceiptPrinter::PrintHeldSale(MemoryBlockHandle block, int32_t items, int32_t amount, const char* heldPath) {
  if (m_bPrintEachLine) {
    RoutePrintText(std::string(1, kFF), heldPath);
    return 0;
  }
  if (!block) return -1;
  const int32_t size = SeekMemory(block, 0, MEMORY_SEEK_END);
  if (size < 0) return -1;
  const int32_t count = size / static_cast<int32_t>(line::kSize);
  if (count == 0) return 0;
  auto readRecord = [&](int32_t n, uint8_t* out) {
    return SeekMemory(block, n * static_cast<int32_t>(line::kSize), MEMORY_SEEK_BEGIN) >= 0 &&
           ReadDataMemory(block, out, line::kSize) == static_cast<int32_t>(line::kSize);
  };
  uint8_t heading[line::kSize] = {};
  bool haveHeading = false;
  if (!readRecord(0, heading)) return -1;
  haveHeading = LineView{heading}.type() == kKeyCustomer;

  std::string head;
  uint16_t date = 0;
  BuildReceiptHead(head, 196, &date, 0, 0, haveHeading ? heading : nullptr, nullptr);
  RoutePrintText(head, heldPath);
  for (int32_t r = 0; r < count; ++r) {
    uint8_t record[line::kSize];
    if (!readRecord(r, record)) return -1;
    RoutePrintText(BuildLineText(record, 0, haveHeading ? heading : nullptr, 1), heldPath);
  }

  uint8_t footer[line::kSize] = {};
  putU16(footer, line::kKeyCode, 0xF0CF);
  const uint8_t* clerkRecord = m_pPrintEngine && m_pPrintEngine->IsOpen() ? m_pPrintEngine->Manager() : nullptr;
  if (clerkRecord) putText(footer, line::kPrintName, 8, getText(clerkRecord, clerk::kPrintName.offset, 8));
  putI32(footer, line::kUnit, items);
  uint16_t today = 0, now = 0;
  GetDate(&today, &now);
  putU32(footer, line::kUnitPrice, (static_cast<uint32_t>(today) << 16) | now);
  putI32(footer, line::kPrice, amount);
  putI32(footer, line::kUnitNet, getI32(GeneralSettings(), settings::kReceiptNumberAdd.offset));
  putU16(footer, line::kFlags, line::kClct);
  const std::string footerText = BuildLineText(footer, 0, haveHeading ? heading : nullptr, 1);

  if (!m_bPrnSA) {
    RoutePrintText(footerText + kFF, heldPath);
    return 0;
  }
  std::string text = footerText;
  if (heldPath) {
    uint8_t separator[line::kSize] = {};
    putU16(separator, line::kKeyCode, makeKeyCode(13, 0));
    putText(separator, line::kPrintName, line::kPrintNameLen, "------------");
    const std::string rule = BuildLineText(separator, 0, nullptr, 0);
    text += rule + "Reserve Path: " + heldPath + kCRLF + rule;
  }
  text += kFF;
  RoutePrintText(text, heldPath);
  return 0;
}

int32_t CReceiptPrinter::PrintSettingsFile(int32_t viewMode) {
  if (!m_bReceiptOn) {
    platform::MessageBoxRequest ask;
    ask.text = "印刷を行ってもよろしいですか?";
    ask.style = platform::kMbYesNo | platform::kMbIconQuestion;
    if (platform::showMessageBox(ask) != platform::kIdYes) return 1;
  }
  if (!m_pPrintEngine || m_pPrintEngine->ReloadSettings() != 0) return 0;
  if (viewMode != 111) return 0;

  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  if (!block) return 0;
  bool ok = true;
  uint8_t record[line::kSize] = {};
  m_pPrintEngine->BuildReportHeader(record, 21, m_bPrnSA, 1);
  ok = WriteDataMemory(block, record, line::kSize) == static_cast<int32_t>(line::kSize);
  const uint8_t* s = GeneralSettings();
  for (int i = 0; ok && i < settings::kMessageLines; ++i) {
    const std::string message = trimRight(getText(
        s, settings::kReceiptMessage.offset + i * settings::kMessageLineWidth, settings::kMessageLineWidth));
    std::memset(record, 0, sizeof record);
    CRegCom::BuildTextLine(record, message.c_str());
    ok = WriteDataMemory(block, record, line::kSize) == static_cast<int32_t>(line::kSize);
  }
  uint8_t closing[line::kSize] = {};
  if (ok) ok = m_pPrintEngine->PrfUpdate(kModeProgram, block, closing, nullptr, 0) >= 0;
  if (ok) {
    SeekMemory(block, 0, MEMORY_SEEK_END);
    ok = WriteDataMemory(block, closing, line::kSize) == static_cast<int32_t>(line::kSize);
  }
  if (ok) ok = PrintReceipt(block, 1, 0, -1, 0, 0, nullptr) == 0;
  DeleteMemory(block);
  return ok ? 1 : 0;
}

}  // namespace varnex::reg
