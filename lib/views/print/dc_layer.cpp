// The drawing layer: a page device's resolution, printable area and margins,
// lengths in 0.01 mm, a grid of form-unit stops for text cells and ruled
// lines, boxes, text, plot markers, pictures and a chart of up to eight data
// series. Coordinates are the device's dots from the printable area's corner.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lib/core/report.h"
#include "zemta/scan.h"
#include "lib/views/print/print_internal.h"
#include "zemta/winhelp.h"

static_assert(offsetof(DCProfileData, background) == 260 && offsetof(DCProfileData, pointCount) == 296 &&
                  offsetof(DCProfileData, xCaption) == 1324 && offsetof(DCProfileData, values) == 1392,
              "the chart record's layout");

struct ZemtaDC {
  zemta::print::Device* target = nullptr;
  zemta::print::Device* reference = nullptr;
  int32_t dpiX = 96, dpiY = 96, offsetX = 0, offsetY = 0, printableRight = 0, printableBottom = 0;
  int32_t originX = 0, originY = 0, limitX = 0, limitY = 0;
  int32_t horzRes = 0, vertRes = 0;
  uint32_t textColour = 0, background = 0xFFFFFF, shadow = 0x808080, light = 0xC0C0C0;
  int32_t lineStyle = 0, lineWidth = 1;
  uint32_t lineColour = 0;
  int32_t fontHeight = 0, fontWidth = 0, fontWeight = 500, italic = 0, underline = 0;
  std::string face = "ＭＳ 明朝";
  uint32_t textFormat = 0;
  std::vector<int32_t> hStops, vStops;

  platform::ui::DrawContext* context() const { return target ? target->context() : nullptr; }
  // Puts the layer's pen, brush, font and text colour on the surface.
  platform::ui::DrawContext* ready() const {
    platform::ui::DrawContext* dc = context();
    if (!dc) return nullptr;
    dc->setUnits(platform::ui::DrawUnits::Device);
    dc->setPenStyle(lineColour, lineWidth, lineStyle);
    dc->setBrush(background);
    dc->setTextColour(textColour);
    const int32_t height = fontHeight != 0 ? std::abs(fontHeight) : std::max(1, dpiY / 6);
    dc->setFontCell(face, height, std::abs(fontWidth), fontWeight, italic != 0, underline != 0);
    return dc;
  }
};

