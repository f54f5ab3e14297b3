// The register's key path and its open sale (see reg_sale.h).
#include "app/register/view/reg_sale.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "platform/base/file.h"
#include "platform/base/message_box.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "zemta/scan.h"
#include "zemta/tax.h"

namespace varnex::reg {

namespace {

constexpr int32_t kEntryDigits = 13;
constexpr int64_t kEntryRange = 999999999;
constexpr size_t kMessageColumn = 24;

uint16_t keyOf(const uint8_t* record) { return getU16(record, line::kKeyCode); }
uint16_t flagsOf(const uint8_t* record) { return getU16(record, line::kFlags); }

bool isKey(uint16_t keyCode, uint16_t type, uint16_t code) { return keyCode == makeKeyCode(type, code); }

std::string printfText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string printfText(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

// A number in a field of width formatted by StrCnvf with the flags.
std::string formatAmount(const std::string& digits, uint32_t width, uint32_t flags) {
  std::string field = printfText("%*.*s", static_cast<int>(width), static_cast<int>(width), digits.c_str());
  field.resize(width);
  StrCnvf(flags, width, field.data());
  return field;
}

// One line of the message: the name padded to 24 columns and the amount
// right-aligned in 24 as an amount.
std::string amountLine(const std::string& name, int32_t amount) {
  const std::string left = printfText("%-*.*s", 24, 24, name.c_str());
  return left + formatAmount(printfText("%*d", 24, amount), 24, 6);
}

int64_t multiplyChecked(int64_t a, int64_t b, bool* fits) {
  __int128 r = static_cast<__int128>(a) * b;
  *fits = r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max();
  return static_cast<int64_t>(r);
}

}  // namespace

void SaleSettings::Load() {
  auto& p = platform::Profile::of(platform::ProfileScope::User);
  useJet = static_cast<int32_t>(p.getInt(kSettingsSection, "Use JET", 0));
  smpLink = p.getString(kSettingsSection, "Smp Link", "");
  rollback = static_cast<int32_t>(p.getInt(kSettingsSection, "Rollback", 0));
  reserveNameClass = static_cast<int32_t>(p.getInt(kSettingsSection, "Reserve Name Class", 0));
  showPrintName = static_cast<int32_t>(p.getInt(kSettingsSection, "Dsp CD", 0));
  displayDevice = p.getString(kSettingsSection, "CD Device", "");
}

CRegSale::CRegSale(CRegCom* engine, shell::CREGApp* app, SaleScreen* screen, int32_t viewMode)
    : engine_(engine), app_(app), screen_(screen) {
  static SaleScreen none;
  if (!screen_) screen_ = &none;
  SetupModes(viewMode);
  ClearCurrent();
}

CRegSale::~CRegSale() { Release(); }

void CRegSale::SetupModes(int32_t viewMode) {
  viewMode_ = viewMode;
  refundView_ = viewMode == 5;
  registrationView_ = viewMode == 5 || viewMode == 7 || viewMode == 8;
  xReadingView_ = viewMode >= 31 && viewMode <= 37;
  zReadingView_ = viewMode >= 39 && viewMode <= 46;
  cashBalanceView_ = viewMode == 37 || viewMode == 45;
  journalView_ = viewMode == 38;
  if (viewMode == 5) modeCode_ = kModeRefund;
  else if (viewMode == 7) modeCode_ = kModeRegister1;
  else if (viewMode == 8) modeCode_ = kModeRegister2;
  else if (xReadingView_ || journalView_) modeCode_ = kModeXReading;
  else if (zReadingView_) modeCode_ = kModeSettlement;
  else modeCode_ = 196;
}

void CRegSale::ClearCurrent() {
  const uint16_t old = keyOf(current_);
  std::memset(current_, 0, sizeof current_);
  putU16(current_, line::kFlags, refundView_ ? line::kVoid : 0);
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, keyNumber(old)));
}

bool CRegSale::ReadLine(int32_t n, uint8_t* out) const {
  if (!block_ || n < 0 || n >= lineCount_) return false;
  if (SeekMemory(block_, n * static_cast<int32_t>(line::kSize), MEMORY_SEEK_BEGIN) < 0) return false;
  return ReadDataMemory(block_, out, line::kSize) == static_cast<int32_t>(line::kSize);
}

// ---- the key path ------------------------------------------------------------------

int32_t CRegSale::EnterKey(uint16_t type, uint16_t code) { return EnterKeyCode(makeKeyCode(type, code)); }

int32_t CRegSale::EnterKeyCode(uint16_t keyCode) {
  if (CheckModeGate(&keyCode) < 0) return 0;
  if (!temporary_ && !OpenSale(keyCode)) return 0;
  // The reading views have key handlers of their own.
  if (!registrationView_) return ReadingKey(keyCode);
  return DispatchKey(keyCode);
}

int32_t CRegSale::TranslateKeyboardKey(uint32_t virtualKey, int32_t character, uint16_t modifiers,
                                       uint16_t* keyCode) {
  if (virtualKey == 0 && character == 0) return 0;
  uint8_t layout[8] = {};
  bool found = false;
  const bool functionKey = virtualKey >= platform::ui::kVkF1 && virtualKey <= platform::ui::kVkF1 + 9;
  if (virtualKey != 0 && !(functionKey && !temporary_)) {
    const uint16_t word = static_cast<uint16_t>(modifiers | keylayout::kVirtual | (virtualKey & 0xFF));
    found = engine_->GetKeyByCode(word, layout) >= 0;
  }
  uint16_t key = 0;
  if (found) {
    key = getU16(layout, keylayout::kFunction.offset);
  } else {
    if (character <= 0 || character > 0xFF) return 0;
    if (character >= '0' && character <= '9') {
      key = digitKey(static_cast<char>(character));
    } else {
      const uint16_t word = static_cast<uint16_t>((modifiers & 0xDFFF) | character);
      if (engine_->GetKeyByCode(word, layout) < 0) {
        screen_->Beep(platform::ui::kBeepPlain);
        return 0;
      }
      key = getU16(layout, keylayout::kFunction.offset);
    }
  }
  const int32_t gate = CheckModeGate(&key);
  if (gate < 0) return 0;
  if (gate == 0 && !temporary_ && !OpenSale(key)) return 0;
  *keyCode = key;
  return 1;
}

int32_t CRegSale::IsNoSaleKey(uint16_t keyCode) {
  const uint16_t type = keyType(keyCode), code = keyNumber(keyCode);
  if (type == kKeyTrans2) return code == kTrans2RefundShownSale;
  if (type != kKeyFunction) return 0;
  if (code >= kFunctionCursorUp && code <= kFunctionOtherRegisterMode) return 1;
  switch (code) {
    case kFunctionTenKeyPad: case kFunctionReceiptOnOff: case kFunctionReprintOrReserve:
    case kFunctionDoubleZero: case kFunctionCancelLine:
      return 1;
    case kFunctionTaxReduction: case kFunctionCustomer:
      return 0;
    default:
      return code >= kFunctionFormalReceipt ? 1 : 0;
  }
}

int32_t CRegSale::CheckModeGate(uint16_t* keyCode) {
  // A reading's frame opens only after the manager's rights (and the
  // settlement's question) were checked: its keys browse, print and close
  // what was read, and asking again at every key would repeat the question.
  if (IsReadingView()) return 0;
  // Within a sale whose rights were checked, keys pass. A sale taken over at
  // start-up had no check yet: its first key asks for the manager's rights.
  if (lineCount_ > 0 && (temporary_ || cashBalanceView_) && (rightsChecked_ || cashBalanceView_)) return 0;
  if (keyType(*keyCode) == kKeyEntry) return 0;
  if (modeCode_ == 0) return 0;
  const uint8_t* manager = engine_->Manager();
  const uint16_t forbidden = manager ? getU16(manager, clerk::kForbiddenModes) : 0;
  if (modeCode_ == kModeRefund && !(forbidden & kForbidRefund)) {
    if (IsNoSaleKey(*keyCode)) return 0;
    if (state_.priceChange || state_.digitRelease || state_.fixedTail || state_.noSpecialTax || taxFree_ ||
        taxReduced_ || state_.nonTaxable || state_.twoStage || state_.twoStageSecond || state_.pendingDepartment)
      return 0;
  }
  int32_t allowed = 1;
  if (!(modeCode_ == kModeRefund && refundConfirmed_)) allowed = engine_->CheckPermission(modeCode_, 0);
  if (!allowed) {
    if (!temporary_) return -1;
    *keyCode = makeKeyCode(kKeyFunction, kFunctionCancelSale);
    entry_.clear();
    return 1;
  }
  rightsChecked_ = 1;
  if (modeCode_ == kModeRefund) refundConfirmed_ = 1;
  return 0;
}

