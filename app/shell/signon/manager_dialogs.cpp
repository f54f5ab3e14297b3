#include "app/shell/signon/manager_dialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/register/engine/records.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/frames/main_frame.h"
#include "platform/base/clock.h"
#include "platform/base/message_box.h"
#include "platform/base/profile.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"
#include "platform/ui/window.h"
#include "zemta/filedb.h"
#include "zemta/keys.h"
#include "zemta/tax.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

constexpr const char* kSection = "Settings";
constexpr uint32_t kRecordLen = 48;

std::function<ClerkCodeDate()>& todayHook() {
  static std::function<ClerkCodeDate()> hook;
  return hook;
}

ClerkCodeDate Today() {
  if (todayHook()) return todayHook()();
  const platform::LocalTime t = platform::localTime();
  return {t.year, t.month, t.day};
}

platform::Profile& profile() { return platform::Profile::of(platform::ProfileScope::User); }

bool IsManager(const uint8_t* clerk) { return (reg::getU16(clerk, reg::clerk::kForbiddenModes) & reg::clerk::kNotManager) == 0; }
uint32_t ClerkNumber(const uint8_t* clerk) { return reg::getU16(clerk, reg::clerk::kNumber.offset); }

bool ReadClerk(reg::CRegCom& engine, int32_t record, uint8_t* out) {
  FileDBHandle table = engine.Table(reg::kClerkTable);
  return table && record >= 0 && FileDBRecRead(table, record, out) == 0;
}

// A manager of the lists: the name shown and the record number behind it.
struct ManagerItem {
  std::string name;
  int32_t record;
};

// The managers of records 1 to count-1, sorted by name; false on a read
// failure.
bool ListManagers(reg::CRegCom& engine, std::vector<ManagerItem>* items) {
  FileDBHandle table = engine.Table(reg::kClerkTable);
  if (!table) return false;
  const int32_t count = FileDBRecGetSize(table);
  if (count < 0) return false;
  uint8_t clerk[kRecordLen];
  for (int32_t r = 1; r < count; ++r) {
    if (FileDBRecRead(table, r, clerk) != 0) return false;
    if (!IsManager(clerk)) continue;
    char name[32];
    std::snprintf(name, sizeof name, "%-*.*s", 16, 16, reinterpret_cast<const char*>(clerk));
    std::string text = name;
    text.erase(text.find_last_not_of(' ') + 1);
    items->push_back({text, r});
  }
  std::stable_sort(items->begin(), items->end(),
                   [](const ManagerItem& a, const ManagerItem& b) { return a.name < b.name; });
  return true;
}

// Fills a combo box with the managers and selects the one of "Default CasNo".
bool FillManagerList(reg::CRegCom& engine, HWND combo, std::vector<ManagerItem>* items) {
  ui::clearList(combo);
  items->clear();
  if (!ListManagers(engine, items)) return false;
  for (const ManagerItem& m : *items) ui::addListItem(combo, m.name);
  const int64_t fallback = items->size() == 1 ? 0 : -1;
  const int64_t number = profile().getInt(kSection, "Default CasNo", fallback);
  ui::setListSelection(combo, -1);
  if (number >= 0) {
    uint8_t clerk[kRecordLen];
    const int32_t record = engine.GetClerkRecord(static_cast<uint32_t>(number), clerk);
    for (size_t i = 0; i < items->size() && record >= 0; ++i)
      if ((*items)[i].record == record) ui::setListSelection(combo, static_cast<int32_t>(i));
  }
  return true;
}

int Box(HWND owner, const char* text, uint32_t style) { return ui::messageBox(owner, text, "", style); }

// ---- the sign-on dialog ---------------------------------------------------------

