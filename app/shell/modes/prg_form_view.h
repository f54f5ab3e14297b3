// What the programming screens built on a form template share: the close
// questions the frame asks them, the form's controls made inside the view,
// and the controls' notifications dispatched by id and code.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "platform/ui/view.h"
#include "platform/ui/window.h"

namespace varnex::shell {

// A programming screen that has changes of its own to lose: the frame asks it
// before it closes, and tells it once the close is decided (the view's
// window goes right after, without a message of its own).
class CProgramScreen {
 public:
  virtual ~CProgramScreen() = default;
  // The discard question when something is changed; false keeps it open.
  virtual bool QueryClose() = 0;
  // The screen is closing: what the program reads of it is brought up to date.
  virtual void Closing() {}
};

// Dialog units of the forms to pixels of the screen font, in tenths.
inline constexpr int32_t kFormScaleX = 16, kFormScaleY = 15;
inline platform::ui::Rect FormToPixels(const platform::ui::Rect& r) {
  return {r.left * kFormScaleX / 10, r.top * kFormScaleY / 10, r.right * kFormScaleX / 10,
          r.bottom * kFormScaleY / 10};
}

// Creates the controls of a form template inside a view's window, in
// pixels of the screen font, each label leading to the control after it.
std::map<int32_t, HWND> CreateFormControls(HWND parent, int32_t form);

// A programming screen whose controls come from a form template. A control's
// notification (WM_COMMAND) goes to the handler given for its id and code;
// none reaches a handler while m_bQuiet is set, that is while the screen
// itself is changing its controls.
class CProgramFormView : public platform::ui::View, public CProgramScreen {
 public:
  HWND Control(int32_t id) const;

 protected:
  // Any notification of the control (a button's click).
  static constexpr uint32_t kAnyCode = 0xFFFFFFFFu;
  // Makes the controls of the form, once; listId: the list that WM_SIZE
  // stretches down the view.
  void CreateControls(int32_t form, int32_t listId);
  // The list keeps its left, top and width and reaches down to a quarter of a
  // line above the bottom of the view (taken as at least 100 dialog units of
  // width / 8 high), showing whole rows only. Run again when its rows change.
  void StretchList();
  void onSize(int32_t width, int32_t height) override;
  void OnNotice(int32_t id, uint32_t code, std::function<void()> handler);
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;

  std::map<int32_t, HWND> m_controls;
  bool m_bQuiet = false;

 private:
  std::map<std::pair<int32_t, uint32_t>, std::function<void()>> m_notices;
  int32_t m_nListId = 0;
};

}  // namespace varnex::shell