int32_t CRegSale::OpenSale(uint16_t keyCode) {
  // A reading view never opens a sale: its keys act on the report.
  if (temporary_ || cashBalanceView_ || IsReadingView()) return 1;
  if (IsNoSaleKey(keyCode)) return 1;
  if (engine_->ReloadSettings() != 0) return 0;
  uint16_t mode = modeCode_ == kModeRegister2 ? kSaleRegister2 : modeCode_ == kModeRegister1 ? kSaleRegister1
                                                                                              : kSaleRefund;
  FileDBHandle file = engine_->PrfOpen(4, &mode);
  if (!file) return 0;
  // The lines of the sale completed before stay on screen until now.
  screen_->DeleteListRows();
  if (block_) DeleteMemory(block_);
  block_ = nullptr;
  lineCount_ = 0;
  block_ = CreateMemory(nullptr, 0, 4096);
  if (!block_) {
    char path[300] = {};
    FileDBGetPathName(file, path);
    FileDBCloseEx(file);
    FileDBDelete(file);
    platform::deleteFile(platform::mapPath(path));
    return 0;
  }
  temporary_ = file;
  WriteLine(0, 0);
  screen_->RefreshCustomerDisplay(nullptr);
  return 1;
}

int32_t CRegSale::ShowRegError(int32_t code) {
  const char* text = RegErrorText(code);
  if (text) {
    message_ = EntryAboveMessage(text);
    RefreshPane();
  }
  screen_->Beep(code == kErrBadHandle ? platform::ui::kBeepStop : platform::ui::kBeepPlain);
  return 0;
}

std::string CRegSale::EntryAboveMessage(const std::string& message) const {
  if (entry_.empty()) return message;
  return formatAmount(entry_, static_cast<uint32_t>(message.size()), 0x24) + "\n" + message;
}

int32_t CRegSale::RefreshPane() {
  const bool negate = app_->m_bRollbackView && refundView_;
  screen_->SetBottomTotals(negate ? -itemCount_ : itemCount_, negate ? -amount_ : amount_, message_);
  return 1;
}

void CRegSale::ShowEntry() {
  message_ = entry_.empty() ? std::string() : formatAmount(entry_, static_cast<uint32_t>(entry_.size() * 2), 0x24);
}

int32_t CRegSale::DueAmount() const {
  // What is still to pay: the rounded total, as the completion compares it.
  return engine_->RoundUnit(amount_) - amountTendered_;
}

// The last tender line with its balance (sale open) or with its change line
// (sale completed; the points lines at the end are stepped over).
void CRegSale::ShowTenderMessage(bool completed) {
  const int32_t sign = app_->m_bRollbackView && refundView_ ? -1 : 1;
  uint8_t l[line::kSize];
  uint8_t tender[line::kSize] = {}, change[line::kSize] = {};
  bool haveTender = false, haveChange = false;
  for (int32_t n = lineCount_ - 1; n >= 0 && !haveTender; --n) {
    if (!ReadLine(n, l)) return;
    const uint16_t key = keyOf(l);
    if (keyType(key) == kKeyTrans1) {
      std::memcpy(tender, l, sizeof l);
      haveTender = true;
    } else if (completed && !haveChange && key == systemLineKey(kLineChange)) {
      std::memcpy(change, l, sizeof l);
      haveChange = true;
    }
  }
  if (!haveTender) return;
  std::string text = amountLine(getText(tender, line::kDisplayName, line::kDisplayNameLen),
                                sign * getI32(tender, line::kPrice));
  if (completed) {
    if (haveChange)
      text += "\n" + amountLine(getText(change, line::kDisplayName, line::kDisplayNameLen),
                                sign * getI32(change, line::kPrice));
  } else {
    const int32_t balance = refundView_ && app_->m_bRollbackView ? amountTendered_ - engine_->RoundUnit(amount_)
                                                                  : engine_->RoundUnit(amount_) - amountTendered_;
    text += "\n" + amountLine("残金", balance);
  }
  message_ = text;
}

bool CRegSale::FinishSubEntry() {
  if (!state_.subEntry) return true;
  // An emptied quantity goes back to what it was; the customer display
  // shows the sale's total again.
  if (!SetLineQuantity(0, -3)) return false;
  state_.subEntry = 0;
  if (!message_.empty()) {
    message_.clear();
    RefreshPane();
  }
  return true;
}

int32_t CRegSale::DispatchKey(uint16_t keyCode) {
  // A quantity typed into a list row ends with any other key.
  const bool subEntryKey = keyType(keyCode) == kKeyEntry ||
                           (keyType(keyCode) == kKeyFunction && keyNumber(keyCode) >= kFunctionDoubleZero &&
                            keyNumber(keyCode) <= kFunctionCancelLine);
  if (!subEntryKey && !FinishSubEntry()) return 0;
  // A refused key leaves the line being built as it was.
  uint8_t before[line::kSize];
  std::memcpy(before, current_, sizeof before);
  int32_t totalsBefore[saletotal::kWords];
  std::memcpy(totalsBefore, totals_, sizeof totals_);
  const int32_t itemsBefore = itemCount_, amountBefore = amount_;

  putU16(current_, line::kKeyCode, keyCode);
  const uint16_t type = keyType(keyCode);
  int32_t result = kRefused;
  uint8_t keyRecord[64] = {};
  switch (type) {
    case kKeyEntry:
      if (state_.subEntry) {
        result = SubEntryKey(keyCode);
        break;
      }
      EntryDigit(keyCode);
      result = kShown;
      break;
    case kKeyDepartment:
      result = DepartmentKey(keyCode);
      break;
    case kKeyTrans1:
    case kKeyTrans2:
    case kKeyFunction:
      if (engine_->GetTransKeyRecord(keyCode, keyRecord) < 0) {
        result = ShowRegError(kErrBadHandle);
        break;
      }
      result = type == kKeyTrans1 ? TenderKey(keyCode, keyRecord)
               : type == kKeyTrans2 ? Trans2Key(keyCode, keyRecord)
                                    : FunctionKey(keyCode, keyRecord);
      break;
    default:
      std::memcpy(current_, before, sizeof before);
      return 0;
  }
  if (result == kRefused) {
    // What the register function booked before it gave up is taken back.
    std::memcpy(current_, before, sizeof before);
    std::memcpy(totals_, totalsBefore, sizeof totals_);
    itemCount_ = itemsBefore;
    amount_ = amountBefore;
    return 0;
  }
  if (result == kEnded) {
    RefreshPane();
    return 1;
  }

  // The common tail: the line goes through WriteLine, the message follows.
  const bool tender = type == kKeyTrans1 && result == kWritten;
  const int32_t linesBefore = lineCount_;
  bool completedNow = false;
  if (result == kWritten && temporary_) {
    const bool wasBegun = saleBegun_;
    if (!WriteLine(1, 0)) {
      std::memcpy(totals_, totalsBefore, sizeof totals_);
      ComputeSaleTax();
      return ShowRegError(kErrBadHandle);
    }
    completedNow = wasBegun && !saleBegun_ && lineCount_ > linesBefore;
  } else if (temporary_) {
    WriteLine(0, 0);
  }
  if (completedNow) {
    ShowTenderMessage(true);
  } else if (saleBegun_) {
    if (result != kShownWithMessage) ShowEntry();
    if (tender && amountTendered_ > 0) ShowTenderMessage(false);
  }
  RefreshPane();
  return 1;
}

void CRegSale::EntryDigit(uint16_t keyCode) {
  const char digit = static_cast<char>(keyNumber(keyCode) & 0xFF);
  entry_ += digit;
  if (state_.fixedTail && entry_.size() >= 5) {
    // The typed digits shift through a four-digit tail behind the prefix.
    entry_ = entry_.substr(0, entry_.size() - 5) + entry_.substr(entry_.size() - 4);
  } else if (entry_.size() > static_cast<size_t>(kEntryDigits)) {
    entry_.erase(0, 1);
  }
  // The digit makes no line: the line being built stays a placeholder.
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, keyNumber(keyCode)));
}

void CRegSale::ReplaceEntry(const std::string& text) {
  entry_.clear();
  for (char c : text)
    if (c >= '0' && c <= '9') entry_ += c;
  if (entry_.size() > static_cast<size_t>(kEntryDigits)) entry_.erase(0, entry_.size() - kEntryDigits);
}