// The fourth digit of a PIN signs on at once, yet clerks confirm a PIN with
// Enter out of habit. That Enter comes while the lock lifts or once the
// register shows, where it is a tender key (an empty sale opened and
// refused) or runs a menu item. It is the sign-on's: the first Enter after a
// typed sign-on is swallowed. Any other key or a mouse click first means the
// clerk has moved on, and Enter is the screen's again.
class ConfirmingEnter {
 public:
  static ConfirmingEnter& Instance() {
    static ConfirmingEnter instance;
    return instance;
  }

  // owner: the main frame; the swallow ends with it.
  void Expect(HWND owner) {
    Drop();
    owner_ = owner;
    // Before every screen's own key hook, which may be older.
    keyHook_ = ui::addKeyHook([this](const ui::KeyInput& key) { return OnKey(key); }, true);
    mouseHook_ = ui::addMouseHook([this](const ui::MouseInput& mouse) {
      if (mouse.message == 0x201) Drop();  // any button pressed
      return false;
    });
  }

  void Drop() {
    if (keyHook_) ui::removeInputHook(keyHook_);
    if (mouseHook_) ui::removeInputHook(mouseHook_);
    keyHook_ = mouseHook_ = 0;
    held_ = false;
  }

 private:
  bool OnKey(const ui::KeyInput& key) {
    if (!ui::isWindow(owner_)) {
      Drop();
      return false;
    }
    if (key.virtualKey == ui::kVkShift || key.virtualKey == ui::kVkControl || key.virtualKey == ui::kVkMenu)
      return false;
    if (key.virtualKey != ui::kVkReturn) {
      // The release of the last PIN digit comes after the sign-on.
      if (key.down) Drop();
      return false;
    }
    if (key.down) {
      held_ = true;  // its repeats too, until it is let go
      return true;
    }
    if (!held_) return false;
    Drop();
    return true;
  }

  HWND owner_ = nullptr;
  int keyHook_ = 0, mouseHook_ = 0;
  bool held_ = false;
};


struct AccountDialog {
  CREGApp& app;
  HWND owner;
  HWND self = nullptr;
  std::vector<ManagerItem> items;
  char capture[14] = {};
  ZemtaKeyRecord captureKey{};

  AccountDialog(CREGApp& a, HWND o) : app(a), owner(o) {}

  reg::CRegCom& Engine() { return *app.m_pRegCom; }
  HWND Item(int32_t id) const { return ui::dialogItem(self, id); }

  void Init() {
    ConfirmingEnter::Instance().Drop();
    HWND combo = Item(IDC_MANAGER_NAME);
    FillManagerList(Engine(), combo, &items);
    ui::checkButton(Item(IDC_NO_TIMEOUT), app.m_bCasNoTimeout ? 1 : 0);
    ui::setFocus(app.m_bManagerSelected ? Item(IDC_MANAGER_PIN) : combo);
    // A clerk barcode arrives as 13 typed characters.
    std::memset(capture, 0, sizeof capture);
    captureKey = {};
    captureKey.command = static_cast<uint16_t>(kCmdClerkCodeLogin);
    ZemtaGetAccel(self, &captureKey);
    ZemtaSetKeyCapture(capture, 13);
  }

  void Disarm() {
    ZemtaGetAccel(nullptr, nullptr);
    ZemtaSetKeyCapture(nullptr, 0);
  }

  bool CaptureIsCode() const { return std::strlen(capture) == 13 && BccCheck(capture, 13); }

  void Select(const uint8_t* clerk) {
    Engine().SetManager(clerk);
    app.m_bManagerSelected = 1;
    app.m_bCasNoTimeout = ui::buttonState(Item(IDC_NO_TIMEOUT)) == 1 ? 1 : 0;
    profile().setInt(kSection, "Cas No Timeout", app.m_bCasNoTimeout);
    const uint32_t number = ClerkNumber(clerk);
    if (number < 10000) profile().setInt(kSection, "Default CasNo", number);
    ui::postMessage(owner, WM_TENKEY_PAD, 0, 0);
  }

