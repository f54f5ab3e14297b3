// The customer, line-name and formal-receipt dialogs (see sale_dialogs.h).
#include "app/shell/dialogs/sale_dialogs.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "app/register/odbc/odbc_link.h"
#include "app/register/print/receipt_printer.h"
#include "platform/base/profile.h"
#include "platform/ui/desktop.h"
#include "platform/ui/dialog.h"
#include "platform/ui/window.h"
#include "zemta/tax.h"

namespace varnex::shell {

namespace ui = platform::ui;

namespace {

// The application's fixed-pitch font of lists and edits.
constexpr const char* kFixedFace = "ＭＳ ゴシック";
constexpr int32_t kFixedHeight = 16;
constexpr size_t kMaxFound = 4096;
constexpr int kProvideNotes = 5;
constexpr size_t kNoteLength = 28;

std::string trimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// Cut to at most n bytes without splitting a double-byte character.
std::string cutText(const std::string& s, size_t n) {
  if (s.size() <= n) return s;
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<uint8_t>(s[i]);
    const size_t width = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
    if (i + width > n) break;
    i += width;
  }
  return s.substr(0, i);
}

// ---- 商品名変更 ----------------------------------------------------------------------

struct EditNameDialog {
  std::string display, print;
  bool offerCustomer = false;
  HWND self = nullptr;

  LRESULT Proc(HWND h, uint32_t m, WPARAM wp, LPARAM) {
    if (m == ui::kWmInitDialog) {
      self = h;
      HWND d = ui::dialogItem(h, IDC_NAME_DISPLAY), p = ui::dialogItem(h, IDC_NAME_PRINT);
      ui::setWindowFont(d, kFixedFace, kFixedHeight);
      ui::setWindowFont(p, kFixedFace, kFixedHeight);
      ui::setWindowText(d, display);
      ui::setWindowText(p, print);
      ui::showWindow(ui::dialogItem(h, IDC_NAME_INSERT_CUSTOMER), offerCustomer);
      ui::setFocus(d);
      return 1;
    }
    if (m != ui::kWmCommand) return 0;
    const uint32_t id = ui::lowWord(wp);
    if (id == 1) {
      // The fields hold at most their widths.
      display = cutText(ui::dialogItemText(self, IDC_NAME_DISPLAY), reg::line::kDisplayNameLen);
      print = cutText(ui::dialogItemText(self, IDC_NAME_PRINT), reg::line::kPrintNameLen);
      ui::endDialog(self, 1);
      return 1;
    }
    if (id == IDC_NAME_INSERT_CUSTOMER) {
      ui::endDialog(self, 6);
      return 1;
    }
    return 0;
  }
};

// ---- 取引先入力 ----------------------------------------------------------------------

struct EditCastDialog {
  reg::CRegCom* engine = nullptr;
  reg::CustomerChoice choice;
  bool insert = false;
  bool codeInputMethod = false;
  HWND self = nullptr;
  bool linked = false;
  bool codeEdited = false;
  bool searchPending = false;
  bool inInit = false;
  bool savedImeOpen = false;  // the dialog's input method when it opened
  struct Found {
    std::string code, keyword1, keyword2, keyword3;
    int32_t balance = 0, rate = 0;
    bool none = false;  // the empty choice of a code not found
  };
  std::vector<Found> found;

  HWND Item(int32_t id) const { return ui::dialogItem(self, id); }

  // Names are typed in kana and kanji: the input method is on while the
  // control holds the focus, and back as the dialog found it once it leaves.
  void FollowFocus(HWND control, bool focused) {
    ui::ImeState state;
    if (!ui::imeState(control, state)) return;
    state.open = focused || savedImeOpen;
    ui::setImeState(control, state);
  }