namespace {

using platform::ui::Rect;

Rect rectOf(const DCRect& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

uint32_t scaleColour(uint32_t c, int num, int den) {
  auto part = [&](int shift) { return static_cast<uint32_t>(((c >> shift) & 0xFF) * num / den) << shift; };
  return part(0) | part(8) | part(16);
}

void setStops(std::vector<int32_t>& stops, int32_t count, const int32_t* values) {
  stops.clear();
  if (count <= 0 || !values) return;
  stops.assign(values, values + count);
}

void drawBox(ZemtaDC& d, const DCRect& r, uint32_t flags) {
  platform::ui::DrawContext* dc = d.ready();
  if (!dc) return;
  if (flags & 0x1) {
    if (flags & 0x10000) {
      const int32_t shift = std::min(std::abs(r.right - r.left), std::abs(r.bottom - r.top)) / 10;
      dc->fillRect(Rect{r.left + shift, r.top + shift, r.right + shift, r.bottom + shift}, d.shadow);
    }
    dc->rectangle(rectOf(r));
  } else if (flags & 0x2) {
    dc->fillRect(rectOf(r), d.background);
  }
}

void drawTextIn(ZemtaDC& d, const std::string& text, const DCRect& r, uint32_t format) {
  platform::ui::DrawContext* dc = d.ready();
  if (!dc || text.empty()) return;
  dc->drawText(rectOf(r), text, (format | d.textFormat) & 0x3F);
}

void drawText(ZemtaDC& d, const char* text, const DCRect& rect, uint32_t format, uint32_t boxFlags,
              uint32_t second) {
  drawBox(d, rect, boxFlags);
  if (!text) return;
  std::string copy(text, strnlen(text, 4096));
  DCRect r = rect;
  if (boxFlags & 0x1) {
    r.left += d.dpiX / 60;
    r.right -= d.dpiX / 60;
    r.top += d.dpiY / 60;
    r.bottom -= d.dpiY / 60;
  }
  const size_t feed = copy.find('\n');
  if (second && feed != std::string::npos) {
    const int32_t middle = r.top + (r.bottom - r.top) / 2;
    std::string upper = copy.substr(0, feed);
    if (!upper.empty() && upper.back() == '\r') upper.pop_back();
    drawTextIn(d, upper, DCRect{r.left, r.top, r.right, middle}, format);
    drawTextIn(d, copy.substr(feed + 1), DCRect{r.left, middle, r.right, r.bottom}, second);
  } else {
    drawTextIn(d, copy, r, format);
  }
}

void symbol(platform::ui::DrawContext& dc, int32_t x, int32_t y, int32_t c, int32_t type) {
  const int32_t h = static_cast<int32_t>(std::lround(c / std::sqrt(2.0)));
  switch (type) {
    case 0: dc.polygon({{x, y - c}, {x + c, y}, {x, y + c}, {x - c, y}}); break;
    case 1: dc.polygon({{x - h, y - h}, {x + h, y - h}, {x + h, y + h}, {x - h, y + h}}); break;
    case 2: {
      const int32_t w = static_cast<int32_t>(std::lround(c * std::sqrt(3.0) / 2));
      dc.polygon({{x, y - c}, {x + w, y + c / 2}, {x - w, y + c / 2}});
      break;
    }
    case 3:
      dc.line(x - h, y - h, x + h, y + h);
      dc.line(x - h, y + h, x + h, y - h);
      break;
    default: break;
  }
}

std::string numberLabel(double v, int32_t width) {
  char raw[64];
  std::snprintf(raw, sizeof raw, "%ld", static_cast<long>(std::lround(v)));
  char field[64];
  std::memset(field, 0, sizeof field);
  std::snprintf(field, sizeof field, "%s", raw);
  const int32_t size = std::clamp(width, 2, 40);
  if (StrCnvf(18, size, field) != 0 || field[0] == 0) return std::string(static_cast<size_t>(size - 1), '*');
  std::string text(field);
  const size_t start = text.find_first_not_of(' ');
  return start == std::string::npos ? text : text.substr(start);
}

}  // namespace

// ---- exports -----------------------------------------------------------------

using zemta::print::deviceOf;

ZEMTA_API DCHandle DCCreate(HDC target, HDC reference, const int32_t* margins) {
  auto* d = new (std::nothrow) ZemtaDC;
  if (!d) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return nullptr;
  }
  d->target = deviceOf(target);
  d->reference = reference ? deviceOf(reference) : d->target;
  if (d->reference) {
    const platform::ui::PageCaps& c = d->reference->caps;
    d->dpiX = c.dotsPerInchX > 0 ? c.dotsPerInchX : 96;
    d->dpiY = c.dotsPerInchY > 0 ? c.dotsPerInchY : 96;
    d->offsetX = c.offsetX;
    d->offsetY = c.offsetY;
    d->horzRes = c.printableWidth;
    d->vertRes = c.printableHeight;
  }
  d->printableRight = d->offsetX + d->horzRes;
  d->printableBottom = d->offsetY + d->vertRes;
  d->limitX = d->horzRes;
  d->limitY = d->vertRes;
  if (margins) {
    d->originX = std::max(0, margins[0] * d->dpiX / 2540 - d->offsetX);
    d->originY = std::max(0, margins[1] * d->dpiY / 2540 - d->offsetY);
    d->limitX = d->horzRes - std::max(0, margins[2] * d->dpiX / 2540 - d->offsetX);
    d->limitY = d->vertRes - std::max(0, margins[3] * d->dpiY / 2540 - d->offsetY);
  }
  return d;
}