  // The record of the chosen name: the selection, a name the text begins, or
  // the text as a clerk number. -1 when none.
  int32_t ChosenRecord(uint8_t* clerk) {
    HWND combo = Item(IDC_MANAGER_NAME);
    const int32_t sel = ui::listSelection(combo);
    const std::string text = ui::windowText(combo);
    int32_t record = -1;
    if (sel >= 0 && sel < static_cast<int32_t>(items.size()) && items[static_cast<size_t>(sel)].name == text) {
      record = items[static_cast<size_t>(sel)].record;
    } else if (!text.empty()) {
      for (const ManagerItem& m : items)
        if (m.name.compare(0, text.size(), text) == 0) {
          record = m.record;
          break;
        }
      if (record < 0) {
        char* end = nullptr;
        const unsigned long number = std::strtoul(text.c_str(), &end, 10);
        if (end && *end == '\0') return Engine().GetClerkRecord(static_cast<uint32_t>(number), clerk);
      }
    }
    if (record < 0 || !ReadClerk(Engine(), record, clerk)) return -1;
    return record;
  }

  void OnOK() {
    if (app.m_bManagerSelected || CaptureIsCode()) return;
    HWND pinEdit = Item(IDC_MANAGER_PIN);
    const std::string pin = ui::windowText(pinEdit);
    const uint32_t typed = pin.size() == 4 ? static_cast<uint32_t>(std::atoi(pin.c_str())) : 0xFFFFFFFFu;
    uint8_t clerk[kRecordLen] = {};
    int32_t record = ChosenRecord(clerk);
    // The system manager's PIN selects record 0, unless it is the chosen
    // manager's own PIN.
    uint8_t system[kRecordLen] = {};
    if (pin.size() == 4 && ReadClerk(Engine(), 0, system) && typed == EffectivePin(0, system) &&
        !(record > 0 && EffectivePin(record, clerk) == typed)) {
      record = 0;
      std::memcpy(clerk, system, kRecordLen);
    }
    if (record < 0) return;
    const uint32_t stored = EffectivePin(record, clerk);
    if (stored != 0) {
      if (pin.size() == 4 && typed != stored) {
        ui::setWindowText(pinEdit, "");
        ui::setTimer(self, kTimerWrongPin, 200);
        return;
      }
      if (pin.size() != 4) {
        if (ui::focusWindow() == pinEdit) {
          ui::setWindowText(pinEdit, "");
          ui::setFocus(Item(IDC_MANAGER_NAME));
        } else {
          ui::setFocus(pinEdit);
        }
        return;
      }
    }
    Select(clerk);
  }

  // OK run by the typing itself: the Enter that may follow is the sign-on's.
  void OnTyped() {
    const bool before = app.m_bManagerSelected != 0;
    OnOK();
    if (!before && app.m_bManagerSelected) ConfirmingEnter::Instance().Expect(owner);
  }

