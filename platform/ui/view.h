// Views: the class level's windows that show something and take the user's
// keys and mouse. A view lives in a child frame, in a splitter pane, in a
// docked pane or in any window; its window has a handle, and messages sent to
// that handle (WM_KEYDOWN from the main frame, say) reach the same handlers as
// real input. A view is a command target: when it is the active view of the
// active child frame, commands are offered to it first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/command.h"
#include "platform/ui/draw.h"
#include "platform/ui/window.h"

namespace platform::ui {

class ChildFrame;

struct Size {
  int32_t width = 0, height = 0;
};

class View : public CommandTarget {
 public:
  View();
  ~View() override;

  // Makes the view's window inside parent (filling it when parent lays its
  // children out: child frames, splitter panes, docked panes). The view's
  // class name is "View" unless given. Null when parent is dead.
  HWND create(HWND parent, int32_t id = 0xE900, const std::string& className = "View");
  HWND handle() const;
  // Destroys the window (the object stays; its owner deletes it).
  void destroy();

  void invalidate();
  void invalidate(const Rect& rect);
  void updateNow();
  Rect clientRect() const;
  bool setFocus();
  // The child frame the view lives in, or null.
  ChildFrame* parentFrame() const;

  // Scrolling. A view whose content is larger than its window gives the
  // content's size; a scroll bar shows on the right (at the bottom) only
  // while the content is higher (wider) than the client, and clientRect() is
  // the part beside the bars. line is what a bar's arrow moves, page what a
  // click on its track moves (0: a tenth of the client, the client). The
  // position is the content's point at the client's top-left corner; the bars
  // keep it within the content, and a move by a bar repaints the view.
  void setScrollSizes(Size total, Size line = {}, Size page = {});
  Point scrollPosition() const;
  // Scrolls so that (x, y) of the content is at the top-left (clamped).
  void scrollTo(int32_t x, int32_t y);

  // The handlers. Keys come as virtual-key codes with the Windows lParam
  // (repeat count 1, bit 30 for an auto-repeat); characters as code page 932
  // bytes, one WM_CHAR each (a double-byte character as lead then trail).
  virtual void onInitialUpdate() {}
  virtual void onPaint(DrawContext& dc) {}
  virtual void onSize(int32_t width, int32_t height) {}
  virtual bool onKeyDown(uint32_t virtualKey, LPARAM flags) { return false; }
  virtual bool onKeyUp(uint32_t virtualKey, LPARAM flags) { return false; }
  virtual bool onChar(uint8_t byte) { return false; }
  // message: WM_MOUSEMOVE, WM_LBUTTONDOWN ...; keys: MK_ flags; client pixels.
  virtual bool onMouse(uint32_t message, int32_t x, int32_t y, uint32_t keys) { return false; }
  virtual void onSetFocus() {}
  virtual void onKillFocus() {}
  virtual void onTimer(uint32_t id) {}
  // Every other message; the default answers defaultWindowProc.
  virtual LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam);
  // The size the view would like (its window in an MDI child or a pane asks).
  virtual Size sizeHint() const { return {320, 240}; }

  // The window procedure the view's handle has (for subclasses that replace
  // it and then pass messages on).
  LRESULT dispatch(uint32_t message, WPARAM wParam, LPARAM lParam);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The view behind a handle, or null.
View* viewFromHandle(HWND window);

// Two or more panes side by side (or one above the other) with movable bars
// between them; each pane holds one view.
class Splitter {
 public:
  Splitter(HWND parent, bool vertical);  // vertical: panes one above the other
  ~Splitter();
  Splitter(const Splitter&) = delete;
  Splitter& operator=(const Splitter&) = delete;

  HWND handle() const;
  // Creates the view's window as the next pane; the splitter owns the view.
  View* addPane(std::unique_ptr<View> view);
  int32_t paneCount() const;
  View* pane(int32_t index) const;
  // Pane sizes in pixels across the splitter's direction.
  bool setPaneSizes(const std::vector<int32_t>& sizes);
  std::vector<int32_t> paneSizes() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::ui
