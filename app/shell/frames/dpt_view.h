// The department and PLU picker: departments, or the PLU items of one
// department, as a scrolling grid of picture cells from which the clerk
// picks by touch.
//
// CDptView draws and picks; it lives either in the picker frame CDptFrm (a
// window of its own that disables the main frame while it is open, and that
// in display-order mode edits the PLU items' display order by drag) or in
// the main frame's right pane (the embedded department list, whose picks go
// to the register view of the active mode frame).
//
// Picker item (80 bytes, in grid order):
//   PLU item:   the PLU record as stored: name at 0, code text at 36, the
//               attribute word at 52 (bit 0 kept as has-picture, bits 0-3
//               cleared at load), display order u16 at 54, unit price at 60
//   department: name (0-35), number as decimal text at 36, number u16 at 50,
//               keyboard key word of its key at 56, unit price at 60
//   empty item: all zero, a free display-order number (frame only)
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/draw.h"
#include "platform/ui/frame.h"
#include "platform/ui/menu.h"
#include "platform/ui/view.h"

namespace varnex::reg {
class CRegCom;
}

namespace varnex::shell {

class CREGApp;
class CDptFrm;
class CChildFrame;

class CDptView : public platform::ui::View {
 public:
  using Item = std::array<uint8_t, 80>;
  static constexpr size_t kCode = 36, kFlags = 52, kOrder = 54, kDeptNumber = 50, kKeyWord = 56, kPrice = 60;
  static constexpr uint16_t kHasPicture = 0x0001;

  CDptView(CREGApp* app, reg::CRegCom* engine, int32_t kind, bool embedded, bool displayOrder);
  void onInitialUpdate() override;

  // Reads the items again (refresh: the selection is not restored).
  void Load(bool refresh);
  void SetFrame(CDptFrm* frame) { frame_ = frame; }
  // The embedded pane's receiver: the register view of the active frame.
  void SetActiveView(std::function<HWND()> activeView) { activeView_ = std::move(activeView); }

  int32_t Kind() const { return kind_; }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const Item& ItemAt(int32_t i) const { return items_[static_cast<size_t>(i)]; }
  static bool IsEmpty(const Item& item);
  std::string CodeOf(int32_t i) const;
  int32_t Selection() const { return selection_; }
  const std::string& Entry() const { return entry_; }
  int32_t Columns() const { return columns_; }
  int32_t CellWidth() const { return cellWidth_; }
  int32_t CellHeight() const { return cellHeight_; }
  bool PictureFound() const { return pictureFound_; }
  // The client rectangle of cell i (scrolled).
  platform::ui::Rect CellRect(int32_t i) const;
  std::string PaneText(int32_t pane) const;
  // Display-order mode: the item of cell `from` moved to cell `to`, as a
  // drag does it, written back and listed again.
  void MoveItemTo(int32_t from, int32_t to) { MoveItem(from, to); }

  // The right-button menu's commands.
  enum Command : uint32_t {
    kCmdCancel = 32792, kCmdClose = 57602, kCmdBackToDepartments = 32796,
    kCmdOpenOrder = 32812, kCmdCloseOrder = 32813, kCmdChangeOrder = 32814,
  };
  // The menu built for the picker's state now, and what its choice does.
  std::vector<platform::ui::PopupItem> BuildPopupMenu() const;
  void RunCommand(uint32_t command);

 protected:
  void onPaint(platform::ui::DrawContext& dc) override;
  void onSize(int32_t width, int32_t height) override;
  bool onMouse(uint32_t message, int32_t x, int32_t y, uint32_t keys) override;
  bool onKeyDown(uint32_t virtualKey, LPARAM flags) override;
  LRESULT onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) override;
  platform::ui::Size sizeHint() const override { return {cellWidth_ * 3, cellHeight_ * 3}; }

 private:
  void LoadDepartments(bool allWhenNone);
  void LoadPlu();
  void Layout();
  void ScrollBy(int32_t pixels);
  int32_t IndexAt(int32_t x, int32_t y) const;
  void Select(int32_t index);
  void DrawCell(platform::ui::DrawContext& dc, int32_t index);
  void DrawBarcode(platform::ui::DrawContext& dc, const platform::ui::Rect& area, const std::string& code);
  void Commit(bool delivery);
  void SwitchKind(int32_t kind);
  void MoveItem(int32_t from, int32_t to);
  bool WriteOrders(int32_t first, int32_t last);
  // Display-order editing in the frame (numbers 1 to 255; empty cells are
  // free numbers and are skipped): move the selected item to a number the
  // clerk gives, open free numbers before it, or close those before it.
  void ChangeOrder();
  void OpenOrder();
  void CloseOrder();
  int32_t OrderAt(int32_t i) const;
  void SetOrderAt(int32_t i, int32_t order);
  int32_t LastOrder() const;
  bool WriteChanged(const std::vector<Item>& before);
  void Refuse();
  void ShowTexts();
  std::string ImagePath(const std::string& code) const;

  CREGApp* app_;
  reg::CRegCom* engine_;
  CDptFrm* frame_ = nullptr;
  std::function<HWND()> activeView_;
  int32_t kind_;
  bool embedded_;
  bool displayOrder_;
  bool pictureFound_ = false;
  bool entryShowsSelection_ = false;
  bool textOnly_ = false;
  bool sent_ = false;  // a pick went to the register view by message
  std::vector<Item> items_;
  std::vector<platform::ui::Image> pictures_;
  int32_t columns_ = 1, rows_ = 0;
  int32_t selection_ = -1;
  int32_t dragSource_ = -1, dropTarget_ = -1;
  std::string entry_, order_;
  int32_t pictureWidth_ = 133, pictureHeight_ = 100;
  int32_t cellWidth_ = 166, cellHeight_ = 136;
  int32_t scrollY_ = 0;
  bool captured_ = false;
};

// The picker frame. Open makes it (disabling owner), and it deletes itself
// once closed; the result reaches the target register view by message
// while it is open, or as a key when it closes.
class CDptFrm {
 public:
  // kind 0: the department list; n: the PLU items of department n.
  static CDptFrm* Open(CREGApp& app, reg::CRegCom* engine, int32_t kind, bool displayOrder, HWND target,
                       HWND owner);
  // The picker open now, or null.
  static CDptFrm* Current();

  HWND handle() const;
  CDptView* View() const { return view_; }
  HWND Target() const { return target_; }
  // The department file's frame that opened the picker in display-order
  // mode: its link to the picker is cleared when the picker goes.
  void SetOwningFrame(CChildFrame* frame) { owningFrame_ = frame; }
  CChildFrame* OwningFrame() const { return owningFrame_; }
  // Closes with the result: kind, the code or number chosen or "CLEAR", and
  // whether it was already delivered by message (then nothing follows).
  void CloseWith(int32_t kind, const std::string& result, bool sent);
  // Closes without a result (F10).
  void Close();
  // The title; the status panes follow the view's texts.
  void ShowTexts(const std::string& title);

 private:
  CDptFrm() = default;
  LRESULT WindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
  void Finish();

  CREGApp* app_ = nullptr;
  std::unique_ptr<platform::ui::Frame> frame_;
  platform::ui::WindowProc defaultProc_;
  CDptView* view_ = nullptr;
  HWND owner_ = nullptr;
  HWND target_ = nullptr;
  CChildFrame* owningFrame_ = nullptr;
  int32_t kind_ = 0;
  bool hasResult_ = false, sent_ = false;
  std::string result_;
};

}  // namespace varnex::shell