  void OnClerkCode() {
    if (!CaptureIsCode()) return;
    uint32_t p = 0, century = 0;
    if (!ReadClerkCode(std::string(capture, 13), &p, &century)) return;
    FileDBHandle table = Engine().Table(reg::kClerkTable);
    const int32_t count = table ? FileDBRecGetSize(table) : -1;
    if (count < 2) return;
    uint8_t clerk[kRecordLen];
    int32_t found = -1;
    for (int32_t r = 1; r < count && found < 0; ++r) {
      if (FileDBRecRead(table, r, clerk) != 0) return;
      if (!IsManager(clerk)) continue;
      if (ClerkCodeIdentity(ClerkNumber(clerk), EffectivePin(r, clerk)) == (p >> 16)) found = r;
    }
    if (found < 0) return;
    ui::killTimer(self, kTimerWrongPin);
    if (!ClerkCodeValidOn(p, century, Today())) {
      Box(self, "有効期限が過ぎています\n認証は失敗しました", platform::kMbIconWarning);
      return;
    }
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i].record == found) ui::setListSelection(Item(IDC_MANAGER_NAME), static_cast<int32_t>(i));
    char pin[8];
    std::snprintf(pin, sizeof pin, "%04u", EffectivePin(found, clerk));
    ui::setWindowText(Item(IDC_MANAGER_PIN), pin);
    Select(clerk);
  }

  void OnChangePin() {
    ui::setWindowText(Item(IDC_MANAGER_PIN), "");
    // With no name chosen the change is the system manager's (record 0,
    // never listed); the dialog asks for the present PIN either way.
    uint8_t clerk[kRecordLen] = {};
    const int32_t sel = ui::listSelection(Item(IDC_MANAGER_NAME));
    const int32_t record = sel >= 0 && sel < static_cast<int32_t>(items.size()) ? items[static_cast<size_t>(sel)].record : 0;
    if (!ReadClerk(Engine(), record, clerk)) {
      ui::setFocus(Item(IDC_MANAGER_PIN));
      return;
    }
    uint32_t newPin = 0;
    const uint32_t number = ClerkNumber(clerk);
    reg::CRegCom& engine = Engine();
    const bool ok = RunChangePinDialog(
        self, EffectivePin(record, clerk), record == 0,
        [&](uint32_t pin) { return record != 0 && ClerkCodeCollides(engine, record, number, pin); }, &newPin);
    if (ok && ReadClerk(engine, record, clerk)) {
      reg::putU16(clerk, reg::clerk::kPin.offset, static_cast<uint16_t>(newPin));
      FileDBHandle table = engine.Table(reg::kClerkTable);
      if (table && FileDBRecWrite(table, record, clerk) == 0)
        Box(self, "暗証番号は、正常に変更されました", platform::kMbIconInformation);
    }
    ui::setFocus(Item(IDC_MANAGER_PIN));
  }

  LRESULT Proc(HWND h, uint32_t m, WPARAM wp, LPARAM) {
    switch (m) {
      case ui::kWmInitDialog:
        self = h;
        Init();
        return 1;
      case ui::kWmTimer:
        if (wp == kTimerWrongPin) {
          ui::killTimer(h, kTimerWrongPin);
          if (!app.m_bManagerSelected) ui::messageBeep(ui::kBeepPlain);
        }
        return 1;
      case ui::kWmDestroy:
        Disarm();
        return 0;
      case ui::kWmCommand: {
        const uint32_t id = ui::lowWord(wp), code = ui::highWord(wp);
        switch (id) {
          case 1: OnOK(); return 1;
          case 2: return 1;  // Escape leaves the dialog up
          case IDC_EXIT: ui::postMessage(owner, ui::kWmClose, 0, 0); return 1;
          case IDC_CHANGE_PIN: OnChangePin(); return 1;
          case kCmdClerkCodeLogin: OnClerkCode(); return 1;
          case IDC_NO_TIMEOUT:
            if (ui::buttonState(Item(IDC_NO_TIMEOUT)) == 1 &&
                Box(self,
                    "自動責任者選択を解除すると、他の関係者がそのまま使用する恐れがあります。\n問題が発生した場合に、あなたが"
                    "責任を問われる可能性があります。\n\n自動責任者選択を解除しますか?",
                    platform::kMbYesNo | platform::kMbIconWarning | platform::kMbDefButton2) != platform::kIdYes)
              ui::checkButton(Item(IDC_NO_TIMEOUT), 0);
            return 1;
          case IDC_MANAGER_NAME:
            // Four characters typed as a name (a clerk number, say) sign on at once.
            if (code == ui::kCbnEditChange && ui::windowText(Item(IDC_MANAGER_NAME)).size() == 4) OnTyped();
            return 1;
          case IDC_MANAGER_PIN:
            if (code == ui::kEnChange && ui::windowText(Item(IDC_MANAGER_PIN)).size() >= 4) OnTyped();
            return 1;
          default: return 0;
        }
      }
      default: return 0;
    }
  }
};

// ---- the PIN change ----------------------------------------------------------------

struct ChangePinDialog {
  uint32_t current;
  bool systemManager;
  std::function<bool(uint32_t)> collides;
  uint32_t result = 0;
  HWND self = nullptr;