  void Search(const std::string& code) {
    if (code.empty()) return;
    HWND names = Item(IDC_CAST_NAME);
    ui::clearList(names);
    found.clear();
    if (linked) {
      reg::OdbcStmt statement;
      uint8_t record[reg::odbccustomer::kLen] = {};
      int32_t got = engine->OdbcSelectByCode(code.c_str(), record, &statement);
      while (got > 0 && found.size() < kMaxFound) {
        Found f;
        f.code = trimRight(reg::getText(record, reg::odbccustomer::kCode.offset, reg::odbccustomer::kCode.size));
        f.keyword1 = trimRight(reg::getText(record, reg::odbccustomer::kKeyword1.offset, 32));
        f.keyword2 = trimRight(reg::getText(record, reg::odbccustomer::kKeyword2.offset, 32));
        f.keyword3 = trimRight(reg::getText(record, reg::odbccustomer::kKeyword3.offset, 32));
        f.balance = reg::getI32(record, reg::odbccustomer::kPointBalance.offset);
        f.rate = reg::getI32(record, reg::odbccustomer::kPointRate.offset);
        found.push_back(f);
        ui::addListItem(names, trimRight(reg::getText(record, reg::odbccustomer::kName.offset, 32)));
        got = engine->OdbcFetchNextByCode(record, &statement);
      }
    }
    if (found.empty()) {
      // The shop's own customer table.
      std::vector<uint8_t> buffer(reg::kTables[reg::kCustomerTable].recordLen);
      uint8_t* record = buffer.data();
      Found f;
      if (engine->GetCustomerRecord(code.c_str(), record) >= 0) {
        f.code = trimRight(reg::getText(record, reg::customer::kCode.offset, reg::customer::kCode.size));
        f.balance = reg::getI32(record, reg::customer::kPointBalance.offset);
        f.rate = reg::getI32(record, reg::customer::kPointRate.offset);
        found.push_back(f);
        ui::addListItem(names, trimRight(reg::getText(record, reg::customer::kName.offset, 32)));
      } else {
        f.none = true;
        found.push_back(f);
        ui::addListItem(names, "");
      }
      ui::setListSelection(names, 0);
    }
    codeEdited = false;
  }

  void ShowDetail(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(found.size())) {
      ui::setDialogItemText(self, IDC_CAST_DETAIL, "");
      return;
    }
    const Found& f = found[static_cast<size_t>(index)];
    if (!f.none && f.code != ui::dialogItemText(self, IDC_CAST_CODE)) {
      inInit = true;
      ui::setDialogItemText(self, IDC_CAST_CODE, f.code);
      inInit = false;
      codeEdited = true;
    }
    std::string detail = f.keyword1;
    for (const std::string* k : {&f.keyword2, &f.keyword3})
      if (!k->empty()) detail += (detail.empty() ? "" : ", ") + *k;
    ui::setDialogItemText(self, IDC_CAST_DETAIL, detail);
  }

  void Take(const Found& f) {
    choice.code = f.none ? std::string() : f.code;
    choice.pointBalance = f.none ? 0 : f.balance;
    choice.pointRate = f.none ? 0 : f.rate;
  }

  void Close() {
    choice.name = cutText(ui::dialogItemText(self, IDC_CAST_NAME), 32);
    ui::endDialog(self, 1);
  }

  void OnOk() {
    HWND names = Item(IDC_CAST_NAME);
    std::string code = ui::dialogItemText(self, IDC_CAST_CODE);
    const std::string name = ui::dialogItemText(self, IDC_CAST_NAME);
    // A JAN code scanned into the name field is the customer's code.
    if (!linked) {
      bool digits = (name.size() == 8 || name.size() == 13);
      for (char c : name) digits = digits && c >= '0' && c <= '9';
      if (digits && code.empty() && BccCheck(name.c_str(), static_cast<int32_t>(name.size())) == 1) {
        code = name;
        inInit = true;
        ui::setDialogItemText(self, IDC_CAST_CODE, code);
        ui::setDialogItemText(self, IDC_CAST_NAME, "");
        inInit = false;
        codeEdited = searchPending = true;
      }
      if (!searchPending) {
        choice.code = cutText(code, 13);
        choice.pointBalance = choice.pointRate = 0;
        Close();
        return;
      }
    }
    const int32_t selected = ui::listSelection(names);
    if (!codeEdited && selected >= 0 && selected < static_cast<int32_t>(found.size()) &&
        ui::listItemText(names, selected) == name) {
      Take(found[static_cast<size_t>(selected)]);
      inInit = true;
      ui::setDialogItemText(self, IDC_CAST_CODE, choice.code);
      inInit = false;
      Close();
      return;
    }
    if (code.empty()) {
      codeEdited = false;
    } else if (codeEdited) {
      Search(code);
      codeEdited = true;
    }
    if (ui::listItemCount(names) > 1) {
      ui::setFocus(names);
      return;
    }
    if (codeEdited || !found.empty()) {
      if (found.empty() && linked) {
        searchPending = false;
        ui::setFocus(Item(IDC_CAST_CODE));
        return;
      }
      if (!found.empty()) {
        Take(found[0]);
        ui::setListSelection(names, 0);
        inInit = true;
        ui::setDialogItemText(self, IDC_CAST_CODE, choice.code);
        ui::setDialogItemText(self, IDC_CAST_NAME, ui::listItemText(names, 0));
        inInit = false;
      }
    }
    searchPending = false;
    choice.code = cutText(choice.code.empty() ? code : choice.code, 13);
    Close();
  }

