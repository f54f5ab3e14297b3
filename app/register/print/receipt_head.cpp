// The top of every receipt and the formal receipt (領収証): blank lines, the
// ticket's title, the store's message lines, the store name with the date,
// the formal block (customer, amount, proviso, revenue-stamp box,
// acknowledgment) and the heading "明細" above the details.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/register/print/receipt_format.h"
#include "app/register/print/receipt_printer.h"
#include "app/register/engine/reg_com.h"
#include "zemta/date.h"

namespace varnex::reg {

using namespace receipt;

namespace {

const char* const kWeekdays[7] = {"日", "月", "火", "水", "木", "金", "土"};

bool isRegistration(uint16_t mode) {
  return mode == kModeRefund || mode == kModeRegister1 || mode == kModeRegister2;
}

}  // namespace

void CReceiptPrinter::BuildReceiptHead(std::string& text, uint16_t mode, uint16_t* date, int32_t total,
                                       uint32_t kindWord, const void* heading, const char* proviso) {
  const int32_t W = m_nPrnCol;
  const int32_t form = ReceiptForm();
  const int32_t kind = static_cast<int32_t>(kindWord & 0xFF);
  bool formal = false;
  text.clear();
  for (int32_t i = 0; i < m_bPrnBlank; ++i) text += kCRLF;

  if (isRegistration(mode)) {
    bool messages = true;
    if (!(form == 0 && kind == 0)) {
      formal = (form == 3 && kind == 0) || kind == 1 || kind == 3;
      text += spaces((W - 35) / 2 + 6) + kSO;
      if (mode == kModeRefund && total >= 0) {
        text += std::string(" 払い戻し票") + kSI + "\r\n\n";
      } else if (mode != kModeRefund && total < 0) {
        text += std::string("出   金   票") + kSI + "\r\n\n";
      } else if (form == 1 && kind == 0) {
        if (m_bPrnSA)
          text += std::string(" ｵ ｶｲ 上 票 ") + kSI + kCRLF + spaces((W - 35) / 2 + 8) + "ﾏｲﾄﾞ ｱﾘｶﾞﾄｳ ｺﾞｻﾞｲﾏｽ\r\n\n";
        else
          text += std::string("お 買 上 票") + kSI + kCRLF + spaces((W - 35) / 2 + 6) + "毎度ありがとうございます\r\n\n";
      } else {
        text += std::string(m_bPrnSA ? "ﾘｮｳ  ｼｭｳ  証" : "領   収   証") + kSI + "\r\n\n";
      }
      if (formal) messages = false;
    }
    if (messages && kind != 2 && !(form == 2 && kind == 0)) text += BuildMessageLines(1);
    if (form == 0 && kind == 0 && m_bPrnSA) RaiseSaRequest(0x800);
  }

  const std::string store = StoreName();
  if (W < 35)
    text += fitColumns(store, 10) + "  ";
  else if (W < 42)
    text += fitColumns(store, 16) + " ";
  else
    text += fitColumns(store, 24);

  if (date && *date == 0) GetDate(date, nullptr);
  const uint16_t day = date ? *date : 0;
  const int32_t week = GetWeek(day);
  const std::string indent = W > 42 ? spaces(W - 42) : std::string();
  text += format("%s%4u年%2u月%2u日(%s)", indent.c_str(), (day >> 9) + 1980u, (day >> 5) & 0x0Fu, day & 0x1Fu,
                 week >= 0 && week < 7 ? kWeekdays[week] : "  ");

  if (formal) {
    if ((mode == kModeRefund && total < 0) || (mode != kModeRefund && total >= 0))
      text += BuildFormalBlock(total, (kindWord & 0x100) ? 1 : 0, heading, proviso);
    text += BuildMessageLines(0);
  }
  if (mode != kModeNotSetUp && ((form == 2 && kind == 0) || kind == 2 || (formal && kind != 1))) text += "\r\n明細\r\n";
}

std::string CReceiptPrinter::BuildFormalBlock(int32_t total, int32_t provisoFlag, const void* heading,
                                              const char* proviso) {
  const int32_t W = m_nPrnCol;
  const int32_t P = W - 14;
  std::string text;
  if (heading) {
    const std::string name = LineView{static_cast<const uint8_t*>(heading)}.customerName();
    text += kCRLF + kESC + "X";
    if (m_bPrnSA || name.empty())
      text += spaces(29);
    else
      text += trimRight(fitColumns(name, line::kCustomerNameLen));
    text += std::string(m_bPrnSA ? " ｻﾏ" : " 様") + kESC + "Y" + kCRLF;
  }
  const int64_t amount = std::llabs(static_cast<int64_t>(total));
  text += kCRLF + kSO + kESC + "X" + "金額" + amountField(amount, 10, true) + "-" + kESC + "Y" + kSI + kCRLF;

  const int32_t threshold = getI32(GeneralSettings(), settings::kStampThreshold.offset);
  const std::string provisoWord = m_bPrnSA ? "ﾀﾀﾞｼ" : "但し";
  if (amount >= threshold) {
    text += spaces(P) + " -----------  ";
    if (provisoFlag)
      text += provisoWord + (proviso ? " " + fitColumns(proviso, P - 5) : spaces(P - 4));
    else
      text += spaces(P);
    std::vector<const char*> cells;
    if (m_bPrnSA) {
      cells = {"{  ｼｭｳ  入  { ", "{           { ", "{  ｲﾝ   ｼ   { "};
    } else {
      if (m_nPrnPitch != 2) cells.push_back("|           | ");
      cells.push_back("|  収   入  | ");
      cells.push_back("|           | ");
      if (m_nPrnPitch != 1) cells.push_back("|           | ");
      cells.push_back("|  印   紙  | ");
      if (m_nPrnPitch != 2) cells.push_back("|           | ");
    }
    for (size_t i = 0; i < cells.size(); ++i) text += (i ? spaces(P) : std::string()) + cells[i];
    text += spaces(P) + " -----------  ";
  } else {
    text += kCRLF;
    if (provisoFlag) {
      text += provisoWord;
      if (proviso && *proviso) text += std::string(" ") + proviso;
    }
    text += "\r\n\n";
  }
  if (m_bPrnSA)
    text += "  上ｷﾉ 金額 正ﾆ ﾘｮｳｼｭｳ ｲﾀｼﾏｼﾀ";
  else if (W < 35)
    text += "上記の金額正に領収いたしました";
  else
    text += "  上記の金額正に領収いたしました";
  return text + kCRLF;
}

std::string CReceiptPrinter::BuildMessageLines(int32_t trailing) {
  const uint8_t* s = GeneralSettings();
  const uint16_t base = settings::kReceiptMessage.offset;
  bool any = false;
  for (int i = 0; i < settings::kMessageLines; ++i) any |= s[base + i * settings::kMessageLineWidth] != 0;
  if (!any) return std::string();
  std::string text = trailing ? std::string() : kCRLF;
  for (int i = 0; i < settings::kMessageLines; ++i)
    text += FitPrintLine(reinterpret_cast<const char*>(s + base + i * settings::kMessageLineWidth),
                         settings::kMessageLineWidth);
  if (trailing) text += kCRLF;
  return text;
}

std::string CReceiptPrinter::FitPrintLine(const char* source, int32_t length) {
  const int32_t W = m_nPrnCol;
  size_t n = 0;
  while (length > 0 && n < static_cast<size_t>(length) && source[n] != 0) ++n;
  const std::string line = trimRight(std::string(source, n));
  std::string out;
  int32_t col = 0;
  bool doubleWidth = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(line[i]);
    if (b == '\\' && i + 1 < line.size() && !(line[i + 1] >= '0' && line[i + 1] <= '9')) {
      const char e = line[++i];
      if (e == 'e') {
        out += kSO;
        doubleWidth = true;
      } else if (e == 'f') {
        out += kSI;
        doubleWidth = false;
      } else if (e == 'n') {
        out += kCRLF;
        col = 0;
      }
      continue;
    }
    // A double-byte character goes whole or not at all (its trail byte may
    // be 0x5C, which is no escape there).
    const size_t bytes = isLeadByte(b) && i + 1 < line.size() ? 2 : 1;
    const int32_t columns = static_cast<int32_t>(bytes) * (doubleWidth ? 2 : 1);
    if (col + columns > W) break;
    out.append(line, i, bytes);
    col += columns;
    i += bytes - 1;
  }
  if (doubleWidth) out += kSI;
  if (col < W) out += kCRLF;
  return out;
}

}  // namespace varnex::reg