bool CRegSale::EntryValue(int64_t* value) const {
  if (entry_.empty()) return false;
  int64_t v = 0;
  for (char c : entry_) {
    if (c < '0' || c > '9') continue;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

void CRegSale::NameFromRecord(const uint8_t* record) {
  std::memcpy(current_ + line::kDisplayName, record, line::kDisplayNameLen);
  std::memcpy(current_ + line::kPrintName, record + line::kDisplayNameLen, line::kPrintNameLen);
}

int32_t CRegSale::DepartmentKey(uint16_t keyCode) {
  uint8_t record[64] = {};
  if (engine_->GetDepartmentRecord(keyNumber(keyCode), record) < 0) return ShowRegError(kErrBadHandle);
  const uint16_t attributes = getU16(record, department::kAttributes.offset);
  const int32_t preset = getI32(record, department::kUnitPrice.offset);
  const bool listSelection = getU16(record, department::kListSelect.offset) != 0 && preset == 0 && entry_.empty();
  // Nothing else refuses a department forbidden in this mode (the engine
  // does not either), so the department key keeps its mode check.
  const uint32_t mask = (listSelection ? 0x4D9u : 0x14D9u) & ~static_cast<uint32_t>(kCheckSkipMode);
  uint8_t target[line::kSize];
  if (!CheckKeyEntry(attributes, mask, target)) return kRefused;
  // A department of the list without a price of its own: its items are
  // picked from the picker.
  // (A screen without a picker goes on as with any department.)
  if (listSelection) {
    const int32_t opened = screen_->OpenDepartmentPicker(keyNumber(keyCode));
    if (opened >= 0) return opened > 0 ? kShown : kRefused;
  }

  int64_t unitPrice = 0;
  if (!EntryValue(&unitPrice)) {
    unitPrice = DepartmentPrice(keyNumber(keyCode), record, target);
    if (unitPrice == 0) return ShowRegError(kErrEntryMissing);
  }
  bool fits = true;
  const int32_t quantity = getI32(current_, line::kUnit);
  multiplyChecked(unitPrice, quantity == 0 ? 1 : quantity, &fits);
  if (!fits) return ShowRegError(kErrDigitLimit);
  return DepartmentLine(keyNumber(keyCode), record, static_cast<int32_t>(unitPrice), attributes);
}

// The current line becomes an item line of the department at the unit
// price, taxed with the attribute word of its master (department or item).
int32_t CRegSale::DepartmentLine(uint16_t number, const uint8_t* record, int32_t unitPrice, uint16_t attributes,
                                 int32_t forceMerge) {
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyDepartment, number));
  if (isBlank(current_, line::kDisplayName, line::kDisplayNameLen)) NameFromRecord(record);
  putI32(current_, line::kUnitPrice, unitPrice);
  uint16_t source = attributes;
  ApplyTaxToUnitPrice(&source);
  SetLineTaxFlags(&source);
  // A repeat of an earlier item raises that line's quantity instead.
  return MergeRepeatedLine(forceMerge) == 0 ? kEnded : kWritten;
}

// The price of the department: the last line's when that is the same
// department without a code, else its preset price.
int32_t CRegSale::DepartmentPrice(uint16_t number, const uint8_t* record, const uint8_t* target) const {
  if (keyOf(target) == makeKeyCode(kKeyDepartment, number) && isBlank(target, line::kCode, line::kCodeLen))
    return getI32(target, line::kUnitPrice);
  return getI32(record, department::kUnitPrice.offset);
}

int32_t CRegSale::DepartmentLinkKey(uint16_t code) {
  int64_t number = 0;
  const bool entered = EntryValue(&number);
  uint8_t record[64] = {};
  if ((entered && number == 0) || number > 0xFFF ||
      engine_->GetDepartmentRecord(static_cast<uint32_t>(number), record) < 0)
    return ShowRegError(kErrUnknownDepartmentLink);
  const uint16_t attributes = getU16(record, department::kAttributes.offset);
  uint8_t target[line::kSize];
  if (!CheckKeyEntry(attributes, 0x4C0, target)) return kRefused;
  // Without an entry the department is picked from the list.
  if (!entered) {
    const int32_t opened = screen_->OpenDepartmentPicker(0);
    if (opened > 0) return kShown;
    return opened == 0 ? kRefused : ShowRegError(kErrNoListDepartment);
  }
  if (entry_.size() > 4) return ShowRegError(kErrDigitLimit);
  const uint16_t department = static_cast<uint16_t>(number);
  const int32_t price = DepartmentPrice(department, record, target);
  if (!state_.priceChange && price != 0) {
    entry_.clear();
    return DepartmentLine(department, record, price, attributes);
  }
  state_.pendingDepartment = department;
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, code));
  entry_.clear();
  return kShown;
}

int32_t CRegSale::LinkAmountKey() {
  if (!state_.pendingDepartment) return ShowRegError(kErrNoDepartmentLink);
  uint8_t record[64] = {};
  if (engine_->GetDepartmentRecord(static_cast<uint32_t>(state_.pendingDepartment), record) < 0)
    return ShowRegError(kErrUnknownDepartmentLink);
  // An item waiting for its price brings its own tax class.
  const uint16_t attributes = state_.pendingAttributes ? static_cast<uint16_t>(state_.pendingAttributes)
                                                       : getU16(record, department::kAttributes.offset);
  if (!CheckKeyEntry(attributes, 0xC8, nullptr)) return kRefused;
  int64_t unitPrice = 0;
  if (!EntryValue(&unitPrice)) {
    unitPrice = getI32(record, department::kUnitPrice.offset);
    if (state_.priceChange || unitPrice == 0) return ShowRegError(kErrEntryMissing);
  }
  return DepartmentLine(static_cast<uint16_t>(state_.pendingDepartment), record, static_cast<int32_t>(unitPrice),
                        attributes);
}

int32_t CRegSale::PriceChangeKey(uint16_t code, uint16_t keyAttributes) {
  if (state_.priceChange) {
    if (!state_.pendingDepartment && isBlank(current_, line::kCode, line::kCodeLen))
      return ShowRegError(kErrNoDepartmentLink);
    uint8_t record[64] = {};
    engine_->GetDepartmentRecord(static_cast<uint32_t>(state_.pendingDepartment), record);
    // An item waiting for its price brings its own tax class.
    const uint16_t attributes = state_.pendingAttributes ? static_cast<uint16_t>(state_.pendingAttributes)
                                                         : getU16(record, department::kAttributes.offset);
    if (!CheckKeyEntry(attributes, 0xC8, nullptr)) return kRefused;
    int64_t unitPrice = 0;
    if (!EntryValue(&unitPrice)) return ShowRegError(kErrEntryMissing);
    return DepartmentLine(static_cast<uint16_t>(state_.pendingDepartment), record, static_cast<int32_t>(unitPrice),
                          attributes, 1);
  }
  if (!CheckKeyEntry(keyAttributes, 0xC8, nullptr)) return kRefused;
  if (!entry_.empty()) return ShowRegError(kErrEntryPresent);
  if (state_.pendingDepartment) return ShowRegError(kErrDepartmentLinkPending);
  state_.priceChange = 1;
  putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, code));
  ShowModifierStatus();
  return kShown;
}

int32_t CRegSale::TenderKey(uint16_t keyCode, const uint8_t* keyRecord) {
  const uint16_t code = keyNumber(keyCode);
  const uint16_t attributes = getU16(keyRecord, transkey::kAttributes.offset);
  if (!CheckKeyEntry(attributes, 0x11500, nullptr)) return kRefused;
  int64_t value = 0;
  const bool entered = EntryValue(&value);
  int32_t amount = entered ? static_cast<int32_t>(value) : DueAmount();
  // The card terminal and the barcode payment take the amount first: the
  // tender is written only once it is paid.
  if (code == kTenderCard && settings_.useJet && !CardTerminalStep(amount, "売上", "返品")) return kRefused;
  if (code >= kTenderCodePayment && !CodePaymentStep(amount)) return kRefused;
  if (code == kTenderPoints) {
    uint8_t first[line::kSize];
    if ((!ReadLine(0, first) || keyType(keyOf(first)) != kKeyCustomer) && !InsertCustomerLine(-1, -1, nullptr))
      return kRefused;
    if (!entered) amount = DueAmount() < pointsAvailable_ ? DueAmount() : pointsAvailable_;
    if (amount > pointsAvailable_ || amount <= 0) return ShowRegError(kErrPoints);
    pointsAvailable_ -= amount;
  }
  if ((code == kTenderSlip || code == kTenderCard) && lineCount_ > 0 && !settings_.smpLink.empty()) {
    uint8_t first[line::kSize];
    if (ReadLine(0, first) && keyType(keyOf(first)) != kKeyCustomer) {
      const int answer = platform::ui::messageBox(
          nullptr,
          "取引先が入力されていません\n売上伝票処理を行うには、取引先が入力されている必要があります\n\n取引先を入力しますか?",
          "", platform::kMbYesNo | platform::kMbIconQuestion);
      // The customer entry comes with the customer lines.
      if (answer == platform::kIdYes && !InsertCustomerLine(-1, -1, nullptr)) return kRefused;
    }
  }
  if (!WriteTotalAndTaxLines(amount)) return ShowRegError(kErrBadHandle);
  putU16(current_, line::kKeyCode, keyCode);
  NameFromRecord(keyRecord);
  putU16(current_, line::kFlags, static_cast<uint16_t>(flagsOf(current_) | line::kDouble));
  putI32(current_, line::kPrice, amount);
  state_.tenderEntered = 1;
  return kWritten;
}

