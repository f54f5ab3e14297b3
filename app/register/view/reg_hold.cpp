// Held sales: a sale put aside into a held-sale file and brought back later,
// on this register or another one sharing the held-sale folder (see
// reg_sale.h).
//
// A held-sale file is a receipt CSV. Under "Reserve Name Class" n >= 1 it is
// named by a 13-digit number that the clerk types or scans back with the PLU
// key: the class prefix, the date and time as YYMMDDHHMM and a modulus-10
// check digit. Under class 0 the clerk names the file in a file dialog.
//
// Bringing a sale back does not copy its lines: they are replayed as key
// presses through the dispatcher, so that prices, tax flags and totals are
// rebuilt by the rules of a live sale, and each written line is then mended
// to the stored names, codes and amounts.
//
// What the register guarantees on top:
//   - a name is never reused: a second sale put aside in the same minute
//     takes the next minute that has no file;
//   - a sale holding a line that cannot be replayed is not put aside at all
//     (a file that can never be brought back would hold the sale hostage);
//   - a replay that fails part-way takes back every line it made and keeps
//     the file, so that a second try does not double the lines;
//   - a held-sale number and an in-store item code share the form "prefix,
//     ten digits, check digit": a code is a held-sale number only when its
//     ten digits are a date and time, and an item of that code wins when no
//     held sale of that number exists.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/register/engine/reg_com.h"
#include "app/register/view/reg_sale.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/ui/window.h"
#include "zemta/tax.h"

namespace varnex::reg {

namespace {

constexpr int32_t kNameDigits = 13;
// How far a name moves on when its minute is taken: a day of minutes.
constexpr int32_t kMinutesTried = 24 * 60;

const char kUnsupportedImport[] = "未サポートのファンクションが含まれています\n取引のインポートは失敗しました";
const char kUnsupportedHold[] = "未サポートのファンクションが含まれています\n取引を保留することはできません";

uint16_t keyOf(const uint8_t* record) { return getU16(record, line::kKeyCode); }
uint16_t flagsOf(const uint8_t* record) { return getU16(record, line::kFlags); }

std::string trimmed(const uint8_t* record, size_t offset, size_t width) {
  std::string s = getText(record, offset, width);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

CRegSale::HeldSaleClock& heldSaleClock() {
  static CRegSale::HeldSaleClock clock;
  return clock;
}

platform::LocalTime nowForNames() {
  platform::LocalTime t = platform::localTime();
  if (heldSaleClock()) heldSaleClock()(&t.year, &t.month, &t.day, &t.hour, &t.minute);
  t.second = 0;
  return t;
}

// Prefix, YYMMDDHHMM and the check digit.
std::string heldSaleNumber(const std::string& prefix, const platform::LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%02d%02d%02d%02d%02dC", prefix.c_str(), t.year % 100, t.month, t.day, t.hour,
                t.minute);
  BccMake(text, static_cast<int32_t>(std::strlen(text)));
  return text;
}

bool digitsOnly(const std::string& s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return !s.empty();
}

int twoDigits(const std::string& s, size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); }

// Rows the replay knows how to press again (besides customer rows).
bool replayable(const uint8_t* row) {
  const uint16_t key = keyOf(row), type = keyType(key), code = keyNumber(key);
  switch (type) {
    case kKeyCustomer:
    case kKeyDepartment:
      return true;
    case kKeyTrans2:
      return code == kTrans2Number || (code >= kTrans2AmountDiscount && code <= kTrans2PercentSurcharge);
    case kKeyFunction:
      return code == kFunctionSubtotal || code == kFunctionPersons;
    case kKeySystemLine:
      return code == kLineServiceCharge || code == kLineSpecialTax;
    default:
      return false;
  }
}

}  // namespace

void CRegSale::SetHeldSaleClock(HeldSaleClock clock) { heldSaleClock() = std::move(clock); }

// ---- the held-sale number ------------------------------------------------------------

bool CRegSale::HeldSaleFileExists(const std::string& number) const {
  char path[260] = {};
  if (!app_->GetReservePath(path, (number + ".csv").c_str())) return false;
  return platform::fileExists(platform::mapPath(path));
}