  HWND Item(int32_t id) const { return ui::dialogItem(self, id); }
  void Open(bool open) {
    ui::setEditReadOnly(Item(IDC_PIN_NEW), !open);
    ui::setEditReadOnly(Item(IDC_PIN_CONFIRM), !open);
  }

  void OnOld() {
    HWND old = Item(IDC_PIN_OLD);
    const std::string text = ui::windowText(old);
    if (text.size() < 4) return;
    if (static_cast<uint32_t>(std::atoi(text.c_str())) != current) {
      ui::messageBeep(ui::kBeepPlain);
      ui::setWindowText(old, "");
      return;
    }
    ui::setEditReadOnly(old, true);
    Open(true);
    ui::setFocus(Item(IDC_PIN_NEW));
    ui::enableWindow(Item(1), true);
  }

  void OnNew() {
    HWND fresh = Item(IDC_PIN_NEW), confirm = Item(IDC_PIN_CONFIRM);
    const std::string a = ui::windowText(fresh), b = ui::windowText(confirm);
    if (a.empty()) {
      ui::setFocus(fresh);
      return;
    }
    if (b.empty()) {
      ui::setFocus(confirm);
      return;
    }
    if (a.size() < 4 || b.size() < 4) return;
    ui::setWindowText(fresh, "");
    ui::setWindowText(confirm, "");
    ui::setFocus(fresh);
    if (a != b) {
      ui::messageBeep(ui::kBeepPlain);
      return;
    }
    if (a == "0000" || (a == "6284" && !systemManager)) {
      Box(self, "暗証番号 '0000' と '6284' は、使用することができません\n違う暗証番号を入力して下さい",
          platform::kMbIconInformation);
      return;
    }
    const uint32_t pin = static_cast<uint32_t>(std::atoi(a.c_str()));
    // Two managers whose codes give the same bits would sign on as each
    // other with a clerk barcode.
    if (collides && collides(pin)) {
      Box(self, "この暗証番号は、他の責任者の担当者コードと重なります\n違う暗証番号を入力して下さい",
          platform::kMbIconInformation);
      return;
    }
    result = pin;
    ui::endDialog(self, 1);
  }

  LRESULT Proc(HWND h, uint32_t m, WPARAM wp, LPARAM) {
    if (m == ui::kWmInitDialog) {
      self = h;
      if (current == 0) {
        ui::setEditReadOnly(Item(IDC_PIN_OLD), true);
        ui::setFocus(Item(IDC_PIN_NEW));
      } else {
        Open(false);
        ui::setFocus(Item(IDC_PIN_OLD));
      }
      return 1;
    }
    if (m != ui::kWmCommand) return 0;
    const uint32_t id = ui::lowWord(wp), code = ui::highWord(wp);
    if (id == 1) {
      result = 0;  // 暗証番号解除: no PIN
      ui::endDialog(self, 1);
      return 1;
    }
    if (code != ui::kEnChange) return 0;
    if (id == IDC_PIN_OLD) OnOld();
    if ((id == IDC_PIN_NEW || id == IDC_PIN_CONFIRM) && ui::windowText(Item(static_cast<int32_t>(id))).size() >= 4) OnNew();
    return 1;
  }
};

// ---- the clerk-code maker ------------------------------------------------------------

struct MakeCodeDialog {
  CREGApp& app;
  std::vector<ManagerItem> items;
  HWND self = nullptr;

  HWND Item(int32_t id) const { return ui::dialogItem(self, id); }