int32_t CRegSale::Trans2Key(uint16_t keyCode, const uint8_t* keyRecord) {
  const uint16_t code = keyNumber(keyCode);
  const uint16_t attributes = getU16(keyRecord, transkey::kAttributes.offset);
  const int32_t preset = getU16(keyRecord, transkey::kPreset.offset);
  int64_t value = 0;
  switch (code) {
    case kTrans2PaidIn:
    case kTrans2PaidOut:
    case kTrans2CardPaidIn:
    case kTrans2Exchange: {
      if (!CheckKeyEntry(attributes, code == kTrans2Exchange ? 0x17C8 : 0x17CC, nullptr)) return kRefused;
      EntryValue(&value);
      if (code == kTrans2CardPaidIn && settings_.useJet &&
          !CardTerminalStep(static_cast<int32_t>(value), "入金", "取消"))
        return kRefused;
      int32_t amount = static_cast<int32_t>(value);
      if (code == kTrans2PaidOut) amount = -amount;
      NameFromRecord(keyRecord);
      putI32(current_, line::kPrice, amount);
      amount_ = amount;
      amountTendered_ = amount;
      return kWritten;
    }
    case kTrans2Number:
      if (!CheckKeyEntry(attributes, 0x15CC, nullptr)) return kRefused;
      EntryValue(&value);
      NameFromRecord(keyRecord);
      putI32(current_, line::kUnit, static_cast<int32_t>(entry_.size()));
      putI32(current_, line::kPrice, static_cast<int32_t>(value));
      return kWritten;
    case kTrans2PointsEarned: {
      if (!CheckKeyEntry(attributes, 0x14C8, nullptr)) return kRefused;
      if (!EntryValue(&value)) {
        if (preset == 0) return ShowRegError(kErrEntryMissing);
        value = preset;
      }
      uint8_t first[line::kSize];
      // Points go to a customer: one is asked for when the sale has none.
      if ((!ReadLine(0, first) || keyType(keyOf(first)) != kKeyCustomer) && !InsertCustomerLine(-1, -1, nullptr))
        return kRefused;
      NameFromRecord(keyRecord);
      putI32(current_, line::kUnitPrice, static_cast<int32_t>(value));
      uint16_t source = static_cast<uint16_t>(attributes | attribute::kNonTaxable);
      ApplyTaxToUnitPrice(&source);
      SetLineTaxFlags(&source);
      pointsAvailable_ += getI32(current_, line::kPrice);
      return MergeRepeatedLine(0) == 0 ? kEnded : kWritten;
    }
    case kTrans2AmountDiscount:
    case kTrans2PercentDiscount:
    case kTrans2AmountSurcharge:
    case kTrans2PercentSurcharge:
      return AdjustKey(keyCode, keyRecord);
    case kTrans2Correction:
      return CorrectionKey(keyRecord);
    case kTrans2RefundShownSale:
      if (refundView_) return ShowRegError(kErrModeRefund);
      if (!CheckKeyEntry(attributes, settings_.rollback ? 0x2000 : 0x6000, nullptr)) return kRefused;
      return ShowRegError(kErrUnsupported);
    default:
      return ShowRegError(kErrUnsupported);
  }
}

int32_t CRegSale::MoveCursor(int32_t step) {
  if (!screen_->MoveListFocus(step)) screen_->Beep(platform::ui::kBeepPlain);
  // The cursor stays where it went: showing the line being built again
  // would put it back on the last row, and the correction and the quantity
  // keys act on the row it is on.
  return kEnded;
}

int32_t CRegSale::FunctionKey(uint16_t keyCode, const uint8_t* keyRecord) {
  const uint16_t code = keyNumber(keyCode);
  const uint16_t attributes = getU16(keyRecord, transkey::kAttributes.offset);
  auto check = [&](uint32_t mask) { return CheckKeyEntry(attributes, mask, nullptr) != 0; };
  auto placeholder = [&]() { putU16(current_, line::kKeyCode, makeKeyCode(kKeyEntry, code)); };
  int64_t value = 0;
  // While a quantity is typed into a list row, its keys edit that quantity.
  if (state_.subEntry && code >= kFunctionDoubleZero && code <= kFunctionCancelLine) return SubEntryKey(keyCode);
  switch (code) {
    case kFunctionCursorUp: return check(0x1D42) ? MoveCursor(-1) : kRefused;
    case kFunctionCursorDown: return check(0x1D42) ? MoveCursor(1) : kRefused;
    case kFunctionPageUp: return check(0x1D42) ? MoveCursor(-2) : kRefused;
    case kFunctionPageDown: return check(0x1D42) ? MoveCursor(2) : kRefused;
    case kFunctionFirstRow: return check(0x1D42) ? MoveCursor(-3) : kRefused;
    case kFunctionLastRow: return check(0x1D42) ? MoveCursor(3) : kRefused;
    case kFunctionCursorLeft:
    case kFunctionCursorRight:
      screen_->Beep(platform::ui::kBeepPlain);
      placeholder();
      return kShown;
    case kFunctionSubtotal: return SubtotalKey(keyRecord);
    case kFunctionDigitRelease:
      if (!check(0x1C2)) return kRefused;
      state_.digitRelease = !state_.digitRelease;
      ShowModifierStatus();
      placeholder();
      return kShown;
    case kFunctionQuantity: return QuantityKey(keyRecord);
    case kFunctionFixedTail:
      if (!check(0x500)) return kRefused;
      if (!state_.fixedTail) {
        entry_ = entry_.empty() ? std::string("10000") : entry_ + "0000";
        if (entry_.size() > static_cast<size_t>(kEntryDigits)) entry_.erase(0, entry_.size() - kEntryDigits);
        state_.fixedTail = 1;
      } else {
        state_.fixedTail = 0;
      }
      placeholder();
      return kShown;
    case kFunctionReceiptOnOff:
      if (!check(0x17CA)) return kRefused;
      app_->m_bReceiptOn = !app_->m_bReceiptOn;
      ShowModifierStatus();
      placeholder();
      return kShown;
    case kFunctionReprintOrReserve:
      if (!check(0x4040)) return kRefused;
      if (temporary_) return ReserveKey(1) ? kEnded : kRefused;
      if (app_->PrintReceipt(block_, 1, 0, -1, 0, 1, nullptr) != 0) return ShowRegError(kErrBadHandle);
      placeholder();
      return kShown;
    case kFunctionNonTaxable:
      if (!check(0x5C2)) return kRefused;
      state_.nonTaxable = !state_.nonTaxable;
      putU16(current_, line::kFlags, static_cast<uint16_t>(flagsOf(current_) ^ line::kNonTaxable));
      placeholder();
      return kShown;
    case kFunctionNoSpecialTax:
      if (!check(0x5C2)) return kRefused;
      state_.noSpecialTax = !state_.noSpecialTax;
      putU16(current_, line::kFlags, static_cast<uint16_t>(flagsOf(current_) ^ line::kNoSpecialTax));
      placeholder();
      return kShown;
    case kFunctionPersons:
      if (!check(0x15C4)) return kRefused;
      if (state_.persons) return ShowRegError(kErrTwice);
      EntryValue(&value);
      NameFromRecord(keyRecord);
      putI32(current_, line::kPrice, static_cast<int32_t>(value));
      state_.persons = static_cast<int32_t>(value);
      return kWritten;
    case kFunctionDoubleZero:
      if (!check(0xC004)) return kRefused;
      EntryDigit(digitKey('0'));
      EntryDigit(digitKey('0'));
      return kShown;
    case kFunctionBackspace:
      if (!check(0x8004)) return kRefused;
      if (state_.fixedTail && entry_.size() >= 4) {
        const std::string tail = entry_.substr(entry_.size() - 4);
        entry_ = entry_.substr(0, entry_.size() - 4) + "0" + tail.substr(0, 3);
      } else if (!entry_.empty()) {
        entry_.pop_back();
      }
      placeholder();
      return kShown;
    case kFunctionClear:
      if (!check(0x8004)) return kRefused;
      state_.fixedTail = 0;
      placeholder();
      entry_.clear();
      return kShown;
    case kFunctionCancelLine:
      if (!check(0xC000)) return kRefused;
      CloseTransaction(0);
      return kShown;
    case kFunctionCancelSale:
      if (!check(0x4000)) return kRefused;
      return CancelSale();
    // Keys whose functions come with their own screens and files: their
    // checks run, then they are refused as not available yet.
    case kFunctionReserve:
      if (!check(0x40)) return kRefused;
      if (!temporary_) return BringBackHeldSale() ? kShown : kRefused;
      return ReserveKey(0) ? kEnded : kRefused;
    case kFunctionOtherRegisterMode: return ShowRegError(kErrUnsupported);
    case kFunctionDepartmentLink: return DepartmentLinkKey(code);
    case kFunctionLinkAmount: return LinkAmountKey();
    case kFunctionPriceChange: return PriceChangeKey(code, attributes);
    case kFunctionTenKeyPad:
      if (!check(0x2000)) return kRefused;
      screen_->OpenTenKeyPad();
      return kShown;
    case kFunctionPlu: return PluKey();
    case kFunctionTaxExempt:
    case kFunctionTaxReduction: return TaxSwitchKey(code, attributes);
    case kFunctionSpecialTax: return SpecialTaxKey(attributes);
    case kFunctionEditNames: {
      if (!check(0x1542)) return kRefused;
      const int32_t focused = screen_->FocusedListNumber();
      const int32_t n = focused < lineCount_ ? focused : lineCount_ - 1;
      if (focused < 0 || n < 0) return ShowRegError(kErrBadHandle);
      placeholder();
      return EditLineNames(-1, n) ? kShown : kRefused;
    }
    case kFunctionCustomer: {
      if (!check(0x1542)) return kRefused;
      placeholder();
      uint8_t first[line::kSize];
      if (lineCount_ == 0) return EditLineNames(-1, -1) ? kShown : kRefused;
      if (ReadLine(0, first) && keyType(keyOf(first)) == kKeyCustomer) return ShowRegError(kErrCustomerPresent);
      return InsertCustomerLine(-1, -1, nullptr) ? kShown : kRefused;
    }
    case kFunctionFormalReceipt: return check(0x6000) ? FormalReceiptKey() : kRefused;
    case kFunctionSalesSlip: return check(0x6000) ? ShowRegError(kErrUnsupported) : kRefused;
    default:
      return ShowRegError(kErrUnsupported);
  }
}