bool CRegSale::IsHeldSaleNumber(const std::string& code) const {
  if (settings_.reserveNameClass < 1) return false;
  const std::string prefix = shell::ReserveClassCode(settings_.reserveNameClass);
  if (code.size() != static_cast<size_t>(kNameDigits) || !digitsOnly(code) || code.compare(0, 2, prefix) != 0)
    return false;
  if (BccCheck(code.c_str(), kNameDigits) != 1) return false;
  // The ten digits of a held-sale number are a date and a time.
  const int month = twoDigits(code, 4), day = twoDigits(code, 6), hour = twoDigits(code, 8),
            minute = twoDigits(code, 10);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59) return false;
  if (HeldSaleFileExists(code)) return true;
  // No held sale of that number: an in-store item of that code is sold.
  uint8_t item[80];
  return engine_->GetPluRecord(code.c_str(), item) < 0;
}

// ---- putting a sale aside -----------------------------------------------------------

int32_t CRegSale::ReserveKey(int32_t print) {
  if (!temporary_) return 1;
  auto keepSale = [&]() {
    putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, 0));
    return 1;
  };
  // A line that cannot be replayed would make a file that never comes back.
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < lineCount_; ++n) {
    if (!ReadLine(n, l)) return ShowRegError(kErrBadHandle);
    if (!replayable(l)) {
      platform::ui::messageBox(nullptr, kUnsupportedHold, "", platform::kMbOk | platform::kMbIconWarning);
      return 0;
    }
  }
  const uint8_t* manager = engine_->Manager();
  const uint8_t confirm = manager ? manager[clerk::kConfirmLevel.offset] : 2;
  const int32_t nameClass = settings_.reserveNameClass;
  std::string path;
  bool numbered = nameClass >= 1;
  if (numbered) {
    if (confirm < 2 &&
        platform::ui::messageBox(nullptr,
                                 "画面に表示している売上登録について、登録をすべてファイルに保存し、元に戻しますか？", "",
                                 platform::kMbYesNo | platform::kMbIconQuestion) != platform::kIdYes)
      return keepSale();
    // The first minute from now whose name is free.
    const std::string prefix = shell::ReserveClassCode(nameClass);
    platform::LocalTime t = nowForNames();
    const int64_t start = platform::unixSecondsOf(t);
    char buffer[260] = {};
    for (int32_t i = 0; i < kMinutesTried; ++i) {
      if (start >= 0 && i > 0) t = platform::localTimeOf(start + 60 * static_cast<int64_t>(i));
      const std::string number = heldSaleNumber(prefix, t);
      if (!app_->GetReservePath(buffer, number.c_str())) return ShowRegError(kErrBadHandle);
      if (!platform::fileExists(platform::mapPath(std::string(buffer) + ".csv"))) {
        path = buffer;
        break;
      }
      if (start < 0) break;
    }
    if (path.empty()) return ShowRegError(kErrBadHandle);
    // A name made of digits only: the export appends ".csv" and never
    // replaces a file that appeared in the meantime.
    char target[260] = {};
    std::snprintf(target, sizeof target, "%s", path.c_str());
    if (engine_->ExportReceiptCsv(modeCode_, block_, itemCount_, 0, 0, target) != 0)
      return ShowRegError(kErrBadHandle);
    path = target;
    if (app_->PrintHeldSale(block_, itemCount_, amount_, path.c_str()) != 0) return ShowRegError(kErrBadHandle);
  } else {
    const bool open = !app_->m_strReserveFile.empty();
    if (open) {
      path = app_->m_strReserveFile;
      app_->ReleaseReserveFile();
    } else {
      char initial[260] = {};
      if (!app_->GetReservePath(initial, "*.csv")) return ShowRegError(kErrBadHandle);
      if (!screen_->ChooseHeldSaleFile(true, initial, &path)) return keepSale();
      if (!platform::hasExtension(platform::fileNameOf(path))) path += ".csv";
    }
    char target[260] = {};
    std::snprintf(target, sizeof target, "%s", path.c_str());
    if (engine_->ExportReceiptCsv(modeCode_, block_, itemCount_, 0, -1, target) != 0)
      return ShowRegError(kErrBadHandle);
    if (print && app_->PrintHeldSale(block_, itemCount_, amount_, path.c_str()) != 0)
      return ShowRegError(kErrBadHandle);
    app_->m_strReserveFile.clear();
    screen_->ShowHeldSaleTitle("");
  }
  // The sale is in its file: the register is free for the next.
  poleText_.clear();
  displayText_.clear();
  screen_->RefreshCustomerDisplay(nullptr);
  screen_->RaiseDeviceRequest(kRequestDisplay);
  CloseTransaction(1);
  return 1;
}

