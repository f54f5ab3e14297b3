// The base of the programming screens built on a form (see prg_form_view.h).
#include "app/shell/modes/prg_form_view.h"

#include <algorithm>
#include <string>

#include "platform/ui/dialog.h"
#include "platform/ui/resources.h"

namespace varnex::shell {

namespace ui = platform::ui;

std::map<int32_t, HWND> CreateFormControls(HWND parent, int32_t form) {
  std::map<int32_t, HWND> made;
  const ui::DialogTemplate* tmpl = ui::findDialogTemplate(form);
  if (!tmpl) return made;
  HWND label = nullptr;
  for (const ui::ControlTemplate& c : tmpl->controls) {
    ui::ControlTemplate control = c;
    control.rect = FormToPixels(c.rect);
    HWND h = ui::createControl(parent, control);
    if (!h) continue;
    if (c.kind == ui::ControlKind::Static) {
      label = c.text.find('&') != std::string::npos ? h : nullptr;
    } else if (label && c.kind != ui::ControlKind::GroupBox) {
      ui::setLabelPartner(label, h);
      label = nullptr;
    }
    made.emplace(c.id, h);
  }
  return made;
}

HWND CProgramFormView::Control(int32_t id) const {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

void CProgramFormView::CreateControls(int32_t form, int32_t listId) {
  m_nListId = listId;
  if (m_controls.empty()) m_controls = CreateFormControls(handle(), form);
}

void CProgramFormView::StretchList() {
  HWND list = Control(m_nListId);
  if (!list) return;
  const int32_t lineHeight = 8 * kFormScaleY / 10;
  const int32_t viewHeight = std::max(clientRect().height(), 100 * 4 * kFormScaleX / 10 / 8);
  const ui::Rect r = ui::windowRect(list);
  const int32_t room = std::max(lineHeight, viewHeight - lineHeight / 4 - r.top);
  // A row cut by the bottom edge looks like one lying under the status bar.
  ui::moveWindow(list, {r.left, r.top, r.right, r.top + ui::reportHeightForWholeRows(list, room)});
}

void CProgramFormView::onSize(int32_t, int32_t) { StretchList(); }

void CProgramFormView::OnNotice(int32_t id, uint32_t code, std::function<void()> handler) {
  m_notices[{id, code}] = std::move(handler);
}

LRESULT CProgramFormView::onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == ui::kWmCommand && !m_bQuiet) {
    const int32_t id = static_cast<int32_t>(ui::lowWord(wParam));
    const uint32_t code = ui::highWord(wParam);
    auto it = m_notices.find({id, code});
    if (it == m_notices.end()) it = m_notices.find({id, kAnyCode});
    if (it != m_notices.end()) {
      auto handler = it->second;  // the handler may map others
      handler();
      return 0;
    }
    // The other notices of a control the screen listens to are its own too.
    auto first = m_notices.lower_bound({id, 0});
    if (first != m_notices.end() && first->first.first == id) return 0;
  }
  return View::onMessage(message, wParam, lParam);
}

}  // namespace varnex::shell