ZEMTA_API void DCDelete(DCHandle dc) { delete dc; }

ZEMTA_API void DCGetDPI(DCHandle dc, int32_t* xy) {
  if (dc && xy) xy[0] = dc->dpiX, xy[1] = dc->dpiY;
}
ZEMTA_API void DCGetOrigin(DCHandle dc, int32_t* xy) {
  if (dc && xy) xy[0] = dc->originX, xy[1] = dc->originY;
}
ZEMTA_API void DCGetPageSize(DCHandle dc, int32_t* wh) {
  if (dc && wh) wh[0] = dc->limitX - dc->originX, wh[1] = dc->limitY - dc->originY;
}

ZEMTA_API int32_t DCMMtoP(DCHandle dc, int32_t* point) {
  if (!dc || !point) return 0;
  point[0] = static_cast<int32_t>(int64_t{point[0]} * dc->dpiX / 2540) - dc->offsetX;
  point[1] = static_cast<int32_t>(int64_t{point[1]} * dc->dpiY / 2540) - dc->offsetY;
  return point[0] >= 0 && point[0] < dc->horzRes && point[1] >= 0 && point[1] < dc->vertRes ? 1 : 0;
}

ZEMTA_API void DCMMtoS(DCHandle dc, int32_t* size) {
  if (!dc || !size) return;
  size[0] = static_cast<int32_t>(int64_t{size[0]} * dc->dpiX / 2540);
  size[1] = static_cast<int32_t>(int64_t{size[1]} * dc->dpiY / 2540);
}

ZEMTA_API void DCSetHFU(DCHandle dc, int32_t count, ...) {
  if (!dc) return;
  std::vector<int32_t> v;
  va_list args;
  va_start(args, count);
  for (int32_t i = 0; i < count; ++i) v.push_back(va_arg(args, int32_t));
  va_end(args);
  setStops(dc->hStops, count, v.data());
}
ZEMTA_API void DCSetVFU(DCHandle dc, int32_t count, ...) {
  if (!dc) return;
  std::vector<int32_t> v;
  va_list args;
  va_start(args, count);
  for (int32_t i = 0; i < count; ++i) v.push_back(va_arg(args, int32_t));
  va_end(args);
  setStops(dc->vStops, count, v.data());
}
ZEMTA_API void DCSetHFUList(DCHandle dc, int32_t count, const int32_t* stops) {
  if (dc) setStops(dc->hStops, count, stops);
}
ZEMTA_API void DCSetVFUList(DCHandle dc, int32_t count, const int32_t* stops) {
  if (dc) setStops(dc->vStops, count, stops);
}

ZEMTA_API void DCSetTextColor(DCHandle dc, uint32_t colour) {
  if (dc) dc->textColour = colour;
}
ZEMTA_API void DCSetBkColor(DCHandle dc, uint32_t colour) {
  if (dc) dc->background = colour;
}
ZEMTA_API void DCSetShadowColor(DCHandle dc, uint32_t colour) {
  if (dc) dc->shadow = colour;
}
ZEMTA_API void DCSetLineStyle(DCHandle dc, int32_t style, int32_t width, uint32_t colour) {
  if (!dc) return;
  dc->lineStyle = style;
  dc->lineWidth = width;
  dc->lineColour = colour;
}

ZEMTA_API int32_t DCSetFont(DCHandle dc, int32_t height, int32_t width, int32_t weight, int32_t italic,
                            int32_t underline, const char* face) {
  if (!dc) return 0;
  const std::string name = face ? face : dc->face;
  if (height == dc->fontHeight && width == dc->fontWidth && weight == dc->fontWeight && italic == dc->italic &&
      underline == dc->underline && name == dc->face)
    return 0;
  dc->fontHeight = height;
  dc->fontWidth = width;
  dc->fontWeight = weight;
  dc->italic = italic;
  dc->underline = underline;
  dc->face = name;
  return 1;
}