// ---- bringing a sale back -----------------------------------------------------------

// With no sale open, the put-aside key brings back a held sale chosen in a
// file dialog. Under class 0 the file is then held for this register alone
// until the sale is put aside again or completed.
int32_t CRegSale::BringBackHeldSale() {
  char folder[260] = {};
  if (!app_->GetReservePath(folder, "*.csv")) return ShowRegError(kErrBadHandle);
  std::string path;
  if (!screen_->ChooseHeldSaleFile(false, folder, &path)) return 1;
  const bool numbered = settings_.reserveNameClass >= 1;
  if (!numbered && !platform::fileExists(platform::mapPath(path))) {
    // A new name: an empty held sale of that name.
    platform::File made = platform::File::open(path, platform::kFileWrite, platform::kShareRead, platform::kCreateNew);
    if (!made.isOpen()) return ShowRegError(kErrBadHandle);
  }
  if (!ImportReserveFile(path, 1)) return 0;
  if (numbered) {
    const uint8_t* manager = engine_->Manager();
    const uint8_t confirm = manager ? manager[clerk::kConfirmLevel.offset] : 2;
    if (confirm >= 2 || platform::ui::messageBox(nullptr, "参照したファイルを削除しますか？", "",
                                                 platform::kMbYesNo | platform::kMbIconQuestion) == platform::kIdYes)
      platform::deleteFile(platform::mapPath(path));
    return 1;
  }
  if (!app_->HoldReserveFile(path)) return ShowRegError(kErrBadHandle);
  screen_->ShowHeldSaleTitle(path);
  return 1;
}

int32_t CRegSale::PressKey(uint16_t keyCode, const std::string& entry) {
  entry_ = entry;
  const int32_t done = DispatchKey(keyCode);
  entry_.clear();
  return done;
}

int32_t CRegSale::ImportReserveFile(const std::string& name, int32_t keepFile) {
  // A finished sale still on the screen is no sale to add to.
  if (temporary_ && lineCount_ > 0 &&
      platform::ui::messageBox(nullptr, "既に取引が存在しています\n\n追加しますか？", "",
                               platform::kMbYesNo | platform::kMbIconQuestion) != platform::kIdYes)
    return 0;
  std::string path = name;
  if (!keepFile) {
    char buffer[260] = {};
    if (!app_->GetReservePath(buffer, (name + ".csv").c_str())) return ShowRegError(kErrBadHandle);
    path = buffer;
    if (!platform::fileExists(platform::mapPath(path))) return ShowRegError(kErrNoHeldSale);
  }
  MemoryBlockHandle rows = CreateMemory(nullptr, 0, 4096);
  if (!rows) return ShowRegError(kErrBadHandle);
  if (engine_->ImportReceiptCsv(path.c_str(), rows) != 0) {
    DeleteMemory(rows);
    return 0;
  }
  int32_t count = SeekMemory(rows, 0, MEMORY_SEEK_END) / static_cast<int32_t>(line::kSize);
  if (count <= 0) {
    DeleteMemory(rows);
    return OpenSale(0);
  }
  int32_t sign = 1;
  uint8_t last[line::kSize];
  SeekMemory(rows, (count - 1) * static_cast<int32_t>(line::kSize), MEMORY_SEEK_BEGIN);
  if (ReadDataMemory(rows, last, line::kSize) == static_cast<int32_t>(line::kSize) &&
      keyType(keyOf(last)) == kKeyClosing) {
    const uint16_t fileMode = keyNumber(keyOf(last));
    if (fileMode != modeCode_ && (fileMode == kModeRefund || modeCode_ == kModeRefund)) {
      std::string text = "取引モードが一致していません\nこの取引をインポートするには、\n";
      text += fileMode == kModeRefund ? "「F5:戻し」を選択して下さい" : "「F7:登録１」または「F8:登録２」を選択して下さい";
      platform::ui::messageBox(nullptr, text, "", platform::kMbOk | platform::kMbIconInformation);
      DeleteMemory(rows);
      return 0;
    }
    if (fileMode == kModeRefund) sign = -1;
    --count;
  }
  if (!temporary_ && !OpenSale(0)) {
    DeleteMemory(rows);
    return 0;
  }
  entry_.clear();
  const int32_t done = ReplayHeldSale(rows, count, sign);
  DeleteMemory(rows);
  if (!done) return 0;
  if (!keepFile) platform::deleteFile(platform::mapPath(path));
  return 1;
}