int32_t CRegSale::CancelSale() {
  const uint8_t* manager = engine_->Manager();
  const uint8_t confirm = manager ? manager[clerk::kConfirmLevel.offset] : 2;
  if (lineCount_ > 0 && confirm < 2) {
    const int answer = platform::ui::messageBox(
        nullptr, "画面に表示している売上登録について、登録をすべて取り消し、元に戻しますか?", "",
        platform::kMbYesNo | platform::kMbIconQuestion | (confirm == 0 ? static_cast<uint32_t>(platform::kMbDefButton2) : 0u));
    if (answer != platform::kIdYes) return kRefused;
  }
  if (app_->m_bReceiptOn && app_->m_bPrintEachLine) {
    std::string blank(static_cast<size_t>(app_->m_nPrnCol), '+');
    blank += '\f';
    if (app_->m_bPrnSA)
      app_->m_strSaPrintText += blank;
    else
      app_->PrintReceiptText(blank);
    screen_->RaiseDeviceRequest(kRequestPrint);
  }
  poleText_.clear();
  displayText_.clear();
  screen_->RaiseDeviceRequest(kRequestDisplay);
  screen_->RefreshCustomerDisplay(nullptr);
  CloseTransaction(1);
  return kEnded;
}

// ---- key checks ------------------------------------------------------------------

int32_t CRegSale::LastLiveLine(uint8_t* out, bool* found) const {
  *found = false;
  for (int32_t n = lineCount_ - 1; n >= 0; --n) {
    if (!ReadLine(n, out)) return 0;
    if (flagsOf(out) & (line::kCcts | line::kClct)) continue;
    *found = true;
    return 1;
  }
  return 1;
}

int32_t CRegSale::CheckKeyEntry(uint32_t attributes, uint32_t mask, void* target) {
  if (target) std::memset(target, 0, line::kSize);
  // 1. The mode of the frame.
  if (!(mask & kCheckSkipMode)) {
    const int32_t mode = screen_->FrameViewMode();
    if (mode < 0) return ShowRegError(kErrBadHandle);
    if (mode == 5 && (attributes & attribute::kNoRefund)) return ShowRegError(kErrModeRefund);
    if (mode == 7 && (attributes & attribute::kNoRegistration1)) return ShowRegError(kErrModeRegister1);
    if (mode == 8 && (attributes & attribute::kNoRegistration2)) return ShowRegError(kErrModeRegister2);
  }
  // 2. Without an open sale nothing else applies.
  if (!temporary_) {
    if ((mask & kCheckLineBlock) && !block_) return ShowRegError(kErrNoSale);
    return 1;
  }
  // 3. Keys for use before a sale: held sales are not kept open here.
  if (mask & kCheckBeforeSale) return ShowRegError(kErrSaleStarted);
  if ((mask & kCheckRecords) && FileDBRecGetSize(temporary_) <= 0) return ShowRegError(kErrNoSale);
  if ((mask & kCheckNotClosed) && state_.tenderEntered) return ShowRegError(kErrClosed);
  if ((mask & kCheckNoTaxService) && state_.taxService) return ShowRegError(kErrTaxService);
  if ((mask & kCheckNoDepartmentLink) && state_.pendingDepartment)
    return ShowRegError(state_.priceChange ? kErrPriceChange : kErrDepartmentLinkPending);
  if ((mask & kCheckNoPriceChange) && state_.priceChange) return ShowRegError(kErrPriceChange);
  if ((mask & kCheckNoNonTaxable) && (state_.nonTaxable || state_.noSpecialTax)) return ShowRegError(kErrNonTaxable);
  const int32_t quantity = getI32(current_, line::kUnit), unitPrice = getI32(current_, line::kUnitPrice);
  if ((mask & kCheckNoQuantity) && (quantity != 0 || unitPrice != 0)) return ShowRegError(kErrQuantityPending);

  // 10. The entry.
  int64_t value = 0;
  if (!EntryValue(&value)) {
    if (mask & kCheckEntry) return ShowRegError(kErrEntryMissing);
  } else if (keyOf(current_) == makeKeyCode(kKeyFunction, kFunctionPlu)) {
    if ((mask & kCheckOverride) && state_.priceChange && (attributes & attribute::kNoPriceOverride))
      return ShowRegError(kErrNoOverride);
  } else if (keyOf(current_) == makeKeyCode(kKeyFunction, kFunctionClear) ||
             keyOf(current_) == makeKeyCode(kKeyFunction, kFunctionBackspace)) {
    // The keys that edit the entry take any entry, however long: a code
    // left by a refused PLU key or scan must be clearable.
  } else {
    // Up to 13 digits times a quantity or a price: worked out in 64 bits, and
    // what the line's 32-bit fields cannot hold is refused whatever the mask.
    bool fits = true;
    if (quantity != 0 && unitPrice == 0) value = multiplyChecked(value, quantity, &fits);
    else if (unitPrice != 0 && quantity == 0) value = multiplyChecked(value, unitPrice, &fits);
    else if (value > std::numeric_limits<int32_t>::max()) fits = false;
    if (mask & kCheckNoEntry) return ShowRegError(kErrEntryPresent);
    if ((mask & kCheckOverride) && (attributes & attribute::kNoPriceOverride)) return ShowRegError(kErrNoOverride);
    // Keys that only edit the entry (clear, backspace, "00") take any entry:
    // a scanned code of thirteen digits must be clearable.
    if (!(mask & kCheckNoRange) && (!fits || value < -kEntryRange || value > kEntryRange))
      return ShowRegError(kErrDigitLimit);
    if (!state_.digitRelease && (mask & kCheckDigits)) {
      const size_t limit = attributes & attribute::kDigitLimitMask;
      const size_t pending = static_cast<uint32_t>(state_.pendingAttributes) & attribute::kDigitLimitMask;
      if (limit != 0 && entry_.size() > limit) return ShowRegError(kErrDigitLimit);
      if (limit == 0 && pending != 0 && entry_.size() > pending) return ShowRegError(kErrDigitLimit);
    }
  }

  // 11. No live line yet.
  uint8_t l[line::kSize];
  bool found = false;
  if (mask & kCheckEmptySale) {
    if (!LastLiveLine(l, &found)) return ShowRegError(kErrBadHandle);
    if (found) return ShowRegError(kErrSaleExists);
  }
  // 12. The line the key acts on.
  if ((mask & kCheckTarget) || target) {
    if (!LastLiveLine(l, &found)) return ShowRegError(kErrBadHandle);
    const bool isTarget = found && (keyType(keyOf(l)) == kKeyDepartment ||
                                    keyOf(l) == makeKeyCode(kKeyFunction, kFunctionSubtotal));
    if (isTarget) {
      if (target) std::memcpy(target, l, line::kSize);
    } else if (mask & kCheckTarget) {
      return ShowRegError(kErrNoTarget);
    }
  }
  return 1;
}