ZEMTA_API void DCSetTextFormat(DCHandle dc, uint32_t format) {
  if (dc) dc->textFormat = format;
}

ZEMTA_API void DCDrawBox(DCHandle dc, const DCRect* rect, uint32_t flags) {
  if (dc && rect) drawBox(*dc, *rect, flags);
}

ZEMTA_API void DCDrawText(DCHandle dc, const char* text, const DCRect* rect, uint32_t format, uint32_t boxFlags,
                          uint32_t secondFormat) {
  if (dc && rect) drawText(*dc, text, *rect, format, boxFlags, secondFormat);
}

ZEMTA_API int32_t DCDrawTextFU(DCHandle dc, const char* text, const int32_t* cell, uint32_t format,
                               uint32_t boxFlags, uint32_t secondFormat) {
  if (!dc) return 0;
  const auto& h = dc->hStops;
  const auto& v = dc->vStops;
  DCRect r;
  if (cell) {
    const int32_t c = cell[0], row = cell[1];
    if (c < 0 || row < 0 || c + 1 >= static_cast<int32_t>(h.size()) || row + 1 >= static_cast<int32_t>(v.size()))
      return 0;
    r = DCRect{h[c], v[row], h[c + 1], v[row + 1]};
  } else {
    if (h.size() < 2 || v.size() < 2) return 0;
    r = DCRect{h.front(), v.front(), h.back(), v.back()};
  }
  drawText(*dc, text, r, format, boxFlags, secondFormat);
  return 1;
}

ZEMTA_API void DCDrawLineFU(DCHandle dc, const int32_t* range, uint32_t flags) {
  if (!dc) return;
  const auto& h = dc->hStops;
  const auto& v = dc->vStops;
  int32_t c0, r0, c1, r1;
  if (range) {
    c0 = range[0], r0 = range[1], c1 = range[2], r1 = range[3];
  } else {
    c0 = 0, r0 = 0, c1 = static_cast<int32_t>(h.size()) - 1, r1 = static_cast<int32_t>(v.size()) - 1;
  }
  if (c0 < 0 || r0 < 0 || c0 >= c1 || r0 >= r1 || c1 >= static_cast<int32_t>(h.size()) ||
      r1 >= static_cast<int32_t>(v.size()))
    return;
  platform::ui::DrawContext* p = dc->ready();
  if (!p) return;
  const int32_t x0 = h[c0], x1 = h[c1], y0 = v[r0], y1 = v[r1];
  if (flags & 0x1) p->line(x0, y0, x0, y1 + 1);
  if (flags & 0x2) p->line(x0, y0, x1 + 1, y0);
  if (flags & 0x4) p->line(x1, y0, x1, y1 + 1);
  if (flags & 0x8) p->line(x0, y1, x1 + 1, y1);
  if (flags & 0x10)
    for (int32_t c = c0 + 1; c < c1; ++c) p->line(h[c], y0, h[c], y1 + 1);
  if (flags & 0x20)
    for (int32_t r = r0 + 1; r < r1; ++r) p->line(x0, v[r], x1 + 1, v[r]);
}

ZEMTA_API void DCMakeScale(double* value, int32_t* steps) {
  if (!value) return;
  const double v = *value;
  if (v == 0 || !std::isfinite(v)) {
    *value = 1;
    if (steps) *steps = 1;
    return;
  }
  const double magnitude = std::fabs(v);
  double step = std::pow(10.0, std::floor(std::log10(magnitude)));
  auto count = [&](double s) { return static_cast<int32_t>(std::ceil(magnitude / s - 1e-9)); };
  int32_t n = count(step);
  // The steps run 1, 0.5, 0.2, 0.1, 0.05, ... times the power of ten.
  for (int shrink = 0; n < 6; ++shrink) {
    step *= (shrink % 3 == 1) ? 0.4 : 0.5;
    if (step <= 0) {
      step = 1;
      break;
    }
    n = count(step);
  }
  // Ten to a negative power is not exact in binary: 0.049999... is 0.05.
  const double exact = std::pow(10.0, std::floor(std::log10(step)) - 1);
  step = std::round(step / exact) * exact;
  n = count(step);
  *value = (v < 0 ? -1 : 1) * n * step;
  if (steps) *steps = n;
}