int32_t CRegSale::ReplayHeldSale(MemoryBlockHandle rows, int32_t count, int32_t sign) {
  const int32_t first = lineCount_;
  const int32_t reducedBefore = taxReduced_;
  auto fail = [&]() {
    TakeBackLines(first, reducedBefore);
    return 0;
  };
  auto rowAt = [&](int32_t i, uint8_t* out) {
    return SeekMemory(rows, i * static_cast<int32_t>(line::kSize), MEMORY_SEEK_BEGIN) >= 0 &&
           ReadDataMemory(rows, out, line::kSize) == static_cast<int32_t>(line::kSize);
  };
  char number[24];
  auto text = [&](int64_t v) {
    std::snprintf(number, sizeof number, "%lld", static_cast<long long>(v));
    return std::string(number);
  };
  replaying_ = true;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t row[line::kSize];
    if (!rowAt(i, row)) {
      replaying_ = false;
      return fail();
    }
    const uint16_t key = keyOf(row), type = keyType(key), code = keyNumber(key);
    const int32_t before = lineCount_;
    bool pressed = true, isVoid = false, mend = true;
    // The row's amounts as the sale holds them.
    if (type == kKeyDepartment || type == kKeyTrans2) {
      putI32(row, line::kUnit, getI32(row, line::kUnit) * sign);
      putI32(row, line::kPrice, getI32(row, line::kPrice) * sign);
    }
    const int32_t amount = getI32(row, line::kPrice), quantity = getI32(row, line::kUnit);
    const int32_t unitPrice = getI32(row, line::kUnitPrice);
    if (!replayable(row)) {
      platform::ui::messageBox(nullptr, kUnsupportedImport, "", platform::kMbOk | platform::kMbIconWarning);
      replaying_ = false;
      return fail();
    }
    switch (type) {
      case kKeyCustomer:
        pressed = InsertCustomerLine(-1, -1, row) != 0;
        mend = false;
        break;
      case kKeyDepartment: {
        if (amount < 0) {
          isVoid = true;
          break;
        }
        if (quantity > 1 || quantity < -1) pressed = PressKey(makeKeyCode(kKeyFunction, kFunctionQuantity), text(quantity));
        const std::string itemCode = trimmed(row, line::kCode, line::kCodeLen);
        const std::string subCode = trimmed(row, line::kSubCode, line::kSubCodeLen);
        if (pressed && !itemCode.empty()) {
          pressed = PressKey(makeKeyCode(kKeyFunction, kFunctionPlu), itemCode);
          if (pressed && !subCode.empty()) pressed = PressKey(makeKeyCode(kKeyFunction, kFunctionPlu), subCode);
        } else if (pressed) {
          pressed = PressKey(key, text(unitPrice));
        }
        break;
      }
      case kKeyTrans2:
        if (((code == kTrans2AmountDiscount || code == kTrans2PercentDiscount) && amount > 0) ||
            ((code == kTrans2AmountSurcharge || code == kTrans2PercentSurcharge) && amount < 0)) {
          isVoid = true;
          break;
        }
        pressed = PressKey(key, text(unitPrice != 0 ? unitPrice : amount));
        break;
      case kKeyFunction:
        if (code == kFunctionSubtotal) {
          pressed = PressKey(key, "");
        } else {
          if (amount < 0) {
            isVoid = true;
            break;
          }
          pressed = PressKey(key, text(amount));
        }
        break;
      case kKeySystemLine:
        // The special local tax lines come again with the service charge key.
        if (code == kLineSpecialTax) continue;
        if (amount < 0) {
          isVoid = true;
          break;
        }
        pressed = PressKey(makeKeyCode(kKeyFunction, kFunctionSpecialTax), "");
        mend = false;
        break;
      default:
        break;
    }
    if (isVoid) {
      uint8_t next[line::kSize];
      const bool haveNext = i + 1 < count && rowAt(i + 1, next);
      if (haveNext && keyType(keyOf(next)) == kKeyTrans2) {
        putI32(next, line::kUnit, getI32(next, line::kUnit) * sign);
        putI32(next, line::kPrice, getI32(next, line::kPrice) * sign);
      }
      int32_t consumed = 0;
      if (!VoidReplayedLine(row, first, haveNext ? next : nullptr, &consumed)) {
        replaying_ = false;
        return fail();
      }
      i += consumed;
      continue;
    }
    // A refused key wrote no line: the replay cannot go on.
    if (!pressed || (type != kKeyCustomer && lineCount_ <= before)) {
      replaying_ = false;
      return fail();
    }
    if (mend && !MendReplayedLine(before, row)) {
      replaying_ = false;
      return fail();
    }
    uint8_t written[line::kSize];
    if (type != kKeyCustomer && ReadLine(before, written)) {
      if ((flagsOf(row) & line::kTaxExempt) && !taxFree_ &&
          !PressKey(makeKeyCode(kKeyFunction, kFunctionTaxExempt), "")) {
        replaying_ = false;
        return fail();
      }
      const uint16_t applied = (flagsOf(row) >> line::kRateShift) & 3, own = (flagsOf(written) >> 2) & 3;
      if (!taxReduced_ && applied != own && !PressKey(makeKeyCode(kKeyFunction, kFunctionTaxReduction), "")) {
        replaying_ = false;
        return fail();
      }
    }
  }
  replaying_ = false;
  return 1;
}

