// The menu screens of the menu modes: numbered buttons, one per programming
// file or report, with a default-button highlight that the digit keys, the
// function-key layout's cursor functions and the buttons move; Enter or the
// 小計 key runs the highlighted item. The OFF mode shows a black view.
//   CMenuView  設定 menu (mode 4, form 102): sixteen items in two columns
//   CXMenuView 点検 menu (mode 9, form 103): X readings 31-38
//   CZMenuView 精算 menu (mode 10, form 104): Z readings 39-46
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ui/view.h"

namespace varnex::shell {

class CREGApp;
class CModeScreens;

// Commands of the menu screens.
enum MenuCommand : uint32_t {
  kCmdMenuPrevious = 1150, kCmdMenuNext = 1151, kCmdMenuRight = 1152, kCmdMenuLeft = 1153,
  kCmdMenuExecute = 1162, kCmdMenuItemFirst = 1261, kCmdMenuItemLast = 1276, kCmdMenuEnter = 1280,
};

class CMenuViewBase : public platform::ui::View {
 public:
  CMenuViewBase(CModeScreens& screens, int32_t form, int32_t firstButton, int32_t items);

  // The button with the default-push-button style, or null.
  HWND FindDefaultButton() const;
  // Item k (from 0): its button, or null.
  HWND Button(int32_t k) const;
  // Index of the highlighted item, -1 none.
  int32_t Current() const;
  // Moves the highlight to item k; false when it stayed (a disabled item of
  // the setup menu).
  bool Highlight(int32_t k);
  // Runs the highlighted item as a press of its button.
  void Execute();

 protected:
  void onInitialUpdate() override;
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  platform::ui::Size sizeHint() const override { return {660, 440}; }
  // Opens item k's mode.
  virtual void Open(int32_t k) = 0;
  // The item the right (1152) and left (1153) moves go to from k.
  virtual int32_t Beside(int32_t k, bool right) const;
  virtual bool SkipsDisabled() const { return false; }
  virtual void Start() {}

  CModeScreens& screens_;

 private:
  void Step(int32_t delta);
  int32_t form_, first_, items_;
  std::vector<HWND> buttons_;
};

class CMenuView : public CMenuViewBase {
 public:
  explicit CMenuView(CModeScreens& screens);
  // Greys "４．ＰＬＵ" and "１６．取引先" while the outside database serves
  // the table, and enables them again when it no longer does.
  void UpdateLinkedItems();

 protected:
  void Open(int32_t k) override;
  int32_t Beside(int32_t k, bool right) const override;
  bool SkipsDisabled() const override { return true; }
  void Start() override;
};

class CXMenuView : public CMenuViewBase {
 public:
  explicit CXMenuView(CModeScreens& screens);

 protected:
  void Open(int32_t k) override;
  void Start() override { Highlight(7); }
};

class CZMenuView : public CMenuViewBase {
 public:
  explicit CZMenuView(CModeScreens& screens);

 protected:
  void Open(int32_t k) override;
  void Start() override { Highlight(7); }
};

// The OFF mode: all black, nothing drawn on it.
class CBlankView : public platform::ui::View {
 protected:
  void onPaint(platform::ui::DrawContext& dc) override;
};

}  // namespace varnex::shell