ZEMTA_API void DCDrawSymbol(DCHandle dc, int32_t x, int32_t y, int32_t size, int32_t type) {
  if (!dc) return;
  if (platform::ui::DrawContext* p = dc->ready()) {
    p->setBrush(dc->lineColour);
    symbol(*p, x, y, size, type);
  }
}

ZEMTA_API void DCDrawProfile(DCHandle dc, uint32_t typeFlags, const DCRect* rect, const DCProfileData* data) {
  if (!dc || !rect || !data) return;
  platform::ui::DrawContext* p = dc->ready();
  if (!p) return;
  const int32_t type = static_cast<int32_t>(typeFlags & 0xFFFF);
  const bool depth = (typeFlags & 0x10000) != 0;
  const int32_t series = std::clamp(data->seriesCount, 1, 8), points = std::clamp(data->pointCount, 0, 32);
  drawBox(*dc, *rect, 0x1);
  const int32_t textHeight = dc->fontHeight != 0 ? std::abs(dc->fontHeight) : std::max(1, dc->dpiY / 6);
  const int32_t boxSide = textHeight * 2 / 3;

  auto legend = [&](int32_t right, int32_t bottom, bool boxes, bool reverse) {
    const int32_t rowH = textHeight + textHeight / 4;
    const int32_t width = textHeight * 8, height = rowH * series + textHeight / 2;
    const DCRect box{right - width - textHeight / 2, bottom - height - textHeight / 2, right - textHeight / 2,
                     bottom - textHeight / 2};
    p->setBrush(0xFFFFFF);
    p->setPen(0);
    p->rectangle(rectOf(box));
    for (int32_t i = 0; i < series; ++i) {
      const int32_t s = reverse ? series - 1 - i : i;
      const int32_t y = box.top + textHeight / 4 + i * rowH;
      const uint32_t colour = data->seriesColours[s];
      p->setBrush(colour);
      p->setPen(colour);
      if (boxes) {
        p->rectangle(Rect{box.left + textHeight / 4, y + rowH / 4, box.left + textHeight / 4 + boxSide,
                          y + rowH / 4 + boxSide});
      } else {
        p->line(box.left + textHeight / 4, y + rowH / 2, box.left + textHeight * 5 / 4, y + rowH / 2);
        symbol(*p, box.left + textHeight * 3 / 4, y + rowH / 2, textHeight / 3, s);
      }
      p->setTextColour(dc->textColour);
      p->drawText(Rect{box.left + textHeight * 3 / 2, y, box.right, y + rowH},
                  std::string(data->seriesNames[s], strnlen(data->seriesNames[s], 32)), 0x24);
    }
  };

  if (type == 3) {  // pie
    std::vector<double> sums(series, 0.0);
    double total = 0;
    for (int32_t s = 0; s < series; ++s) {
      for (int32_t i = 0; i < points; ++i) sums[s] += data->values[s][i];
      total += sums[s];
    }
    if (total <= 0) return;
    const int32_t w = rect->right - rect->left, h = rect->bottom - rect->top;
    const int32_t radius = std::min(w, h) / 2 * 7 / 8;
    const int32_t cx = rect->left + w / 2, cy = rect->top + h / 2;
    double start = 0;
    const double firstHalf = -360.0 * sums[0] / total / 2;
    for (int32_t s = 0; s < series; ++s) {
      const double span = -360.0 * sums[s] / total;
      if (sums[s] != 0) {
        int32_t x = cx, y = cy;
        if (s == series - 1) {
          const double pull = (std::min(w, h) / 2 - radius) * 0.7;
          const double angle = firstHalf * M_PI / 180.0;
          x += static_cast<int32_t>(std::lround(std::cos(angle) * pull));
          y -= static_cast<int32_t>(std::lround(std::sin(angle) * pull));
        }
        p->setBrush(data->seriesColours[s]);
        p->setPen(0);
        p->pie(Rect{x - radius, y - radius, x + radius, y + radius}, start, span);
      }
      start += span;
    }
    legend(rect->right, rect->bottom, true, true);
    return;
  }

  // The axis: the largest value (of a point's sums when stacked), made a nice maximum.
  double largest = 0;
  for (int32_t i = 0; i < points; ++i) {
    double sum = 0;
    for (int32_t s = 0; s < series; ++s) {
      if (type == 1)
        sum += data->values[s][i];
      else
        largest = std::max(largest, data->values[s][i]);
    }
    if (type == 1) largest = std::max(largest, sum);
  }
  double maximum = largest < 0 ? std::floor(largest) : std::ceil(largest);
  int32_t steps = 1;
  DCMakeScale(&maximum, &steps);
  steps = std::max(1, steps);

  const int32_t labelWidth = textHeight * 4;
  DCRect plot{rect->left + labelWidth, rect->top + textHeight * 2, rect->right - textHeight * 3,
              rect->bottom - textHeight * 2};
  const int32_t slots = std::max(1, points);
  int32_t pointWidth = (plot.right - plot.left) / slots;
  int32_t dx = 0, dy = 0;
  if (depth) {
    pointWidth = (plot.right - plot.left) * 5 / (slots * 5 + 2);
    dx = pointWidth * 2 / 5;
    dy = pointWidth / 3;
  }
  const int32_t bottom = plot.bottom, top = plot.top + dy, height = std::max(1, bottom - top);
  auto yOf = [&](double value) { return bottom - static_cast<int32_t>(std::lround(value / maximum * height)); };

  if (depth) {
    p->setPen(0x808080);
    p->setBrush(dc->shadow);
    p->polygon({{plot.left + dx, top - dy}, {plot.left + dx + pointWidth * slots, top - dy},
                {plot.left + dx + pointWidth * slots, bottom - dy}, {plot.left + dx, bottom - dy}});
    p->setBrush(dc->light);
    p->polygon({{plot.left, bottom}, {plot.left + pointWidth * slots, bottom},
                {plot.left + pointWidth * slots + dx, bottom - dy}, {plot.left + dx, bottom - dy}});
    p->polygon({{plot.left, top}, {plot.left + dx, top - dy}, {plot.left + dx, bottom - dy}, {plot.left, bottom}});
  } else {
    p->fillRect(Rect{plot.left, top, plot.left + pointWidth * slots, bottom}, data->background);
  }
  // Grid lines and their labels; the captions.
  p->setPenStyle(0x808080, 1, 2);
  p->setTextColour(dc->textColour);
  for (int32_t i = 0; i <= steps; ++i) {
    const double value = maximum * i / steps;
    const int32_t y = yOf(value);
    p->line(plot.left + dx, y - dy, plot.left + dx + pointWidth * slots, y - dy);
    p->drawText(Rect{rect->left, y - textHeight / 2, plot.left - textHeight / 4, y + textHeight / 2},
                numberLabel(value, 12), 0x22);
  }
  p->drawText(Rect{rect->left, rect->top + textHeight / 4, rect->right, rect->top + textHeight * 3 / 2},
              std::string(data->yCaption, strnlen(data->yCaption, 32)), 0x20);
  p->drawText(Rect{plot.left + pointWidth * slots + dx, bottom - textHeight / 2, rect->right, bottom + textHeight},
              std::string(data->xCaption, strnlen(data->xCaption, 32)), 0x20);
  const uint32_t axis = ZemtaChangeContrast(data->seriesColours[0], 100);
  p->setPen(axis);
  p->line(plot.left, top, plot.left, bottom);
  p->line(plot.left, bottom, plot.left + pointWidth * slots, bottom);

  std::vector<double> stacked(static_cast<size_t>(points), 0.0);
  for (int32_t i = 0; i < points; ++i) {
    const int32_t x = plot.left + i * pointWidth;
    p->setPen(axis);
    p->line(x + pointWidth, bottom, x + pointWidth, bottom + textHeight / 4);
    p->drawText(Rect{x, bottom + textHeight / 4, x + pointWidth, bottom + textHeight * 3 / 2},
                std::string(data->pointLabels[i], strnlen(data->pointLabels[i], 32)), 0x21);
  }
  for (int32_t s = 0; s < series; ++s) {
    const uint32_t colour = data->seriesColours[s];
    const uint32_t side = scaleColour(colour, 2, 5);
    const uint32_t topFace = scaleColour(data->seriesColours[series - 1], 7, 10);
    for (int32_t i = 0; i < points; ++i) {
      const double value = data->values[s][i];
      const int32_t x = plot.left + i * pointWidth;
      if (type == 1) {
        const int32_t barLeft = x + pointWidth * (depth ? 1 : 15) / 50, barRight = barLeft + pointWidth * 2 / 5;
        const int32_t y0 = yOf(stacked[i]), y1 = yOf(stacked[i] + value);
        stacked[i] += value;
        p->setPen(colour);
        p->setBrush(colour);
        p->rectangle(Rect{barLeft, y1, barRight, y0});
        if (depth) {
          p->setBrush(side);
          p->polygon({{barRight, y1}, {barRight + dx, y1 - dy}, {barRight + dx, y0 - dy}, {barRight, y0}});
          if (s == series - 1) {
            p->setBrush(topFace);
            p->polygon({{barLeft, y1}, {barLeft + dx, y1 - dy}, {barRight + dx, y1 - dy}, {barRight, y1}});
          }
        }
      } else if (i > 0) {
        const int32_t xPrev = x - pointWidth + pointWidth / 2, xNow = x + pointWidth / 2;
        const int32_t yPrev = yOf(data->values[s][i - 1]), yNow = yOf(value);
        if (depth) {
          p->setPen(colour);
          p->setBrush(side);
          p->polygon({{xPrev, yPrev}, {xNow, yNow}, {xNow + dx, yNow - dy}, {xPrev + dx, yPrev - dy}});
        } else {
          p->setPenStyle(colour, dc->lineWidth, dc->lineStyle);
          p->line(xPrev, yPrev, xNow, yNow);
        }
      }
      if (type != 1 && !depth) {
        p->setPen(colour);
        p->setBrush(colour);
        symbol(*p, x + pointWidth / 2, yOf(value), textHeight / 3, s);
      }
    }
  }
  legend(plot.left + pointWidth * slots, bottom, type == 1 || depth, type != 1);
}

ZEMTA_API void DCDrawImageFile(DCHandle dc, const char* path, const DCRect* rect, int32_t alpha) {
  if (!dc || !path) return;
  platform::ui::DrawContext* p = dc->context();
  if (!p) return;
  platform::ui::Image image;
  if (!image.load(path)) return;
  const int32_t left = rect ? rect->left : 0, top = rect ? rect->top : 0;
  const int32_t width = rect && rect->right > rect->left ? rect->right - rect->left : image.width();
  const int32_t height = rect && rect->bottom > rect->top ? rect->bottom - rect->top : image.height();
  p->setUnits(platform::ui::DrawUnits::Device);
  p->drawImage(Rect{left, top, left + width, top + height}, image, alpha);
}