// ---- tax class and price of item lines --------------------------------------------

void CRegSale::ApplyTaxToUnitPrice(uint16_t* attributes) {
  if (getI32(current_, line::kUnit) == 0) putI32(current_, line::kUnit, 1);
  const uint16_t settingsFlags = getU16(engine_->Settings(), settings::kTaxWord);
  int32_t unitPrice = getI32(current_, line::kUnitPrice);
  // A non-taxable line never gets tax added to its price.
  const bool nonTaxable = (*attributes & attribute::kNonTaxable) || state_.nonTaxable;
  if (!(*attributes & attribute::kInnerTax) && (settingsFlags & 0x100) && !nonTaxable) {
    *attributes = static_cast<uint16_t>(*attributes | attribute::kInnerTax);
    unitPrice += CalTax(unitPrice, (settingsFlags >> 6) & 3, (*attributes >> attribute::kRateShift) & 3);
    putI32(current_, line::kUnitPrice, unitPrice);
  }
  putI32(current_, line::kPrice, unitPrice * getI32(current_, line::kUnit));
}

void CRegSale::SetLineTaxFlags(const uint16_t* attributes) {
  const uint16_t s = *attributes;
  const uint16_t slot = (s >> attribute::kRateShift) & 3;
  uint16_t f = static_cast<uint16_t>(flagsOf(current_) & 0x27C3);
  f |= static_cast<uint16_t>(slot << 2) | static_cast<uint16_t>(slot << line::kRateShift);
  if (s & attribute::kInnerTax) f |= line::kInnerTax;
  if (s & attribute::kNonTaxable) f |= line::kNonTaxable;
  if (s & attribute::kNoSpecialTax) f |= line::kNoSpecialTax;
  if (s & attribute::kPointTarget) f |= line::kPointTarget;
  if (state_.nonTaxable) f |= line::kNonTaxable;
  if (taxFree_) f |= line::kTaxExempt;
  if (state_.noSpecialTax) f |= line::kNoSpecialTax;
  if (taxReduced_ && (f & 0x000C) == 0) f = static_cast<uint16_t>((f & ~0x0030) | 0x0010);
  putU16(current_, line::kFlags, f);
  engine_->AddLineToTotals(current_, totals_);
  ComputeSaleTax();
}

void CRegSale::ComputeSaleTax() {
  const uint16_t flags = getU16(engine_->Settings(), settings::kTaxWord);
  const int32_t outer = flags & 3, inner = (flags >> 2) & 3;
  int64_t amount = totals_[saletotal::kExempt];
  for (int s = 0; s < 4; ++s) {
    const int32_t o = totals_[saletotal::kOuterTaxable + s];
    const int32_t removed = totals_[saletotal::kExemptInner + s];
    amount += o + CalTax(o, outer, s) + totals_[saletotal::kInner + s] - removed + CalTaxInc(removed, inner, s);
  }
  itemCount_ = totals_[saletotal::kQuantity];
  amount_ = static_cast<int32_t>(amount);
}

int32_t CRegSale::WriteTotalAndTaxLines(int32_t tendered) {
  // Once per sale: a tender of 0 has made them too.
  if (state_.totalLinesWritten) {
    amountTendered_ += tendered;
    return 1;
  }
  state_.totalLinesWritten = 1;
  auto put = [&](uint16_t kind, int32_t amount) {
    BuildSystemLine(kind, amount, 0);
    return WriteLine(1, 0);
  };
  engine_->BuildTotalLine(current_, 0, 0, app_->m_bPrnSA, xReadingView_ || zReadingView_ ? 0 : 1);
  if (refundView_) putU16(current_, line::kFlags, static_cast<uint16_t>(flagsOf(current_) | line::kVoid));
  if (!WriteLine(1, 0)) return 0;

  const uint16_t flags = getU16(engine_->Settings(), settings::kTaxWord);
  const int32_t outerRounding = flags & 3, innerRounding = (flags >> 2) & 3;
  int32_t O[4], I[4], J[4], sumO = 0, sumI = 0, sumJ = 0;
  for (int s = 0; s < 4; ++s) {
    O[s] = totals_[saletotal::kOuterTaxable + s];
    I[s] = totals_[saletotal::kInner + s];
    J[s] = totals_[saletotal::kExemptInner + s];
    sumO += O[s];
    sumI += I[s];
    sumJ += J[s];
  }
  const int32_t N = totals_[saletotal::kExempt];
  const bool detail = app_->m_bTaxDetail != 0;
  static const uint16_t kTaxable[4] = {kLineTaxable, kLineTaxable1, kLineTaxable1 + 1, kLineTaxable1 + 2};
  static const uint16_t kTax[4] = {kLineTax, kLineTax1, kLineTax1 + 1, kLineTax1 + 2};
  static const uint16_t kIncluded[4] = {kLineTaxIncluded, kLineTaxIncluded1, kLineTaxIncluded1 + 1,
                                        kLineTaxIncluded1 + 2};
  static const uint16_t kContained[4] = {kLineTaxContained, kLineTaxContained1, kLineTaxContained1 + 1,
                                         kLineTaxContained1 + 2};
  static const uint16_t kExemptContained[4] = {kLineExemptContained, kLineExemptContained + 1,
                                               kLineExemptContained + 2, kLineExemptContained + 3};
  auto outerTax = [&](int s) { return CalTax(O[s], outerRounding, s); };
  auto contained = [&](int32_t amount, int s) { return amount - CalTaxInc(amount, innerRounding, s); };
  const bool onlySlot0O = O[1] == 0 && O[2] == 0 && O[3] == 0;
  const bool onlySlot0I = I[1] == 0 && I[2] == 0 && I[3] == 0;

  if (!taxFree_ && sumO != 0) {
    if (!detail) {
      if ((sumI != 0 || N != 0) && !put(kLineTaxable, sumO)) return 0;
      int32_t tax = 0;
      for (int s = 0; s < 4; ++s) tax += outerTax(s);
      if (!put(kLineTax, tax)) return 0;
    } else if (onlySlot0O && sumI == 0 && N == 0) {
      for (int s = 0; s < 4; ++s)
        if (O[s] != 0 && !put(kTax[s], outerTax(s))) return 0;
    } else {
      for (int s = 0; s < 4; ++s)
        if (O[s] != 0 && (!put(kTaxable[s], O[s]) || !put(kTax[s], outerTax(s)))) return 0;
    }
  }
  if (sumI != 0) {
    auto containedLine = [&](int s) {
      if (J[s] != 0) return put(kExemptContained[s], contained(J[s], s));
      if (I[s] != 0) return put(kContained[s], contained(I[s], s));
      return 1;
    };
    if (!detail) {
      if ((sumO != 0 || sumJ != 0) && !put(kLineTaxIncluded, sumI)) return 0;
      int32_t tax = 0;
      if (sumJ != 0) {
        for (int s = 0; s < 4; ++s) tax += contained(J[s], s);
        if (!put(kLineExemptContained, tax)) return 0;
      } else {
        for (int s = 0; s < 4; ++s) tax += contained(I[s], s);
        if (!put(kLineTaxContained, tax)) return 0;
      }
    } else if (onlySlot0I && sumO == 0 && sumJ == 0) {
      for (int s = 0; s < 4; ++s)
        if (!containedLine(s)) return 0;
    } else {
      for (int s = 0; s < 4; ++s)
        if (I[s] != 0 && (!put(kIncluded[s], I[s]) || !containedLine(s))) return 0;
    }
  }
  const int32_t rounded = engine_->RoundUnit(amount_);
  if (rounded != amount_ && !put(kLineService, rounded - amount_)) return 0;
  if (amount_ != tendered && !put(kLineSubtotal, amount_)) return 0;
  std::memset(current_, 0, sizeof current_);
  if (refundView_) putU16(current_, line::kFlags, line::kVoid);
  amountTendered_ += tendered;
  return 1;
}

