#include "app/shell/modes/menu_views.h"

#include "app/register/engine/reg_com.h"
#include "app/shell/app/reg_app.h"
#include "app/shell/modes/mode_screens.h"
#include "app/shell/modes/prg_form_view.h"
#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"
#include "platform/ui/window.h"

namespace varnex::shell {

namespace ui = platform::ui;


CMenuViewBase::CMenuViewBase(CModeScreens& screens, int32_t form, int32_t firstButton, int32_t items)
    : screens_(screens), form_(form), first_(firstButton), items_(items) {
  // The digits choose an item, the layout's cursor functions move and run it.
  mapCommandRange(kCmdMenuItemFirst, kCmdMenuItemLast, [this](uint32_t c) {
    const int32_t k = static_cast<int32_t>(c - kCmdMenuItemFirst);
    if (k < items_) Highlight(k);
  });
  mapCommand(kCmdMenuPrevious, [this](uint32_t) { Step(-1); });
  mapCommand(kCmdMenuNext, [this](uint32_t) { Step(1); });
  mapCommand(kCmdMenuRight, [this](uint32_t) { Highlight(Beside(Current(), true)); });
  mapCommand(kCmdMenuLeft, [this](uint32_t) { Highlight(Beside(Current(), false)); });
  mapCommand(kCmdMenuExecute, [this](uint32_t) { Execute(); });
  mapCommand(kCmdMenuEnter, [this](uint32_t) { Execute(); });
}

void CMenuViewBase::onInitialUpdate() {
  if (!buttons_.empty()) return;
  const ui::DialogTemplate* form = ui::findDialogTemplate(form_);
  if (!form) return;
  buttons_.assign(static_cast<size_t>(items_), nullptr);
  for (const ui::ControlTemplate& c : form->controls) {
    ui::ControlTemplate control = c;
    control.rect = FormToPixels(c.rect);
    HWND made = ui::createControl(handle(), control);
    if (c.id >= first_ && c.id < first_ + items_) buttons_[static_cast<size_t>(c.id - first_)] = made;
  }
  Start();
}

HWND CMenuViewBase::Button(int32_t k) const {
  return k >= 0 && k < static_cast<int32_t>(buttons_.size()) ? buttons_[static_cast<size_t>(k)] : nullptr;
}

HWND CMenuViewBase::FindDefaultButton() const {
  for (HWND b : buttons_)
    if (b && ui::isDefaultButton(b)) return b;
  return nullptr;
}

int32_t CMenuViewBase::Current() const {
  HWND current = FindDefaultButton();
  for (size_t i = 0; i < buttons_.size(); ++i)
    if (buttons_[i] == current && current) return static_cast<int32_t>(i);
  return -1;
}

bool CMenuViewBase::Highlight(int32_t k) {
  HWND button = Button(k);
  if (!button) return false;
  if (SkipsDisabled() && !ui::isWindowEnabled(button)) return false;
  if (HWND old = FindDefaultButton()) ui::setDefaultButton(old, false);
  ui::setFocus(button);
  ui::setDefaultButton(button, true);
  return true;
}

void CMenuViewBase::Step(int32_t delta) {
  // The tab order of the form wraps round, as the dialog manager's does.
  const int32_t n = static_cast<int32_t>(buttons_.size());
  if (n == 0) return;
  int32_t k = Current() < 0 ? 0 : Current();
  for (int32_t tries = 0; tries < n; ++tries) {
    k = (k + delta + n) % n;
    if (ui::isWindowEnabled(Button(k))) break;
  }
  Highlight(k);
}

int32_t CMenuViewBase::Beside(int32_t k, bool right) const {
  const int32_t n = static_cast<int32_t>(buttons_.size());
  return ((k < 0 ? 0 : k) + (right ? 1 : -1) + n) % n;
}

void CMenuViewBase::Execute() {
  const int32_t k = Current();
  HWND button = Button(k);
  if (!button || !ui::isWindowEnabled(button)) return;
  // As from an accelerator: the item's own command opens its mode.
  ui::postMessage(handle(), ui::kWmCommand, ui::makeWParam(static_cast<uint32_t>(first_ + k), ui::kCommandFromAccelerator),
                  0);
}

LRESULT CMenuViewBase::onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == ui::kWmCommand) {
    const int32_t id = static_cast<int32_t>(ui::lowWord(wParam));
    if (id >= first_ && id < first_ + items_) {
      HWND button = Button(id - first_);
      if (button && ui::isWindowEnabled(button)) Open(id - first_);
      return 0;
    }
  }
  return View::onMessage(message, wParam, lParam);
}

// ---- 設定 menu -------------------------------------------------------------------

CMenuView::CMenuView(CModeScreens& screens) : CMenuViewBase(screens, 102, 1020, 16) {}

void CMenuView::Start() {
  UpdateLinkedItems();
  Highlight(0);
}

void CMenuView::UpdateLinkedItems() {
  // Files served by the outside database are not edited here.
  reg::CRegCom* engine = screens_.App().m_pRegCom;
  if (!engine) return;
  const reg::OdbcLinkState& link = engine->OdbcState();
  auto linked = [&link](uint32_t kind) {
    const int slot = reg::odbcmap::slotOf(kind);
    return slot >= 0 && link.kinds[slot].count != 0;
  };
  ui::enableWindow(Button(15), !linked(4));
  ui::enableWindow(Button(3), !linked(5));
}

int32_t CMenuView::Beside(int32_t k, bool right) const {
  if (right) return k >= 0 && k < 8 ? k + 8 : CMenuViewBase::Beside(k, true);
  return k >= 8 ? k - 8 : CMenuViewBase::Beside(k, false);
}

void CMenuView::Open(int32_t k) {
  switch (k) {
    case 0: screens_.OpenModeView(101, 0); break;
    case 13: screens_.OpenModeView(114, 0); break;
    case 14: screens_.OpenProgramView(115); break;
    case 15: screens_.OpenProgramView(116); break;
    default: screens_.OpenProgramView(101 + k); break;  // 102 to 113
  }
}

// ---- 点検 and 精算 menus ---------------------------------------------------------

CXMenuView::CXMenuView(CModeScreens& screens) : CMenuViewBase(screens, 103, 1040, 8) {}
void CXMenuView::Open(int32_t k) { screens_.OpenModeView(31 + k, 0); }

CZMenuView::CZMenuView(CModeScreens& screens) : CMenuViewBase(screens, 104, 1060, 8) {}
void CZMenuView::Open(int32_t k) { screens_.OpenModeView(39 + k, 0); }

// ---- OFF -------------------------------------------------------------------------

void CBlankView::onPaint(ui::DrawContext& dc) { dc.fillRect(clientRect(), 0x000000); }

}  // namespace varnex::shell