  LRESULT Proc(HWND h, uint32_t m, WPARAM wp, LPARAM) {
    if (m == ui::kWmInitDialog) {
      self = h;
      inInit = true;
      HWND codeEdit = Item(IDC_CAST_CODE), names = Item(IDC_CAST_NAME);
      ui::ImeState dialogIme;
      savedImeOpen = ui::imeState(h, dialogIme) && dialogIme.open;
      // Both fields share the dialog's input method until one is focused.
      FollowFocus(codeEdit, false);
      FollowFocus(names, false);
      ui::setWindowFont(codeEdit, kFixedFace, kFixedHeight);
      ui::setWindowFont(names, kFixedFace, kFixedHeight);
      if (insert)
        ui::setWindowText(h, "取引先挿入");
      else if (!choice.code.empty() || !choice.name.empty())
        ui::setWindowText(h, "取引先変更");
      ui::setWindowText(codeEdit, choice.code);
      linked = engine && engine->OdbcState().kinds[reg::odbcmap::slotOf(reg::odbclink::kCustomers)].count != 0;
      if (linked) {
        std::string hint;
        for (uint16_t offset : {reg::odbccustomer::kKeyword1.offset, reg::odbccustomer::kKeyword2.offset,
                                reg::odbccustomer::kKeyword3.offset}) {
          const char* column = engine->GetLinkColumnName(offset, reg::odbclink::kCustomers);
          if (!column) continue;
          hint += std::string(hint.empty() ? "" : "、") + "「" + column + "」";
        }
        if (!hint.empty()) ui::setDialogItemText(h, IDC_CAST_HINT, "※" + hint + "で検索できます。");
        ui::setFocus(codeEdit);
        searchPending = true;
      } else {
        ui::setFocus(names);
      }
      Search(choice.code);
      // The given name, chosen in the list or typed into its field.
      bool chosen = false;
      for (int32_t i = 0; i < ui::listItemCount(names) && !chosen; ++i)
        if (ui::listItemText(names, i) == choice.name) chosen = ui::setListSelection(names, i);
      if (!chosen) ui::setDialogItemText(h, IDC_CAST_NAME, choice.name);
      codeEdited = false;
      inInit = false;
      return 1;
    }
    if (m != ui::kWmCommand) return 0;
    const uint32_t id = ui::lowWord(wp), code = ui::highWord(wp);
    if (id == 1) {
      OnOk();
      return 1;
    }
    if ((id == IDC_CAST_NAME && (code == ui::kCbnSetFocus || code == ui::kCbnKillFocus)) ||
        (id == IDC_CAST_CODE && codeInputMethod && (code == ui::kEnSetFocus || code == ui::kEnKillFocus))) {
      FollowFocus(Item(id), code == ui::kCbnSetFocus || code == ui::kEnSetFocus);
      return 1;
    }
    if (id == IDC_CAST_CODE && code == ui::kEnChange && !inInit) {
      if (!codeEdited) ui::setDialogItemText(self, IDC_CAST_DETAIL, "");
      codeEdited = true;
      if (!linked) searchPending = true;
      return 1;
    }
    if (id == IDC_CAST_NAME && code == ui::kCbnSelChange && !inInit) {
      const int32_t selected = ui::listSelection(Item(IDC_CAST_NAME));
      ShowDetail(selected);
      if (selected >= 0 && selected < static_cast<int32_t>(found.size())) {
        // A customer picked from the list is the choice as it stands.
        Take(found[static_cast<size_t>(selected)]);
        codeEdited = false;
        searchPending = false;
      }
      return 1;
    }
    return 0;
  }
};

// ---- 領収証発行 ----------------------------------------------------------------------

struct ProvideDialog {
  int32_t format = 0;
  bool noteOn = false;
  std::string note;
  HWND self = nullptr;