// Mends line n, written by the replay of the stored row, to the row's
// names, codes and amounts.
int32_t CRegSale::MendReplayedLine(int32_t n, const uint8_t* stored) {
  uint8_t l[line::kSize];
  if (!ReadLine(n, l)) return 0;
  uint8_t before[line::kSize];
  std::memcpy(before, l, sizeof before);
  auto copy = [&](size_t offset, size_t width) { std::memcpy(l + offset, stored + offset, width); };
  // The names and codes of the file, unless the file left them empty.
  if (!trimmed(stored, line::kDisplayName, line::kDisplayNameLen).empty()) copy(line::kDisplayName, line::kDisplayNameLen);
  if (!trimmed(stored, line::kPrintName, line::kPrintNameLen).empty()) copy(line::kPrintName, line::kPrintNameLen);
  copy(line::kCode, line::kCodeLen);
  copy(line::kSubCode, line::kSubCodeLen);
  if (getI32(stored, line::kUnitPrice) != 0) putI32(l, line::kUnitPrice, getI32(stored, line::kUnitPrice));
  if (getI32(l, line::kPrice) != getI32(stored, line::kPrice)) {
    uint8_t out[line::kSize];
    std::memcpy(out, l, sizeof out);
    putI32(out, line::kUnit, -getI32(l, line::kUnit));
    putI32(out, line::kPrice, -getI32(l, line::kPrice));
    engine_->AddLineToTotals(out, totals_);
    putI32(l, line::kUnit, getI32(stored, line::kUnit));
    putI32(l, line::kPrice, getI32(stored, line::kPrice));
    constexpr uint16_t kKept = line::kInnerTax | line::kNonTaxable | line::kNoSpecialTax;
    putU16(l, line::kFlags, static_cast<uint16_t>((flagsOf(l) & ~kKept) | (flagsOf(stored) & kKept)));
    engine_->AddLineToTotals(l, totals_);
    ComputeSaleTax();
    RefreshPane();
  }
  if (std::memcmp(before, l, sizeof l) == 0) return 1;
  return WriteLineAt(n, l);
}