  void OnOK() {
    reg::CRegCom& engine = *app.m_pRegCom;
    const int32_t sel = ui::listSelection(Item(IDC_CODE_MANAGER));
    if (sel < 0 || sel >= static_cast<int32_t>(items.size())) return;
    const int32_t record = items[static_cast<size_t>(sel)].record;
    uint8_t clerk[kRecordLen];
    if (!ReadClerk(engine, record, clerk)) return;
    const uint32_t number = ClerkNumber(clerk), pin = EffectivePin(record, clerk);
    if (ClerkCodeCollides(engine, record, number, pin)) {
      Box(self, "この責任者の担当者コードは、他の責任者のコードと重なります\n違う暗証番号に変更して下さい",
          platform::kMbIconWarning);
      return;
    }
    ClerkCodeDate expiry;
    const bool expires = ui::buttonState(Item(IDC_CODE_EXPIRES)) == 1;
    if (expires) {
      const ui::Date d = ui::pickerDate(Item(IDC_CODE_DATE));
      expiry = {d.year, d.month, d.day};
    }
    ui::setClipboardText(ClerkCode(number, pin, expires ? &expiry : nullptr));
    ui::endDialog(self, 1);
  }

  LRESULT Proc(HWND h, uint32_t m, WPARAM wp, LPARAM) {
    if (m == ui::kWmInitDialog) {
      self = h;
      if (!FillManagerList(*app.m_pRegCom, Item(IDC_CODE_MANAGER), &items)) {
        ui::endDialog(h, 2);
        return 1;
      }
      ui::enableWindow(Item(IDC_CODE_DATE), false);
      return 1;
    }
    if (m != ui::kWmCommand) return 0;
    const uint32_t id = ui::lowWord(wp);
    if (id == IDC_CODE_EXPIRES) {
      ui::enableWindow(Item(IDC_CODE_DATE), ui::buttonState(Item(IDC_CODE_EXPIRES)) == 1);
      return 1;
    }
    if (id == 1) {
      OnOK();
      return 1;
    }
    return 0;
  }
};

}  // namespace

uint32_t EffectivePin(int32_t record, const uint8_t* clerk) {
  const uint32_t pin = reg::getU16(clerk, reg::clerk::kPin.offset);
  return record == 0 && pin == 0 ? kFirstRunPin : pin;
}

bool ClerkCodeCollides(reg::CRegCom& engine, int32_t self, uint32_t clerkNumber, uint32_t pin) {
  std::vector<ManagerItem> items;
  if (!ListManagers(engine, &items)) return false;
  const uint32_t identity = ClerkCodeIdentity(clerkNumber, pin);
  uint8_t clerk[kRecordLen];
  for (const ManagerItem& m : items) {
    if (m.record == self || !ReadClerk(engine, m.record, clerk)) continue;
    if (ClerkCodeIdentity(ClerkNumber(clerk), EffectivePin(m.record, clerk)) == identity) return true;
  }
  return false;
}

void SetSignOnToday(std::function<ClerkCodeDate()> today) { todayHook() = std::move(today); }

HWND CreateAccountDialog(CREGApp& app, HWND owner) {
  if (!app.m_pRegCom) return nullptr;
  auto dialog = std::make_shared<AccountDialog>(app, owner);
  // A window of its own: a dialog inside the disabled main frame would be
  // disabled with it. The main frame still gets its messages.
  return ui::createDialog(105, nullptr, [dialog](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return dialog->Proc(h, m, wp, lp);
  });
}

int32_t RunChangePinDialog(HWND owner, uint32_t currentPin, bool systemManager,
                           std::function<bool(uint32_t pin)> collides, uint32_t* newPin) {
  ChangePinDialog dialog{currentPin, systemManager, std::move(collides)};
  const intptr_t r = ui::dialogBox(137, owner, [&dialog](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return dialog.Proc(h, m, wp, lp);
  });
  if (r != 1) return 0;
  if (newPin) *newPin = dialog.result;
  return 1;
}

void RunMakeClerkCodeDialog(CREGApp& app, HWND owner) {
  if (!app.m_pRegCom || !app.m_bManagerSelected) return;
  MakeCodeDialog dialog{app, {}};
  ui::dialogBox(160, owner, [&dialog](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return dialog.Proc(h, m, wp, lp);
  });
}

}  // namespace varnex::shell