  HWND Item(int32_t id) const { return ui::dialogItem(self, id); }

  void Follow() {
    ui::enableWindow(Item(IDC_PROVIDE_NOTE_ON), format == 0);
    ui::enableWindow(Item(IDC_PROVIDE_NOTE), format == 0 && noteOn);
  }

  LRESULT Proc(HWND h, uint32_t m, WPARAM wp, LPARAM) {
    auto& profile = platform::Profile::of(platform::ProfileScope::User);
    if (m == ui::kWmInitDialog) {
      self = h;
      HWND notes = Item(IDC_PROVIDE_NOTE);
      int count = 0;
      for (int i = 1;; ++i) {
        const std::string value = profile.getString(reg::kSettingsSection, "Provide MRU" + std::to_string(i), "");
        if (value.empty()) break;
        ui::addListItem(notes, value);
        ++count;
      }
      if (count == 0) ui::addListItem(notes, "");
      ui::setDialogItemText(h, IDC_PROVIDE_NOTE, "");
      ui::checkButton(Item(IDC_PROVIDE_PLAIN), 1);
      Follow();
      return 1;
    }
    if (m != ui::kWmCommand) return 0;
    const uint32_t id = ui::lowWord(wp);
    switch (id) {
      case IDC_PROVIDE_PLAIN: format = 0; Follow(); return 1;
      case IDC_PROVIDE_DETAIL_FIRST: format = 1; Follow(); return 1;
      case IDC_PROVIDE_DETAIL_LAST: format = 2; Follow(); return 1;
      case IDC_PROVIDE_NOTE_ON:
        noteOn = ui::buttonState(Item(IDC_PROVIDE_NOTE_ON)) == 1;
        Follow();
        return 1;
      case 1: {
        HWND notes = Item(IDC_PROVIDE_NOTE);
        note = cutText(ui::dialogItemText(self, IDC_PROVIDE_NOTE), kNoteLength);
        // The most recent note first, the others after it in list order.
        if (!note.empty()) {
          std::vector<std::string> keep{note};
          for (int32_t i = 0; i < ui::listItemCount(notes) && keep.size() < kProvideNotes; ++i) {
            const std::string old = ui::listItemText(notes, i);
            if (!old.empty() && old != note) keep.push_back(old);
          }
          for (size_t i = 0; i < keep.size(); ++i)
            profile.setString(reg::kSettingsSection, "Provide MRU" + std::to_string(i + 1), keep[i]);
        }
        ui::endDialog(self, 1);
        return 1;
      }
      default:
        return 0;
    }
  }
};

}  // namespace

int32_t RunEditNameDialog(HWND owner, std::string* displayName, std::string* printName, bool offerCustomer) {
  EditNameDialog dialog;
  dialog.display = displayName ? *displayName : std::string();
  dialog.print = printName ? *printName : std::string();
  dialog.offerCustomer = offerCustomer;
  const intptr_t r = ui::dialogBox(134, owner, [&dialog](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return dialog.Proc(h, m, wp, lp);
  });
  if (r == 6) return 6;
  if (r != 1) return 0;
  if (displayName) *displayName = dialog.display;
  if (printName) *printName = dialog.print;
  return 1;
}

bool RunEditCastDialog(HWND owner, reg::CRegCom* engine, reg::CustomerChoice* choice, bool insert,
                       bool codeInputMethod) {
  if (!engine || !choice) return false;
  EditCastDialog dialog;
  dialog.engine = engine;
  dialog.choice = *choice;
  dialog.insert = insert;
  dialog.codeInputMethod = codeInputMethod;
  const intptr_t r = ui::dialogBox(135, owner, [&dialog](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return dialog.Proc(h, m, wp, lp);
  });
  if (r != 1) return false;
  *choice = dialog.choice;
  return true;
}

bool RunProvideDialog(HWND owner, int32_t* kind, std::string* note) {
  ProvideDialog dialog;
  const intptr_t r = ui::dialogBox(153, owner, [&dialog](HWND h, uint32_t m, WPARAM wp, LPARAM lp) -> LRESULT {
    return dialog.Proc(h, m, wp, lp);
  });
  if (r != 1) return false;
  if (kind) *kind = (dialog.format + 1) | (dialog.noteOn ? 0x100 : 0);
  if (note) *note = dialog.noteOn ? dialog.note : std::string();
  return true;
}

}  // namespace varnex::shell
