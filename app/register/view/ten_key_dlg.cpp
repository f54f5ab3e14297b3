// The on-screen ten-key pad (see ten_key_dlg.h).
#include "app/register/view/ten_key_dlg.h"

#include <algorithm>
#include <map>
#include <string>

#include "app/register/print/receipt_printer.h"
#include "app/register/view/reg_view.h"
#include "platform/base/profile.h"
#include "platform/ui/dialog.h"
#include "platform/ui/input.h"

namespace varnex::reg {

namespace ui = platform::ui;

namespace {

// The pads alive, by window: a button's command finds its pad here.
std::map<HWND, CTenKeyDlg*>& pads() {
  static std::map<HWND, CTenKeyDlg*> all;
  return all;
}

// The characters a button stands for.
const char* charactersOf(int32_t id) {
  switch (id) {
    case CTenKeyDlg::kButton0: return "0";
    case CTenKeyDlg::kButton1: return "1";
    case CTenKeyDlg::kButton2: return "2";
    case CTenKeyDlg::kButton3: return "3";
    case CTenKeyDlg::kButton4: return "4";
    case CTenKeyDlg::kButton5: return "5";
    case CTenKeyDlg::kButton6: return "6";
    case CTenKeyDlg::kButton7: return "7";
    case CTenKeyDlg::kButton8: return "8";
    case CTenKeyDlg::kButton9: return "9";
    case CTenKeyDlg::kButton00: return "00";
    case CTenKeyDlg::kButtonPoint: return ".";
    case CTenKeyDlg::kButtonEscape: return "\x1b";
    case CTenKeyDlg::kButtonDivide: return "/";
    case CTenKeyDlg::kButtonMultiply: return "*";
    case CTenKeyDlg::kButtonBack: return "\x08";
    case CTenKeyDlg::kButtonMinus: return "-";
    case CTenKeyDlg::kButtonPlus: return "+";
    case CTenKeyDlg::kButtonEnter: return "\r";
    default: return nullptr;
  }
}

}  // namespace

CTenKeyDlg::CTenKeyDlg(HWND target, Kind kind, int32_t entryId, int32_t listId)
    : target_(target), kind_(kind), entryId_(entryId), listId_(listId) {}

HWND CTenKeyDlg::Create(HWND owner, HWND target, Kind kind, int32_t entryId, int32_t listId) {
  auto* pad = new CTenKeyDlg(target, kind, entryId, listId);
  HWND window = ui::createDialog(kTemplate, owner, [pad](HWND w, uint32_t m, WPARAM wp, LPARAM lp) {
    return pad->Procedure(w, m, wp, lp);
  });
  if (!window) {
    delete pad;
    return nullptr;
  }
  return window;
}

CTenKeyDlg* CTenKeyDlg::FromHandle(HWND pad) {
  auto found = pads().find(pad);
  return found == pads().end() ? nullptr : found->second;
}

LRESULT CTenKeyDlg::Procedure(HWND window, uint32_t message, WPARAM wParam, LPARAM) {
  switch (message) {
    case ui::kWmInitDialog:
      self_ = window;
      pads()[window] = this;
      OnInitDialog();
      return 1;
    case ui::kWmCommand: {
      const int32_t id = static_cast<int32_t>(wParam & 0xFFFF);
      if (const char* characters = charactersOf(id)) {
        for (const char* c = characters; *c; ++c) SendKey(*c);
        // The focus goes back to where the clerk types.
        if (kind_ != kDialog && ui::isWindow(target_)) ui::setFocus(target_);
        return 1;
      }
      // Enter and Esc of the pad's own window do not close it.
      return id == 1 || id == 2 ? 1 : 0;
    }
    case ui::kWmDestroy: {
      if (kind_ != kDialog) {
        const ui::Rect at = ui::windowRect(window);
        auto& profile = platform::Profile::of(platform::ProfileScope::User);
        profile.setInt(kSettingsSection, "Ten Key LeftPt", at.left);
        profile.setInt(kSettingsSection, "Ten Key TopPt", at.top);
      }
      pads().erase(window);
      delete this;
      return 1;
    }
    default:
      return 0;
  }
}

void CTenKeyDlg::OnInitDialog() {
  auto relabel = [this](int32_t id, const char* text) { ui::setDialogItemText(self_, id, text); };
  // Five wide characters need a smaller face than a digit to fit the key.
  ui::setWindowFont(ui::dialogItem(self_, kButtonEnter), "IPAGothic", 9);
  if (kind_ == kDialog) {
    for (int32_t id : {kButtonPoint, kButtonDivide, kButtonMultiply}) ui::enableWindow(ui::dialogItem(self_, id), false);
    relabel(kButtonMinus, "▲");
    relabel(kButtonPlus, "▼");
  } else if (kind_ == kNavigation) {
    relabel(kButtonDivide, "Ｐａｇｅ\nＵｐ");
    relabel(kButtonMultiply, "Ｐａｇｅ\nＤｏｗｎ");
    for (int32_t id : {kButtonDivide, kButtonMultiply})
      ui::setWindowFont(ui::dialogItem(self_, id), "IPAGothic", 9);
    relabel(kButtonMinus, "▲");
    relabel(kButtonPlus, "▼");
  }
}

void CTenKeyDlg::SendKey(char character) {
  if (kind_ == kDialog) KeyToDialog(character);
  else KeyToView(character);
}

void CTenKeyDlg::KeyToView(char character) {
  if (!ui::isWindow(target_) || !dynamic_cast<CRegView*>(ui::viewFromHandle(target_))) return;
  const bool navigation = kind_ == kNavigation;
  uint32_t key = 0;
  switch (character) {
    case '/': key = navigation ? ui::kVkPrior : ui::kVkDivide; break;
    case '*': key = navigation ? ui::kVkNext : ui::kVkMultiply; break;
    case '-': key = navigation ? ui::kVkUp : ui::kVkSubtract; break;
    case '+': key = navigation ? ui::kVkDown : ui::kVkAdd; break;
    case '.': key = ui::kVkDecimal; break;
    default: key = static_cast<uint8_t>(character); break;  // digits, back-space, Enter, Esc
  }
  ui::setFocus(target_);
  ui::sendMessage(target_, ui::kWmKeyDown, key, 1);
}

void CTenKeyDlg::KeyToDialog(char character) {
  if (!ui::isWindow(target_)) return;
  std::string text = ui::dialogItemText(target_, entryId_);
  HWND list = listId_ ? ui::dialogItem(target_, listId_) : nullptr;
  switch (character) {
    case '\r':
      ui::sendMessage(target_, ui::kWmCommand, 1, 0);
      return;
    case '\x1b':
      text.clear();
      break;
    case '\x08':
      if (!text.empty()) text.pop_back();
      break;
    case '-':
    case '+': {
      text.clear();
      if (list) {
        const int32_t at = ui::listSelection(list), count = ui::listItemCount(list);
        const int32_t to = character == '-' ? std::max(0, at - 1) : std::min(count - 1, at + 1);
        if (count > 0 && to != at) ui::setListSelection(list, to);
      }
      break;
    }
    default:
      text += character;
      break;
  }
  ui::setDialogItemText(target_, entryId_, text);
  HWND entry = ui::dialogItem(target_, entryId_);
  ui::setFocus(entry);
  ui::setCaretPosition(entry, static_cast<int32_t>(text.size()));
  // The dialog hears of the change as of one typed (a PIN field signs on
  // at its fourth digit).
  if (entry && ui::isWindow(target_))
    ui::sendMessage(target_, ui::kWmCommand,
                    ui::makeWParam(static_cast<uint32_t>(entryId_), ui::kEnChange), reinterpret_cast<LPARAM>(entry));
}

}  // namespace varnex::reg
