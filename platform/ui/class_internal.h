// What the class level's files share inside platform/ui: painting a widget
// through a drawing context, the caret drawn over its owner, and mouse
// events turned into messages.
#pragma once

#include <QMouseEvent>
#include <QPainter>
#include <QPaintDevice>
#include <QWidget>

#include <memory>

#include "platform/ui/draw.h"
#include "platform/ui/window.h"

namespace platform::ui {
class ChildFrame;
}

namespace platform::ui::detail {

// The child frame whose window holds the widget (at any depth), or null.
ChildFrame* childFrameAbove(const QWidget* widget);
// Tells the frame that one of its views took the focus (it becomes the
// frame's active view).


struct DrawAccess {
  // A context painting on the device (a widget inside its paint event); null
  // when the painter cannot start.
  static std::unique_ptr<DrawContext> onDevice(QPaintDevice* device);
  static QPainter& painter(DrawContext& dc);
};

// Marks the paint of a window under way for its length: paintInProgress
// hands out its context and damaged rectangle meanwhile.
class PaintScope {
 public:
  PaintScope(HWND window, DrawContext& dc, const QRect& damaged);
  ~PaintScope();
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
};

// The property of a widget that draws the caret itself at the end of its own
// paint (the framework then leaves its paint events alone).
inline constexpr const char kPaintsOwnCaret[] = "platform.ui.paintsOwnCaret";

// Draws the caret over the widget when the widget owns it and it is shown
// and in its visible blink phase; called at the end of a paint.
void paintCaret(QWidget* widget, QPainter& painter);

// The message (WM_MOUSEMOVE, WM_LBUTTONDOWN ...) of a Qt mouse event, 0 for
// none, and its wParam (MK_ flags) and lParam (x | y << 16, client pixels).
uint32_t mouseMessageOf(const QMouseEvent* event, WPARAM& wParam, LPARAM& lParam, const QPoint& at);

// When a window holds the mouse capture, mouse events anywhere in the
// application go to it; true when the event was taken that way.
bool deliverToCapture(QWidget* receiver, QEvent* event);

}  // namespace platform::ui::detail