// ---- the sale ----------------------------------------------------------------------

void CRegSale::BuildSystemLine(uint16_t code, int32_t amount, int32_t second) {
  (void)second;
  app_->MakeSystemLine(current_, code, amount, refundView_ ? 1 : 0);
}

// Stores the current line as line number lineCount_: in the temporary file,
// then in the block. stored is false when neither holds it afterwards.
int32_t CRegSale::AppendLine() {
  const int32_t n = lineCount_;
  if (!temporary_ || !block_) return -1;
  if (FileDBRecWrite(temporary_, n, current_) != 0) return -1;
  const int32_t end = n * static_cast<int32_t>(line::kSize);
  if (SeekMemory(block_, end, MEMORY_SEEK_BEGIN) != end ||
      WriteDataMemory(block_, current_, line::kSize) != static_cast<int32_t>(line::kSize)) {
    // The file must not keep what the block lost.
    FileDBRecDelete(temporary_, n, n, nullptr);
    return -1;
  }
  ++lineCount_;
  return PrintLine() == 0 ? 1 : 0;
}

int32_t CRegSale::WriteLine(int32_t write, int32_t keep) {
  if (!saleBegun_ || keep) {
    saleBegun_ = true;
    itemCount_ = amount_ = 0;
    entry_.clear();
    message_.clear();
    state_ = State{};
    std::memset(totals_, 0, sizeof totals_);
    taxFree_ = 0;
    amountTendered_ = 0;
    pointsAvailable_ = 0;
    if (!keep) ClearCurrent();
    screen_->SetSaleMenus(true);
    // A sale taken over (resumed) brings its lines back into the sums.
    uint8_t l[line::kSize];
    for (int32_t n = 0; n < lineCount_; ++n) {
      if (!ReadLine(n, l)) break;
      engine_->AddLineToTotals(l, totals_);
      const uint16_t key = keyOf(l);
      if (flagsOf(l) & line::kTaxExempt) taxFree_ = 1;
      if (keyType(key) == kKeyCustomer) pointsAvailable_ += getI32(l, line::kPrice);
      if (keyType(key) == kKeyTrans1) {
        amountTendered_ += getI32(l, line::kPrice);
        state_.tenderEntered = 1;
        state_.totalLinesWritten = 1;
      }
      if (keyType(key) == kKeySeparator) state_.totalLinesWritten = 1;
      if (isKey(key, kKeyTrans2, kTrans2PointsEarned)) pointsAvailable_ += getI32(l, line::kPrice);
      const bool live = (flagsOf(l) & (line::kCcts | line::kClct)) == 0;
      if (live && isKey(key, kKeyFunction, kFunctionPersons)) state_.persons = getI32(l, line::kPrice);
      if (live && (key == systemLineKey(kLineSpecialTax) || key == systemLineKey(kLineServiceCharge)))
        state_.taxService = 1;
      if (key == systemLineKey(kLineChange)) state_.hasChangeLine = 1;
    }
    ComputeSaleTax();
    RefreshPane();
    ShowModifierStatus();
  }
  if (!keep) {
    screen_->SetListRow(current_, lineCount_);
    if (!write) {
      screen_->ShowLastListRow();
      return 1;
    }
    if (keyOf(current_) != makeKeyCode(kKeyFunction, kFunctionSubtotal)) state_.subtotalTaken = 0;
    const int32_t stored = AppendLine();
    if (stored < 0) {
      // Nothing of the line is kept: its row shows the empty line again.
      screen_->SetListRow(nullptr, lineCount_);
      return 0;
    }
    if (stored == 0) return 0;
  }

  const uint16_t key = keyOf(current_);
  const uint16_t type = keyType(key), code = keyNumber(key);
  const bool inOut = type == kKeyTrans2 && (code == kTrans2PaidIn || code == kTrans2PaidOut ||
                                            code == kTrans2CardPaidIn || code == kTrans2Exchange);
  const bool covered = type == kKeyTrans1 && engine_->RoundUnit(amount_) <= amountTendered_;
  uint8_t written[line::kSize];
  std::memcpy(written, current_, sizeof written);
  char kind = 'T';
  int32_t displayAmount = amount_;
  if (covered || inOut) {
    if (code == kTrans2PaidIn || code == kTrans2CardPaidIn) kind = 'I';
    if (type == kKeyTrans2 && code == kTrans2PaidOut) kind = 'O';
    if (!inOut) kind = 'T';
    EndOfSale(&kind, &displayAmount);
    if (saleBegun_) return 0;  // the end of the sale stopped on the way
  }
  if (type != kKeySystemLine && type != kKeySeparator) UpdateCustomerDisplays(written, kind, displayAmount);
  CloseTransaction(0);
  screen_->SetListRow(current_, lineCount_);
  screen_->ShowLastListRow();
  return 1;
}

void CRegSale::EndOfSale(char* kind, int32_t* displayAmount) {
  const uint16_t key = keyOf(current_);
  const int32_t rounded = engine_->RoundUnit(amount_);
  if (keyType(key) == kKeyTrans1 && amountTendered_ > rounded) {
    const int32_t change = amountTendered_ - rounded;
    *kind = 'C';
    *displayAmount = change;
    if (!state_.hasChangeLine) {
      BuildSystemLine(kLineChange, change, 0);
      screen_->SetListRow(current_, lineCount_);
      if (AppendLine() != 1) return;
      state_.hasChangeLine = 1;
    }
  }
  // Points of a customer with a points rate.
  const uint16_t pointsWord = getU16(engine_->Settings(), settings::kPointUnit.offset);
  uint8_t first[line::kSize];
  if ((pointsWord & 0x0FFF) != 0 && pointsWord >= 0x1000 && ReadLine(0, first) &&
      keyType(keyOf(first)) == kKeyCustomer && getI32(first, line::kUnitPrice) != 0) {
    uint8_t aside[line::kSize];
    std::memcpy(aside, current_, sizeof aside);
    auto append = [&]() {
      screen_->SetListRow(current_, lineCount_);
      return AppendLine() == 1;
    };
    ClearCurrent();
    if (!append()) return;
    BuildSystemLine(kLinePointBalance, pointsAvailable_, 0);
    if (!append()) return;
    const int32_t unit = pointsWord & 0x0FFF;
    const int32_t earned = totals_[saletotal::kPointTarget] / unit * (pointsWord >> 12) *
                           getI32(first, line::kUnitPrice) / 100;
    BuildSystemLine(kLinePointsEarned, earned, 0);
    if (!append()) return;
    std::memcpy(current_, aside, sizeof aside);
  }
  if (!CommitSale(modeCode_, rounded)) return;
  PrintLine();
  screen_->RaiseDeviceRequest(kRequestSaleCommitted);
  if (!app_->m_bPrintEachLine && app_->PrintReceipt(block_, 0, 0, -1, 0, 0, nullptr) != 0) return;
  if (app_->m_pPrinterDC) app_->PrintReceiptText("");
  app_->CloseReserveFile(modeCode_, [this](const std::string& title) { screen_->ShowHeldSaleTitle(title); });
  ClearSaleEnd();
}

void CRegSale::ClearSaleEnd() {
  screen_->SetSaleMenus(false);
  saleBegun_ = false;
  taxFree_ = taxReduced_ = refundConfirmed_ = pointsAvailable_ = 0;
  rightsChecked_ = 0;
  state_.totalLinesWritten = 0;
}