// The line that a stored void row takes back: among the lines this replay
// wrote, the same item with the opposite amount. consumed: how many of the
// rows after the void went with it.
int32_t CRegSale::VoidReplayedLine(const uint8_t* stored, int32_t from, const uint8_t* next, int32_t* consumed) {
  *consumed = 0;
  constexpr uint16_t kCompared = static_cast<uint16_t>(~(3u << 2));
  constexpr uint16_t kStoredBits = line::kInnerTax | line::kNonTaxable | line::kTaxExempt | line::kNoSpecialTax |
                                   line::kPointTarget | (3u << line::kRateShift);
  auto matches = [&](const uint8_t* l, const uint8_t* r) {
    return keyOf(l) == keyOf(r) && std::memcmp(l + line::kCode, r + line::kCode, line::kCodeLen) == 0 &&
           std::memcmp(l + line::kSubCode, r + line::kSubCode, line::kSubCodeLen) == 0 &&
           (flagsOf(l) & kCompared & kStoredBits) == (flagsOf(r) & kCompared & kStoredBits) &&
           getI32(l, line::kUnitPrice) == getI32(r, line::kUnitPrice) &&
           getI32(l, line::kUnit) == -getI32(r, line::kUnit) && getI32(l, line::kPrice) == -getI32(r, line::kPrice);
  };
  uint8_t l[line::kSize];
  int32_t found = -1;
  for (int32_t j = from; j < lineCount_ && found < 0; ++j) {
    if (!ReadLine(j, l)) return 0;
    if (flagsOf(l) & (line::kCcts | line::kClct)) continue;
    if (matches(l, stored)) found = j;
  }
  // Nothing of this replay to take back: the void row is dropped.
  if (found < 0) return 1;
  if (next) {
    uint8_t after[line::kSize];
    const uint16_t nextKey = keyOf(next);
    if (keyType(nextKey) == kKeyTrans2 && keyNumber(nextKey) >= kTrans2AmountDiscount &&
        keyNumber(nextKey) <= kTrans2PercentSurcharge && ReadLine(found + 1, after) && matches(after, next))
      *consumed = 1;
    else if (nextKey == systemLineKey(kLineSpecialTax))
      *consumed = 1;
  }
  if (!screen_->FocusListNumber(found)) return 0;
  const int32_t linesBefore = lineCount_;
  if (!PressKey(makeKeyCode(kKeyTrans2, kTrans2Correction), "")) return 0;
  return lineCount_ != linesBefore || ReadLine(found, l) ? 1 : 0;
}

// Takes back every line from `from` on: the temporary file, the line block,
// the list and the sums are as before the replay began.
void CRegSale::TakeBackLines(int32_t from, int32_t reducedBefore) {
  if (lineCount_ > from) {
    FileDBRecDelete(temporary_, from, lineCount_ - 1, nullptr);
    const int32_t size = SeekMemory(block_, 0, MEMORY_SEEK_END);
    const int32_t cut = from * static_cast<int32_t>(line::kSize);
    if (size > cut && SeekMemory(block_, cut, MEMORY_SEEK_BEGIN) == cut)
      DeleteDataMemory(block_, static_cast<uint32_t>(size - cut));
    lineCount_ = from;
  }
  ReshowList();
  // The sums are made again from the lines that stay.
  saleBegun_ = false;
  WriteLine(0, 0);
  taxReduced_ = reducedBefore;
  entry_.clear();
  ShowModifierStatus();
}

// ---- lines written in place ---------------------------------------------------------

int32_t CRegSale::WriteLineAt(int32_t n, const uint8_t* record) {
  const int32_t at = n * static_cast<int32_t>(line::kSize);
  if (SeekMemory(block_, at, MEMORY_SEEK_BEGIN) != at ||
      WriteDataMemory(block_, record, line::kSize) != static_cast<int32_t>(line::kSize))
    return 0;
  if (temporary_ && FileDBRecWrite(temporary_, n, record) != 0) return 0;
  screen_->SetListRow(record, n);
  return 1;
}

void CRegSale::ReshowList() {
  screen_->DeleteListRows();
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < lineCount_; ++n)
    if (ReadLine(n, l)) screen_->SetListRow(l, n);
}

}  // namespace varnex::reg
