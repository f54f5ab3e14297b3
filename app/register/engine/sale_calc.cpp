// Small computations of a sale that the sales screen, the receipt and report
// texts and the posting share: the tax of a line or an item by its flags, unit
// rounding, sums over the four tax rates, the sale totals block, the price
// code masks and the order-code pattern, flag conversions, and the builders of
// the fixed line records of reports and printouts.
#include "app/register/engine/sale_calc.h"

#include <cstring>
#include <string>

#include "app/register/engine/journal.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/cp932.h"
#include "platform/base/file.h"
#include "platform/base/path.h"
#include "zemta/date.h"
#include "zemta/filedb.h"
#include "zemta/tax.h"

namespace varnex::reg {
namespace {

struct SystemName {
  const char* display;
  const char* print;
  const char* printSa;  // null: the print name
};

const SystemName kSystemNames[kSystemLineKinds] = {
    {"小計", "小計", nullptr},
    {"サービス", "ｻｰﾋﾞｽ", nullptr},
    {"釣銭", "釣", nullptr},
    {"課税額", "課税額", nullptr},
    {"消費税", "消費税", "消ﾋ税"},
    {"税込額", "税込額", "税ｺﾐ額"},
    {"税含む", "税含む", "税ﾌｸﾑ"},
    {"特地税", "特税", "ﾄｸ税"},
    {"奉仕料", "奉仕", nullptr},
    {"", "", nullptr},
    {"免税額含む", "免税額含む", "免税額ﾌｸﾑ"},
    {"免税額含む(1)", "免税額含む(1)", "免税額ﾌｸﾑ(1)"},
    {"免税額含む(2)", "免税額含む(2)", "免税額ﾌｸﾑ(2)"},
    {"免税額含む(3)", "免税額含む(3)", "免税額ﾌｸﾑ(3)"},
    {"課税額(1)", "課税額(1)", nullptr},
    {"課税額(2)", "課税額(2)", nullptr},
    {"課税額(3)", "課税額(3)", nullptr},
    {"消費税(1)", "消費税(1)", "消ﾋ税(1)"},
    {"消費税(2)", "消費税(2)", "消ﾋ税(2)"},
    {"消費税(3)", "消費税(3)", "消ﾋ税(3)"},
    {"個数", "個数", "個ｽｳ"},
    {"売上額", "売上額", nullptr},
    {"純売件数", "純売件数", "純売件ｽｳ"},
    {"純売金額", "純売金額", nullptr},
    {"総売個数", "総売個数", "総売個ｽｳ"},
    {"総売金額", "総売金額", nullptr},
    {"粗利計算対象", "粗利計算対象", "ｱﾗﾘｹｲｻﾝﾀｲｼｮｳ"},
    {"粗利額", "粗利額", "ｱﾗﾘ額"},
    {"", "", nullptr},
    {"", "", nullptr},
    {"１０，０００円", "10,000円", nullptr},
    {"  ５，０００円", " 5,000円", nullptr},
    {"  １，０００円", " 1,000円", nullptr},
    {"      ５００円", "   500円", nullptr},
    {"      １００円", "   100円", nullptr},
    {"        ５０円", "    50円", nullptr},
    {"        １０円", "    10円", nullptr},
    {"          ５円", "     5円", nullptr},
    {"          １円", "     1円", nullptr},
    {"小切手", "小切手", "ｺｷﾞｯﾃ"},
    {"合計", "合計", "ｺﾞｳｹｲ"},
    {"前回残高", "前回残高", nullptr},
    {"現預", "現預", nullptr},
    {"入金", "入金", nullptr},
    {"出金", "出金", nullptr},
    {"差引残高", "差引残高", "ｻｼﾋｷ残高"},
    {"  ２，０００円", " 2,000円", nullptr},
    {"税込額(1)", "税込額(1)", "税ｺﾐ額(1)"},
    {"税込額(2)", "税込額(2)", "税ｺﾐ額(2)"},
    {"税込額(3)", "税込額(3)", "税ｺﾐ額(3)"},
    {"税含む(1)", "税含む(1)", "税ﾌｸﾑ(1)"},
    {"税含む(2)", "税含む(2)", "税ﾌｸﾑ(2)"},
    {"税含む(3)", "税含む(3)", "税ﾌｸﾑ(3)"},
    {"獲得ポイント", "獲得ポイント", "ｶｸﾄｸﾎﾟｲﾝﾄ"},
    {"ポイント残高", "ポイント残高", "ﾎﾟｲﾝﾄ残高"},
};

// Report headings: the display base of each kind (kinds 1-6 with leading
// blanks, so that a settlement heading fills its 24 bytes).
const char* const kReportHeadings[] = {
    "精算ﾚﾎﾟｰﾄﾌｫｰﾏｯﾄ", "  部門", "  ＰＬＵ", "グループ", "  担当者", "  取引",  "固定合計", "現金収支",
    "",                  "",       "",         "ﾌｧﾝｸｼｮﾝｷｰ", "全体",   "部門",    "ＰＬＵ",   "グループ",
    "担当者",            "取引１", "取引２",   "取引３",    "固定合計", "メッセージ",
};
constexpr uint16_t kReportHeadingKinds = sizeof kReportHeadings / sizeof kReportHeadings[0];

void putName(void* line, uint16_t offset, uint16_t width, const std::string& text) {
  putText(line, offset, width, platform::cp932::cutText(text, width));
}

std::string repeat(const char* piece, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += piece;
  return s;
}

uint16_t taxWordOf(const uint8_t* settingsRecord) {
  return settingsRecord ? getU16(settingsRecord, settings::kTaxWord) : 0;
}

// Whether a 12-position mask constrains a code at all: a mask without a
// digit would take every code for a price-embedded one.
bool maskHasDigit(const uint8_t* mask) {
  for (int i = 0; i < 12 && mask[i]; ++i)
    if (mask[i] >= '0' && mask[i] <= '9') return true;
  return false;
}

bool matchesMask(const uint8_t* mask, const char* code, size_t length) {
  for (size_t i = 0; i < 12 && mask[i]; ++i) {
    if (mask[i] < '0' || mask[i] > '9') continue;
    if (i >= length || static_cast<uint8_t>(code[i]) != mask[i]) return false;
  }
  return true;
}

}  // namespace

const char* SystemLineName(uint16_t kind, SystemLineColumn column) {
  if (kind >= kSystemLineKinds) return "";
  const SystemName& n = kSystemNames[kind];
  switch (column) {
    case kSystemDisplayName: return n.display;
    case kSystemPrintName: return n.print;
    default: return n.printSa ? n.printSa : n.print;
  }
}

uint16_t SystemLineFlags(uint16_t kind) {
  uint16_t flags = 0;
  if (kind == 0 || (kind >= 20 && kind <= 25) || kind == 40 || kind == 45) flags |= line::kDouble;
  if (kind == 20 || kind == 22 || kind == 24) flags |= line::kCcts;
  return flags;
}

// ---- tax ----------------------------------------------------------------------

int32_t CRegCom::ApplyLineTax(uint16_t lineFlags, int32_t amount) const {
  const uint16_t word = taxWordOf(settings_);
  const int32_t rate = (lineFlags >> line::kRateShift) & 3;
  if (word & 0x200) {
    if (lineFlags & line::kInnerTax) return CalTaxInc(amount, (word >> 2) & 3, rate);
    return amount;
  }
  if ((lineFlags & (line::kInnerTax | line::kNonTaxable | line::kTaxExempt)) == 0)
    return amount + CalTax(amount, word & 3, rate);
  return amount;
}

int32_t CRegCom::ApplyItemTax(uint16_t itemFlags, int32_t amount) const {
  const uint16_t word = taxWordOf(settings_);
  const int32_t rate = (itemFlags >> attribute::kRateShift) & 3;
  if (word & 0x200) {
    if ((itemFlags & attribute::kInnerTax) && !(itemFlags & attribute::kNonTaxable))
      return CalTaxInc(amount, (word >> 2) & 3, rate);
    return amount;
  }
  if ((itemFlags & (attribute::kInnerTax | attribute::kNonTaxable)) == 0) return amount + CalTax(amount, word & 3, rate);
  return amount;
}

int32_t CRegCom::RoundUnit(int32_t amount) const {
  switch ((taxWordOf(settings_) >> 4) & 3) {
    case 1: return amount / 5 * 5;  // toward zero, as the division does
    case 2: return amount / 10 * 10;
    default: return amount;
  }
}

int32_t CRegCom::SumOfRates(const int32_t amounts[4]) { return amounts[0] + amounts[1] + amounts[2] + amounts[3]; }

int32_t CRegCom::OuterTaxOfRates(const int32_t amounts[4]) const {
  const int32_t rounding = taxWordOf(settings_) & 3;
  int32_t tax = 0;
  for (int r = 0; r < 4; ++r) tax += CalTax(amounts[r], rounding, r);
  return tax;
}

int32_t CRegCom::NetOfInnerRates(const int32_t amounts[4]) const {
  const int32_t rounding = (taxWordOf(settings_) >> 2) & 3;
  int32_t net = 0;
  for (int r = 0; r < 4; ++r) net += CalTaxInc(amounts[r], rounding, r);
  return net;
}

void CRegCom::AddLineToTotals(const void* record, int32_t* t) const {
  if (!record || !t) return;
  const uint16_t key = getU16(record, line::kKeyCode);
  const uint16_t type = keyType(key), code = keyNumber(key);
  const int32_t p = getI32(record, line::kPrice);
  if (type == kKeyFunction && code == kFunctionPersons) {
    t[saletotal::kGuests] += p;
    return;
  }
  const bool counted =
      type == kKeyDepartment ||
      (type == kKeyTrans2 && code >= kTrans2PointsEarned && code <= kTrans2PercentSurcharge) ||
      (type == kKeySystemLine && (code == kLineSpecialTax || code == kLineServiceCharge));
  if (!counted) return;
  const uint16_t f = getU16(record, line::kFlags);
  const int r = (f >> line::kRateShift) & 3;
  int32_t a = 0, b = 0, c = 0, d = 0, e = 0, g = 0;
  if (f & (line::kNonTaxable | line::kTaxExempt)) {
    if (f & line::kInnerTax)
      a = b = c = p;
    else
      d = p;
  } else if (f & line::kInnerTax) {
    a = b = p;
  } else {
    e = g = p;
  }
  int32_t specialBase = 0;
  if (!(f & line::kNoSpecialTax)) specialBase = CalTaxInc(a, (taxWordOf(settings_) >> 2) & 3, r) + d + e;
  t[saletotal::kSale] += ApplyLineTax(f, p);
  t[saletotal::kOuterTaxable + r] += g;
  t[saletotal::kInner + r] += b;
  t[saletotal::kExempt] += d;
  t[saletotal::kExemptInner + r] += c;
  t[saletotal::kSpecialBase] += specialBase;
  t[saletotal::kQuantity] += getI32(record, line::kUnit);
  if (f & line::kPointTarget) t[saletotal::kPointTarget] += p;
}

// ---- codes ----------------------------------------------------------------------

int32_t CRegCom::MatchPriceCodeMasks(const char* code, int32_t* which) const {
  if (which) *which = 0;
  if (!code || !*code) return 0;
  if (!settings_) return 1;
  const uint8_t* mask1 = settings_ + settings::kPriceMask1.offset;
  const uint8_t* mask2 = settings_ + settings::kPriceMask2.offset;
  const size_t length = std::strlen(code);
  // An empty mask (one without a digit) matches nothing.
  const bool match1 = maskHasDigit(mask1) && matchesMask(mask1, code, length);
  const bool match2 = maskHasDigit(mask2) && matchesMask(mask2, code, length);
  if (which) *which = match1 && match2 ? -1 : match1 ? 1 : match2 ? 2 : 0;
  return match1 || match2 ? 0 : 1;
}

int32_t CRegCom::MatchOrderCodePattern(const char* code) const {
  if (!code || !*code) return 0;
  const std::string pattern = getText(orderBlock_, 0, odbclink::kOrderBlockLen);
  if (pattern.empty()) return 0;
  bool onlyS = true;
  for (char ch : pattern)
    if (ch != 'S' && ch != 's') onlyS = false;
  const size_t length = std::strlen(code);
  if (onlyS) return length == pattern.size() ? 1 : 0;
  for (size_t i = 0; i < 12 && i < pattern.size(); ++i) {
    if (pattern[i] < '0' || pattern[i] > '9') continue;
    if (i >= length || code[i] != pattern[i]) return 0;
  }
  return 1;
}

// ---- flags ----------------------------------------------------------------------

uint16_t CRegCom::LineFlagsToItemFlags(uint16_t f) {
  uint16_t item = 0;
  if (f & line::kPointTarget) item |= attribute::kPointTarget;
  if (f & line::kNoSpecialTax) item |= attribute::kNoSpecialTax;
  if (f & line::kNonTaxable) item |= attribute::kNonTaxable;
  if (f & line::kInnerTax) item |= attribute::kInnerTax;
  item |= static_cast<uint16_t>(((f >> line::kRateShift) & 3) << attribute::kRateShift);
  return item;
}

void CRegCom::ItemFlagsToLineFlags(uint16_t item, uint16_t* lineFlags) {
  if (!lineFlags) return;
  const uint16_t rate = (item >> attribute::kRateShift) & 3;
  uint16_t f = *lineFlags & static_cast<uint16_t>(~(line::kPointTarget | line::kNoSpecialTax | line::kNonTaxable |
                                                    line::kInnerTax | (3u << line::kRateShift) | (3u << 2)));
  if (item & attribute::kPointTarget) f |= line::kPointTarget;
  if (item & attribute::kNoSpecialTax) f |= line::kNoSpecialTax;
  if (item & attribute::kNonTaxable) f |= line::kNonTaxable;
  if (item & attribute::kInnerTax) f |= line::kInnerTax;
  f |= static_cast<uint16_t>((rate << line::kRateShift) | (rate << 2));
  *lineFlags = f;
}

// ---- line builders ----------------------------------------------------------------

void CRegCom::BuildReportHeader(void* record, uint16_t kind, int32_t printForm, int32_t modeFlag) {
  if (!record) return;
  std::memset(record, 0, line::kSize);
  const std::string base = kind < kReportHeadingKinds ? kReportHeadings[kind] : "";
  const uint16_t key = makeKeyCode(kKeyReportHeading, kind);
  putU16(record, line::kKeyCode, key);
  // Both print forms carry the heading's own name; the half-width form is
  // the display base itself where it is written in half-width letters.
  std::string print = base;
  while (!print.empty() && print[0] == ' ') print.erase(0, 1);
  (void)printForm;
  putName(record, line::kPrintName, line::kPrintNameLen, print);
  std::string display = "＊" + base;
  uint16_t flags = 0;
  if (modeFlag) {
    flags |= line::kCcts;
    display += kind < kReportFunctionKeys ? "一括点検" : " PGM 点検";
  } else {
    display += "レポート精算";
    // The report number: one more than the last heading of this kind in
    // today's daily file, 1 for the first.
    int32_t number = 1;
    if (project_) {
      uint16_t today = 0;
      GetDate(&today, nullptr);
      char path[300];
      if (FileProjGetPathName(project_, path, 3, ReceiptFileName(today).c_str()) == 0 &&
          platform::fileExists(platform::mapPath(path))) {
        FileDBHandle file = FileDBCreate(path, kJournalTableId, 0, kJournalRecordLen, "ﾚｼｰﾄ ﾃﾞｰﾀﾍﾞｰｽ", owner_);
        if (file) {
          // Held open for the scan: a day holds many thousands of lines.
          const bool held = FileDBOpenEx(file, FILEDB_MODE_READ) == 0;
          const int32_t count = FileDBRecGetSize(file);
          uint8_t image[line::kSize];
          for (int32_t n = 0; n < count; ++n) {
            if (FileDBRecRead(file, n, image) != 0) break;
            if (getU16(image, line::kKeyCode) == key && (getU16(image, line::kFlags) & line::kCcts) == 0)
              number = getI32(image, line::kPrice) + 1;
          }
          if (held) FileDBCloseEx(file);
          FileDBDelete(file);
        }
      }
    }
    putI32(record, line::kPrice, number);
  }
  putU16(record, line::kFlags, flags);
  const int blanks = 8 - static_cast<int>(base.size());
  if (blanks >= 1) display += std::string(static_cast<size_t>(blanks), ' ');
  display += "＊";
  putName(record, line::kDisplayName, line::kDisplayNameLen, display);
}

void CRegCom::BuildTotalLine(void* record, uint16_t code, int32_t doubleFlag, int32_t printNameFlag,
                             int32_t titleFlag) {
  if (!record) return;
  std::memset(record, 0, line::kSize);
  putU16(record, line::kKeyCode, makeKeyCode(kKeySeparator, code));
  uint16_t flags = 0;
  std::string display, print;
  if (doubleFlag) {
    flags |= line::kClct;
    display = repeat("＊", 12);
    print = repeat("*", 12);
  } else {
    display = repeat("－", 12);
    print = repeat("-", 12);
    if (titleFlag) {
      flags |= line::kCcts;
      const std::string title = " 合計 ";
      display.replace(0, title.size(), title);
      const std::string printTitle = printNameFlag ? "ｺﾞｳｹｲ " : "合計 ";
      print.replace(0, printTitle.size(), printTitle);
    }
  }
  putU16(record, line::kFlags, flags);
  putName(record, line::kDisplayName, line::kDisplayNameLen, display);
  putName(record, line::kPrintName, line::kPrintNameLen, print);
}

void CRegCom::BuildSystemLine(void* record, uint16_t code, int32_t price, int32_t reserved, int32_t printForm) {
  (void)reserved;
  if (!record) return;
  std::memset(record, 0, line::kSize);
  putU16(record, line::kKeyCode, systemLineKey(code));
  putU16(record, line::kFlags, SystemLineFlags(code));
  putName(record, line::kDisplayName, line::kDisplayNameLen, SystemLineName(code, kSystemDisplayName));
  putName(record, line::kPrintName, line::kPrintNameLen,
          SystemLineName(code, printForm ? kSystemPrintNameSa : kSystemPrintName));
  putI32(record, line::kUnit, 0);
  putI32(record, line::kPrice, price);
}

void CRegCom::BuildTextLine(void* record, const char* text) {
  if (!record) return;
  std::memset(record, 0, line::kSize);
  putU16(record, line::kKeyCode, kTextLineKey);
  // The text runs over the names and codes, never into the flag word.
  if (text) putName(record, 0, line::kFlags, text);
}

}  // namespace varnex::reg