int32_t CRegSale::CommitSale(uint16_t modeCode, int32_t roundedTotal) {
  const int32_t result = engine_->PrfUpdate(modeCode, block_, current_, temporary_ ? &temporary_ : nullptr,
                                            roundedTotal);
  if (result < 0) return 0;
  uint8_t last[line::kSize];
  if (lineCount_ > 0 && ReadLine(lineCount_ - 1, last) && keyType(keyOf(last)) == kKeyClosing) {
    SeekMemory(block_, (lineCount_ - 1) * static_cast<int32_t>(line::kSize), MEMORY_SEEK_BEGIN);
    WriteDataMemory(block_, current_, line::kSize);
  } else {
    SeekMemory(block_, lineCount_ * static_cast<int32_t>(line::kSize), MEMORY_SEEK_BEGIN);
    WriteDataMemory(block_, current_, line::kSize);
    screen_->SetListRow(current_, lineCount_);
    ++lineCount_;
  }
  screen_->RaiseDeviceRequest(kRequestSaleClosed);
  screen_->ShowLastListRow();
  return 1;
}

void CRegSale::CloseTransaction(int32_t close) {
  std::memcpy(previous_, current_, sizeof previous_);
  state_.nonTaxable = state_.noSpecialTax = state_.digitRelease = state_.fixedTail = 0;
  state_.priceChange = state_.twoStage = state_.twoStageSecond = state_.subEntry = 0;
  state_.pendingDepartment = state_.pendingAttributes = 0;
  entry_.clear();
  ClearCurrent();
  ShowModifierStatus();
  if (!close) return;
  ClearSaleEnd();
  if (temporary_) {
    char path[300] = {};
    FileDBGetPathName(temporary_, path);
    FileDBCloseEx(temporary_);
    FileDBDelete(temporary_);
    temporary_ = 0;
    platform::deleteFile(platform::mapPath(path));
  }
  screen_->RaiseDeviceRequest(kRequestSaleClosed);
  screen_->DeleteListRows();
  lineCount_ = 0;
  if (block_) DeleteMemory(block_);
  block_ = nullptr;
  itemCount_ = amount_ = 0;
  message_.clear();
  RefreshPane();
  ShowModifierStatus();
}

int32_t CRegSale::PrintLine() {
  if (!app_->m_bPrintEachLine) return 0;
  // A settlement step prints whatever the receipt switch says, unless its
  // step word keeps it off the paper.
  const bool step = settlementStep_ >= 0 && settlementStep_ < 8;
  if (step && (StepWord(settlementStep_) & 0x4000)) return 0;
  if (!step && !app_->m_bReceiptOn) return 0;
  // The rows of an open cash count are printed with their counts when it ends.
  if (cashCount_ && keyType(keyOf(current_)) == kKeySystemLine) return 0;
  std::string text;
  if (lineCount_ == 1) {
    uint16_t date = 0;
    app_->BuildReceiptHead(text, modeCode_, &date, 0, 0, nullptr, nullptr);
  }
  const bool closing = keyType(keyOf(current_)) == kKeyClosing;
  uint8_t first[line::kSize];
  const bool customer = closing && ReadLine(0, first) && keyType(keyOf(first)) == kKeyCustomer;
  text += app_->BuildLineText(current_, 0, customer ? first : nullptr, 0);
  if (closing) text += '\f';
  if (app_->m_bPrnSA)
    app_->m_strSaPrintText += text;
  else
    app_->PrintReceiptText(text);
  screen_->RaiseDeviceRequest(kRequestPrint);
  return 0;
}

void CRegSale::UpdateCustomerDisplays(const void* lineRecord, char kind, int32_t amount) {
  const auto* l = static_cast<const uint8_t*>(lineRecord);
  std::string text = formatAmount(printfText("%16ld", static_cast<long>(amount)), 16, 2);
  text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size() : text.find_first_not_of(' '));
  for (char& c : text)
    if (c == ',') c = '.';
  displayText_ = text + kind;
  screen_->RaiseDeviceRequest(kRequestDisplay);

  const bool kanji = settings_.displayDevice == "サブディスプレイウインドウ" || settings_.displayDevice == "EPSON DM-D30";
  const std::string name = settings_.showPrintName ? getText(l, line::kPrintName, line::kPrintNameLen) : "";
  const int w = static_cast<int>(name.size());
  const long price = getI32(l, line::kPrice);
  const long total = amount, items = itemCount_;
  switch (kind) {
    case 'I':
      poleText_ = kanji ? printfText("                    入金%14ld円", total)
                        : printfText("                    ﾆｭｳｷﾝ%15ld", total);
      break;
    case 'O':
      poleText_ = kanji ? printfText("                    出金%14ld円", total)
                        : printfText("                    ｼｭｯｷﾝ%15ld", total);
      break;
    case 'C':
      poleText_ = kanji ? printfText("お預り%*ld円お釣%14ld円", 12, static_cast<long>(amountTendered_), total)
                        : printfText("ｵｱｽﾞｶﾘ%*ldｵﾂﾘ%17ld", 14, static_cast<long>(amountTendered_), total);
      break;
    default:
      if (kanji) {
        if (total <= 999999 && items <= 999)
          poleText_ = printfText("%-*.*s%*ld円小計%4ld点%8ld円", w, w, name.c_str(), 18 - w, price, items, total);
        else if (total <= 999999)
          poleText_ = printfText("%-*.*s%*ld円小計%14ld円", w, w, name.c_str(), 18 - w, price, total);
        else if (items <= 999)
          poleText_ = printfText("%-*.*s%*ld小計%4ld点%10ld", w, w, name.c_str(), 20 - w, price, items, total);
        else
          poleText_ = printfText("%-*.*s%*ld小計%16ld", w, w, name.c_str(), 20 - w, price, total);
      } else if (items <= 99) {
        poleText_ = printfText("%-*.*s%*ldｼｮｳｹｲ%3ldﾃﾝ%10ld", w, w, name.c_str(), 20 - w, price, items, total);
      } else {
        poleText_ = printfText("%-*.*s%*ldｼｮｳｹｲ%15ld", w, w, name.c_str(), 20 - w, price, total);
      }
      break;
  }
  screen_->RefreshCustomerDisplay(lineRecord);
}

void CRegSale::ShowModifierStatus() {
  std::string text;
  const char* lead = taxFree_ ? "免税" : taxReduced_ ? "減税" : nullptr;
  const bool change = state_.priceChange != 0, digits = state_.digitRelease != 0;
  if (lead) {
    if (change && digits) text = std::string(lead) + ", 売変, 桁解除";
    else if (change) text = std::string(taxFree_ ? "消費税免税" : "消費税減税") + ", 売価変更";
    else if (digits) text = std::string(taxFree_ ? "消費税免税" : "消費税減税") + ", 桁解除";
    else text = taxFree_ ? "消費税免税" : "消費税減税";
  } else if (change) {
    text = digits ? "売価変更, 桁解除" : "売価変更";
  } else if (digits) {
    text = "桁解除（ＯＰＥＮ）";
  } else if (cashCount_) {
    text = countCursor_ >= lineCount_ - 3 ? "金額を入力して下さい" : "枚数を入力して下さい";
  }
  screen_->SetStatusText(text);
}

int32_t CRegSale::ResumeSale(FileDBHandle file) {
  const int32_t count = FileDBRecGetSize(file);
  MemoryBlockHandle block = CreateMemory(nullptr, 0, 4096);
  if (!block || count < 0) {
    if (block) DeleteMemory(block);
    return 0;
  }
  uint8_t l[line::kSize];
  for (int32_t n = 0; n < count; ++n) {
    if (FileDBRecRead(file, n, l) != 0 ||
        WriteDataMemory(block, l, line::kSize) != static_cast<int32_t>(line::kSize)) {
      DeleteMemory(block);
      return 0;
    }
  }
  Release();
  screen_->DeleteListRows();
  block_ = block;
  temporary_ = file;
  lineCount_ = count;
  saleBegun_ = false;
  rightsChecked_ = 0;
  refundConfirmed_ = 0;
  for (int32_t n = 0; n < count; ++n)
    if (ReadLine(n, l)) screen_->SetListRow(l, n);
  MarkCorrectedLines();
  WriteLine(0, 0);
  return 1;
}

void CRegSale::Release() {
  if (block_) DeleteMemory(block_);
  block_ = nullptr;
  if (temporary_) {
    const int32_t records = FileDBRecGetSize(temporary_);
    char path[300] = {};
    FileDBGetPathName(temporary_, path);
    FileDBCloseEx(temporary_);
    FileDBDelete(temporary_);
    temporary_ = 0;
    // An empty file is no interrupted sale.
    if (records <= 0) platform::deleteFile(platform::mapPath(path));
  }
}

}  // namespace varnex::reg
