// The totals pane: item count and subtotal in a framed bar, the register
// screen's message in a box under it.
#include "app/shell/frames/bottom_view.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/register/engine/records.h"
#include "app/register/engine/reg_com.h"
#include "app/register/print/receipt_printer.h"
#include "platform/base/profile.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"
#include "zemta/scan.h"

namespace varnex::shell {

using platform::ui::DrawContext;
using platform::ui::Rect;

namespace {

const char kFace[] = "ＭＳ ゴシック";
const char kItemsLabel[] = "買上点数";
const char kSubtotalLabel[] = "小計";
constexpr uint32_t kFigureStyle = 22;  // commas, full width, left-justified
constexpr uint32_t kBlack = 0x000000;
constexpr int32_t kLeastPaneHeight = 100;

// A line of the message cut at its first two spaces: the left part, and the
// right part without its leading blanks (all of the line when it has no two
// spaces).
void cutLine(const std::string& text, std::string& left, std::string& right) {
  const size_t at = text.find("  ");
  if (at == std::string::npos) {
    left.clear();
    right = text;
    return;
  }
  left = text.substr(0, at);
  size_t from = at;
  while (from < text.size() && text[from] == ' ') ++from;
  right = text.substr(from);
}

int32_t textTop(const Rect& band, int32_t fontHeight) { return band.top + (band.height() - fontHeight) / 2; }

}  // namespace

CBottomView::Layout CBottomView::Measure(const Rect& client, const std::string& message) {
  Layout g;
  const int32_t r = client.right, b = client.bottom;
  g.unit = (client.right - client.left - 40) / 70;
  g.labelFont = 2 * g.unit;
  g.numberFont = (20 * g.unit) / 6;
  const int32_t h = g.numberFont;
  g.barBottom = h + 12;

  const size_t lf = message.find('\n');
  g.twoLines = lf != std::string::npos;
  cutLine(g.twoLines ? message.substr(0, lf) : std::string(), g.left1, g.right1);
  cutLine(g.twoLines ? message.substr(lf + 1) : message, g.left2, g.right2);
  const size_t n1 = g.left1.size() + g.right1.size();
  const size_t n2 = g.left2.size() + g.right2.size();
  size_t n = n2 > n1 ? n2 + (g.left2.empty() ? 0 : 4) : n1 + (g.left1.empty() ? 0 : 4);
  g.columns = static_cast<int32_t>(std::max<size_t>(n, 32));
  g.columnWidth = (r - 16) / g.columns;

  g.hasMessageBox = h + 16 < b - 4;
  if (!g.hasMessageBox) return g;
  g.messageBox = {4, h + 16, r - 4, b - 4};
  const int32_t boxHeight = g.messageBox.height();
  const int32_t c2 = 2 * g.columnWidth;
  if (g.twoLines) {
    const int32_t split = g.messageBox.top + boxHeight / 3;
    g.font1 = std::min(c2, (boxHeight - 8) / 3);
    g.font2 = std::min(c2, (2 * boxHeight - 16) / 3);
    g.band1 = {8, g.messageBox.top + 4, r - 8, split - 4};
    g.band2 = {8, split + 4, r - 8, g.messageBox.bottom - 4};
  } else {
    g.font2 = std::min(c2, boxHeight - 8);
    g.band2 = {8, g.messageBox.top + 4, r - 8, g.messageBox.bottom - 4};
  }
  return g;
}

int32_t CBottomView::RoundSubtotal(int32_t subtotal, uint32_t roundingField) {
  if (roundingField == 1) return subtotal - subtotal % 5;
  if (roundingField == 2) return subtotal - subtotal % 10;
  return subtotal;
}

std::string CBottomView::FormatFigure(int32_t value, uint32_t width) {
  std::vector<char> field(width + 1, 0);
  std::snprintf(field.data(), field.size(), "%*d", static_cast<int>(width), value);
  std::vector<char> copy = field;
  // Full-width digits take two bytes each: a large figure goes half width
  // rather than turning into stars.
  if (StrCnvf(kFigureStyle, width, field.data()) != 0) {
    field = copy;
    StrCnvf(kFigureStyle & ~STRCNVF_FULLWIDTH, width, field.data());
  }
  return std::string(field.data(), strnlen(field.data(), width));
}

CBottomView::CBottomView() = default;

CBottomView::~CBottomView() = default;

void CBottomView::OnDraw(DrawContext& dc) {
  const Rect client = clientRect();
  const Layout g = Measure(client, m_strMessage);
  const int32_t u = g.unit, h = g.numberFont, r = client.right;
  const Rect band{0, 8, r, h + 8};
  dc.setPen(kBlack);
  dc.setNoBrush();
  dc.setTextColour(kBlack);

  // The bar.
  dc.rectangle({4, 4, r - 4, g.barBottom});
  dc.setFont(kFace, g.labelFont, 400);
  auto centred = [&](const std::string& text, int32_t from, int32_t to) {
    dc.textOut(from + (to - from - dc.textWidth(text)) / 2, textTop(band, g.labelFont), text);
  };
  centred(kItemsLabel, 8, 10 * u + 8);
  const int32_t countLeft = 10 * u + 12;
  dc.line(countLeft, 4, countLeft, g.barBottom);
  const std::string count = FormatFigure(m_nItemCount, 12);
  const int32_t countRight = countLeft + 12 * u;
  dc.textOut(countRight - 4 - dc.textWidth(count), textTop(band, g.labelFont), count);
  dc.line(countRight - 1, 4, countRight - 1, g.barBottom);
  dc.line(countRight + 1, 4, countRight + 1, g.barBottom);
  centred(kSubtotalLabel, countRight, countRight + 8 * u);
  dc.line(countRight + 8 * u, 4, countRight + 8 * u, g.barBottom);

  uint32_t rounding = 0;
  if (m_pRegCom && m_pRegCom->IsOpen())
    rounding = reg::getBits(m_pRegCom->Settings(), reg::settings::kUnitRounding);
  const std::string subtotal = FormatFigure(RoundSubtotal(m_nSubtotal, rounding), 24);
  dc.setFont(kFace, g.numberFont, 700);
  dc.textOut(r - 8 - dc.textWidth(subtotal), textTop(band, g.numberFont), subtotal);

  // The message box.
  if (!g.hasMessageBox) return;
  dc.rectangle(g.messageBox);
  auto drawLine = [&](const std::string& left, const std::string& right, int32_t font, const Rect& where) {
    if (font <= 0 || (left.empty() && right.empty())) return;
    dc.setFont(kFace, font, 400);
    if (!left.empty()) dc.textOut(where.left, textTop(where, font), left);
    if (!right.empty()) dc.textOut(where.right - dc.textWidth(right), textTop(where, font), right);
  };
  if (g.twoLines) drawLine(g.left1, g.right1, g.font1, g.band1);
  drawLine(g.left2, g.right2, g.font2, g.band2);
}

void CBottomView::onSize(int32_t, int32_t) {
  // The pane covers the whole client area of its parent, unless a splitter
  // lays it out as one of its panes.
  HWND self = handle();
  HWND parent = self ? platform::ui::parentWindow(self) : nullptr;
  if (!parent || platform::ui::windowClassName(parent) == "Splitter") return;
  const Rect area = platform::ui::clientRect(parent);
  const Rect now = platform::ui::windowRect(self);
  if (now.left != area.left || now.top != area.top || now.width() != area.width() || now.height() != area.height())
    platform::ui::moveWindow(self, area);
}

LRESULT CBottomView::onMessage(uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == platform::ui::kWmDestroy) OnDestroy();
  return View::onMessage(message, wParam, lParam);
}

void CBottomView::OnDestroy() {
  HWND self = handle();
  HWND parent = self ? platform::ui::parentWindow(self) : nullptr;
  if (!parent) return;
  const int32_t height = std::max(platform::ui::windowRect(parent).height(), kLeastPaneHeight);
  platform::Profile::of(platform::ProfileScope::User).setInt(reg::kSettingsSection, kHeightKey, height);
}

}  // namespace varnex::shell
