#include "platform/ui/draw.h"

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPolygon>
#include <QIcon>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cups/cups.h>
#include <cstdio>
#include <filesystem>

#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "platform/ui/class_internal.h"
#include "platform/ui/internal.h"
#include "platform/ui/print_output.h"

namespace platform::ui {

using namespace detail;

namespace {

QColor colourOf(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
uint32_t colourRef(QRgb c) {
  return static_cast<uint32_t>(qRed(c)) | (static_cast<uint32_t>(qGreen(c)) << 8) |
         (static_cast<uint32_t>(qBlue(c)) << 16);
}

}  // namespace

// --- images -------------------------------------------------------------------

struct Image::Data {
  QImage image;
};

Image::Image() : data_(std::make_unique<Data>()) {}
Image::~Image() = default;
Image::Image(const Image& other) : data_(std::make_unique<Data>(*other.data_)) {}
Image& Image::operator=(const Image& other) {
  *data_ = *other.data_;
  return *this;
}

// Paths are the bytes the file system holds (a folder named in code page 932
// is no UTF-8): the file is read and written here, and Qt only decodes and
// encodes the picture.
bool Image::load(const std::string& path) {
  QByteArray bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, static_cast<qsizetype>(n));
    std::fclose(f);
  } else {
    setLastError(kErrorFileNotFound);
    return false;
  }
  QImage loaded;
  if (!loaded.loadFromData(bytes)) {
    setLastError(kErrorInvalidData);
    return false;
  }
  data_->image = loaded.convertToFormat(QImage::Format_RGB32);
  return true;
}

namespace {

bool writeImage(const QImage& image, const std::string& path, const char* format, int quality) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!image.save(&buffer, format, quality)) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool whole = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), f) ==
                     static_cast<size_t>(bytes.size());
  return std::fclose(f) == 0 && whole;
}

}  // namespace

bool Image::saveJpeg(const std::string& path, int32_t quality) const {
  if (!writeImage(data_->image, path, "JPEG", quality)) {
    setLastError(kErrorWriteFault);
    return false;
  }
  return true;
}

bool Image::savePng(const std::string& path) const {
  if (!writeImage(data_->image, path, "PNG", -1)) {
    setLastError(kErrorWriteFault);
    return false;
  }
  return true;
}

Image Image::scaled(int32_t width, int32_t height, bool keepAspect) const {
  Image result;
  if (!isNull() && width > 0 && height > 0)
    result.data_->image = data_->image.scaled(width, height, keepAspect ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio,
                                              Qt::SmoothTransformation);
  return result;
}

int32_t Image::width() const { return data_->image.width(); }
int32_t Image::height() const { return data_->image.height(); }
bool Image::isNull() const { return data_->image.isNull(); }
uint32_t Image::pixel(int32_t x, int32_t y) const {
  return data_->image.valid(x, y) ? colourRef(data_->image.pixel(x, y)) : 0;
}

Image Image::blank(int32_t width, int32_t height, uint32_t colour) {
  Image result;
  result.data_->image = QImage(std::max(1, width), std::max(1, height), QImage::Format_RGB32);
  result.data_->image.fill(colourOf(colour));
  return result;
}

Image Image::transparent(int32_t width, int32_t height) {
  Image result;
  result.data_->image = QImage(std::max(1, width), std::max(1, height), QImage::Format_ARGB32_Premultiplied);
  result.data_->image.fill(Qt::transparent);
  return result;
}

bool Image::isTransparent(int32_t x, int32_t y) const {
  const QImage& i = data_->image;
  return i.valid(x, y) && qAlpha(i.pixel(x, y)) == 0;
}

// --- pictures on buttons ---------------------------------------------------------

namespace {
const char kPictureText[] = "platform.ui.pictureText";
}

bool setButtonImage(HWND button, const Image& image) {
  auto* b = qobject_cast<QPushButton*>(widgetOf(button));
  if (!b) {
    setLastError(kErrorInvalidHandle);
    return false;
  }
  if (image.isNull()) {
    if (!b->property(kPictureText).isValid()) return true;
    b->setIcon(QIcon());
    b->setText(b->property(kPictureText).toString());
    b->setProperty(kPictureText, QVariant());
    b->setToolTip(QString());
    return true;
  }
  const QString text = b->property(kPictureText).isValid() ? b->property(kPictureText).toString() : b->text();
  const QPixmap picture = QPixmap::fromImage(image.data_->image);
  b->setProperty(kPictureText, text);
  b->setText(QString());
  b->setToolTip(text);
  b->setIcon(QIcon(picture));
  b->setIconSize(picture.size());
  return true;
}

bool buttonHasImage(HWND button) {
  auto* b = qobject_cast<QPushButton*>(widgetOf(button));
  return b && b->property(kPictureText).isValid() && !b->icon().isNull();
}

// --- the drawing context ------------------------------------------------------

struct DrawContext::Impl {
  QPainter painter;
  DrawUnits units = DrawUnits::Device;
  int dpi = 96;
  QColor textColour = Qt::black;

  int device(int32_t v) const {
    return units == DrawUnits::Device ? v : static_cast<int>((static_cast<int64_t>(v) * dpi + 1270) / 2540);
  }
  int fromDevice(int v) const {
    return units == DrawUnits::Device ? v : static_cast<int>((static_cast<int64_t>(v) * 2540 + dpi / 2) / dpi);
  }
  QRect rect(const Rect& r) const {
    return QRect(QPoint(device(r.left), device(r.top)), QPoint(device(r.right) - 1, device(r.bottom) - 1));
  }
};

DrawContext::DrawContext() : impl_(std::make_unique<Impl>()) {}

DrawContext::DrawContext(Image& target) : impl_(std::make_unique<Impl>()) {
  impl_->painter.begin(&target.data_->image);
  impl_->dpi = target.data_->image.logicalDpiX() > 0 ? target.data_->image.logicalDpiX() : 96;
  impl_->painter.setRenderHint(QPainter::TextAntialiasing);
}

DrawContext::~DrawContext() {
  if (impl_->painter.isActive()) impl_->painter.end();
}

void DrawContext::setUnits(DrawUnits units) { impl_->units = units; }

void DrawContext::setFont(const std::string& face, int32_t height, int32_t weight) {
  QFont font(fromCp932(face));
  font.setPixelSize(std::max(1, impl_->device(height)));
  font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
  font.setStyleHint(QFont::SansSerif);
  impl_->painter.setFont(font);
}

void DrawContext::setCellFont(const std::string& face, int32_t height, int32_t weight, bool underline,
                              bool strikeOut) {
  QFont font;
  font.setFamilies({fromCp932(face), QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                    QStringLiteral("Noto Sans CJK JP")});
  font.setPixelSize(std::max(1, impl_->device(height)));
  font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
  font.setFixedPitch(true);
  font.setStyleHint(QFont::Monospace);
  font.setUnderline(underline);
  font.setStrikeOut(strikeOut);
  impl_->painter.setFont(font);
}

void DrawContext::setTextColour(uint32_t colour) { impl_->textColour = colourOf(colour); }

void DrawContext::setPen(uint32_t colour, int32_t width) {
  QPen pen(colourOf(colour));
  pen.setWidth(width <= 0 ? 0 : std::max(1, impl_->device(width)));
  impl_->painter.setPen(pen);
}

void DrawContext::setPenStyle(uint32_t colour, int32_t width, int32_t style) {
  static const Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                         Qt::DashDotDotLine, Qt::NoPen};
  QPen pen(colourOf(colour));
  pen.setWidth(width <= 1 ? 0 : impl_->device(width));
  pen.setStyle(style >= 0 && style <= 5 ? kStyles[style] : Qt::SolidLine);
  impl_->painter.setPen(pen);
}

void DrawContext::setFontCell(const std::string& face, int32_t height, int32_t width, int32_t weight, bool italic,
                              bool underline) {
  QFont font(fromCp932(face));
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(1000);
  QFontMetricsF reference(font, impl_->painter.device());
  const double cell = reference.ascent() + reference.descent();
  const int pixels = std::max(1, static_cast<int>(std::lround(impl_->device(std::max(1, height)) * 1000.0 /
                                                              (cell > 0 ? cell : 1000.0))));
  font.setPixelSize(pixels);
  if (width > 0) {
    QFontMetricsF sized(font, impl_->painter.device());
    const double average = sized.averageCharWidth();
    if (average > 0) font.setStretch(std::clamp(static_cast<int>(std::lround(impl_->device(width) * 100.0 / average)), 1, 4000));
  }
  font.setWeight(static_cast<QFont::Weight>(std::clamp(weight, 100, 900)));
  font.setItalic(italic);
  font.setUnderline(underline);
  font.setKerning(false);
  impl_->painter.setFont(font);
}

void DrawContext::ellipse(const Rect& rect) { impl_->painter.drawEllipse(impl_->rect(rect)); }

void DrawContext::pie(const Rect& rect, double startDegrees, double spanDegrees) {
  impl_->painter.drawPie(impl_->rect(rect), static_cast<int>(std::lround(startDegrees * 16)),
                         static_cast<int>(std::lround(spanDegrees * 16)));
}

void DrawContext::drawImage(const Rect& rect, const Image& image, int32_t alpha) {
  if (image.isNull()) return;
  const double saved = impl_->painter.opacity();
  impl_->painter.setOpacity(std::clamp(alpha, 0, 255) / 255.0);
  impl_->painter.drawImage(impl_->rect(rect), image.data_->image);
  impl_->painter.setOpacity(saved);
}

void DrawContext::setBrush(uint32_t colour) { impl_->painter.setBrush(colourOf(colour)); }
void DrawContext::setNoBrush() { impl_->painter.setBrush(Qt::NoBrush); }

void DrawContext::textOut(int32_t x, int32_t y, const std::string& text) {
  QPen saved = impl_->painter.pen();
  impl_->painter.setPen(impl_->textColour);
  QFontMetrics metrics(impl_->painter.font(), impl_->painter.device());
  impl_->painter.drawText(QPoint(impl_->device(x), impl_->device(y) + metrics.ascent()), fromCp932(text));
  impl_->painter.setPen(saved);
}

int32_t DrawContext::textWidth(const std::string& text) const {
  QFontMetrics metrics(impl_->painter.font(), impl_->painter.device());
  return impl_->fromDevice(metrics.horizontalAdvance(fromCp932(text)));
}

void DrawContext::line(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  impl_->painter.drawLine(impl_->device(x1), impl_->device(y1), impl_->device(x2), impl_->device(y2));
}

void DrawContext::rectangle(const Rect& rect) { impl_->painter.drawRect(impl_->rect(rect)); }

void DrawContext::roundRectangle(const Rect& rect, int32_t ellipseWidth, int32_t ellipseHeight) {
  impl_->painter.drawRoundedRect(impl_->rect(rect), impl_->device(ellipseWidth) / 2.0,
                                 impl_->device(ellipseHeight) / 2.0);
}

int32_t DrawContext::drawText(const Rect& box, const std::string& text, uint32_t flags) {
  const QRect area = impl_->rect(box);
  QString shown = fromCp932(text);
  QFontMetrics metrics(impl_->painter.font(), impl_->painter.device());
  int qtFlags = (flags & kTextCentre) ? Qt::AlignHCenter : (flags & kTextRight) ? Qt::AlignRight : Qt::AlignLeft;
  qtFlags |= (flags & kTextVerticalCentre) ? Qt::AlignVCenter : (flags & kTextBottom) ? Qt::AlignBottom : Qt::AlignTop;
  if (flags & kTextSingleLine) {
    qtFlags |= Qt::TextSingleLine;
  } else if (flags & kTextWordBreak) {
    // Japanese has no blanks between words: any character may break a line.
    qtFlags |= Qt::TextWrapAnywhere;
    if (flags & kTextWordEllipsis) {
      // Lines that do not fit the box end in an ellipsis on the last one.
      const QRect needed = metrics.boundingRect(area, qtFlags, shown);
      if (needed.height() > area.height()) {
        const int lines = std::max(1, area.height() / std::max(1, metrics.lineSpacing()));
        while (!shown.isEmpty() &&
               metrics.boundingRect(area, qtFlags, shown + QStringLiteral("…")).height() >
                   lines * metrics.lineSpacing())
          shown.chop(1);
        shown += QStringLiteral("…");
      }
    }
  }
  QPen saved = impl_->painter.pen();
  impl_->painter.setPen(impl_->textColour);
  impl_->painter.save();
  impl_->painter.setClipRect(area, Qt::IntersectClip);
  QRect used;
  impl_->painter.drawText(area, qtFlags, shown, &used);
  impl_->painter.restore();
  impl_->painter.setPen(saved);
  return impl_->fromDevice(used.height());
}

void DrawContext::fillRect(const Rect& rect, uint32_t colour) {
  impl_->painter.fillRect(impl_->rect(rect), colourOf(colour));
}

void DrawContext::cellText(const Rect& box, int32_t x, int32_t y, const std::string& text, int32_t cellWidth,
                           uint32_t background) {
  QPainter& p = impl_->painter;
  const QRect area = impl_->rect(box);
  p.save();
  p.setClipRect(area, Qt::IntersectClip);
  p.fillRect(area, colourOf(background));
  p.setPen(impl_->textColour);
  QFontMetrics metrics(p.font(), p.device());
  const int top = impl_->device(y) + metrics.ascent();
  int cell = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t length = platform::cp932::isDoubleByteAt(text, i) ? 2 : 1;
    const QString glyph = fromCp932(text.substr(i, length));
    if (glyph != QStringLiteral(" "))
      p.drawText(QPoint(impl_->device(x + cell * cellWidth), top), glyph);
    cell += static_cast<int>(length);
    i += length;
  }
  p.restore();
}

void DrawContext::polygon(const Point* points, int32_t count) {
  QPolygon shape;
  for (int32_t i = 0; i < count; ++i) shape << QPoint(impl_->device(points[i].x), impl_->device(points[i].y));
  impl_->painter.drawPolygon(shape);
}

namespace {
// The classic three-dimensional colours of the system.
const QColor kButtonFace(0xF0, 0xF0, 0xF0), kHighlight(0xFF, 0xFF, 0xFF), kLight(0xE3, 0xE3, 0xE3),
    kShadow(0xA0, 0xA0, 0xA0), kDarkShadow(0x69, 0x69, 0x69);

// Two one-pixel lines along the top and left (first colour) and along the
// bottom and right (second colour) of r.
void edgeLines(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
  p.setPen(topLeft);
  p.drawLine(r.left(), r.bottom(), r.left(), r.top());
  p.drawLine(r.left(), r.top(), r.right(), r.top());
  p.setPen(bottomRight);
  p.drawLine(r.right(), r.top(), r.right(), r.bottom());
  p.drawLine(r.right(), r.bottom(), r.left(), r.bottom());
}
}  // namespace

void DrawContext::buttonFrame(const Rect& rect, bool pushed) {
  QPainter& p = impl_->painter;
  const QRect r = impl_->rect(rect);
  p.save();
  p.fillRect(r, kButtonFace);
  if (pushed) {
    edgeLines(p, r, kDarkShadow, kDarkShadow);
    edgeLines(p, r.adjusted(1, 1, -1, -1), kShadow, kButtonFace);
  } else {
    edgeLines(p, r, kHighlight, kDarkShadow);
    edgeLines(p, r.adjusted(1, 1, -1, -1), kLight, kShadow);
  }
  p.restore();
}

void DrawContext::sunkenEdge(const Rect& rect) {
  QPainter& p = impl_->painter;
  const QRect r = impl_->rect(rect);
  p.save();
  edgeLines(p, r, kShadow, kHighlight);
  edgeLines(p, r.adjusted(1, 1, -1, -1), kDarkShadow, kLight);
  p.restore();
}

void DrawContext::save() { impl_->painter.save(); }
void DrawContext::restore() { impl_->painter.restore(); }

void DrawContext::intersectClip(const Rect* rects, int32_t count) {
  QRegion region;
  for (int32_t i = 0; i < count; ++i) region += impl_->rect(rects[i]);
  impl_->painter.setClipRegion(region, Qt::IntersectClip);
}

void DrawContext::excludeClip(const Rect& rect) {
  QPainter& p = impl_->painter;
  if (!p.hasClipping()) {
    p.setClipRegion(QRegion(p.viewport()).subtracted(impl_->rect(rect)));
    return;
  }
  p.setClipRegion(p.clipRegion().subtracted(impl_->rect(rect)));
}

void DrawContext::drawImage(const Rect& rect, const Image& image) {
  if (!image.isNull()) impl_->painter.drawImage(impl_->rect(rect), image.data_->image);
}

void DrawContext::setClip(const Rect& rect) { impl_->painter.setClipRect(impl_->rect(rect)); }
void DrawContext::clearClip() { impl_->painter.setClipping(false); }
int32_t DrawContext::dotsPerInch() const { return impl_->dpi; }

namespace detail {

std::unique_ptr<DrawContext> DrawAccess::onDevice(QPaintDevice* device) {
  std::unique_ptr<DrawContext> dc(new DrawContext);
  if (!dc->impl_->painter.begin(device)) return nullptr;
  dc->impl_->dpi = device->logicalDpiX() > 0 ? device->logicalDpiX() : 96;
  dc->impl_->painter.setRenderHint(QPainter::TextAntialiasing);
  dc->impl_->painter.setFont(QApplication::font());
  return dc;
}

QPainter& DrawAccess::painter(DrawContext& dc) { return dc.impl_->painter; }

}  // namespace detail

// --- printing -----------------------------------------------------------------

struct PrintTarget::Impl {
  PageCaps caps;
  std::unique_ptr<QPrinter> printer;
  std::unique_ptr<DrawContext> context;
  PrintOutput output;
  bool pageOpen = false, started = false, finished = false, failed = false;
};

PrintTarget::PrintTarget() : impl_(std::make_unique<Impl>()) {}

PrintTarget::~PrintTarget() {
  if (!impl_->finished) abort();
}

std::unique_ptr<PrintTarget> PrintTarget::open(const std::string& printer, const std::string& pdfFolder,
                                               const std::string& documentName) {
  return openTarget(printer, pdfFolder, documentName, false);
}

std::unique_ptr<PrintTarget> PrintTarget::openTarget(const std::string& printer, const std::string& pdfFolder,
                                                     const std::string& documentName, bool keepOlder) {
  ensureApplication();
  std::unique_ptr<PrintTarget> target(new PrintTarget);
  Impl& d = *target->impl_;
  // Only a queue named so prints: an empty name goes to the PDF target.
  const std::string queue = printQueueFor(printer, false);
  d.printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  d.printer->setDocName(fromCp932(documentName));
  if (!queue.empty()) {
    d.output.useQueue(queue);
    d.printer->setPrinterName(QString::fromStdString(queue));
  } else {
    QString base = fromCp932(documentName);
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (!d.output.usePdf(pdfFolder, base.toStdString(), keepOlder)) return nullptr;
    d.printer->setOutputFormat(QPrinter::PdfFormat);
    d.printer->setOutputFileName(QString::fromStdString(d.output.pdfPath()));
  }
  return target;
}

namespace {

QPageSize pageSizeOf(const PageSetup& setup) {
  auto millimetres = [](double w, double h) { return QPageSize(QSizeF(w, h), QPageSize::Millimeter); };
  switch (setup.paperCode) {
    case 8: return QPageSize(QPageSize::A3);
    case 9: return QPageSize(QPageSize::A4);
    case 12: return QPageSize(QPageSize::B4);  // JIS B4: 257 x 364 mm
    case 45: return QPageSize(QSizeF(10, 11), QPageSize::Inch);
    case 46: return QPageSize(QSizeF(15, 11), QPageSize::Inch);
    case 73: return QPageSize(QPageSize::EnvelopeChou3);
    case 76: return millimetres(420, 297);
    case 77: return millimetres(297, 210);
    case 79: return millimetres(364, 257);
    default:
      if (setup.paperWidth > 0 && setup.paperLength > 0)
        return millimetres(setup.paperWidth / 10.0, setup.paperLength / 10.0);
      return QPageSize(QPageSize::A4);
  }
}

// Whether a queue takes raw bytes past its filters.
bool queueTakesRaw(const std::string& queue) {
  cups_dest_t* dests = nullptr;
  int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  cups_dest_t* dest = cupsGetDest(queue.c_str(), nullptr, count, dests);
  bool raw = false;
  if (dest) {
    if (cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest)) {
      raw = cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest, info, "document-format", CUPS_FORMAT_RAW) != 0;
      cupsFreeDestInfo(info);
    }
  }
  cupsFreeDests(count, dests);
  return raw;
}

}  // namespace

std::unique_ptr<PrintTarget> PrintTarget::open(const std::string& printer, const std::string& pdfFolder,
                                               const std::string& documentName, const PageSetup& setup) {
  std::unique_ptr<PrintTarget> target = openTarget(printer, pdfFolder, documentName, setup.keepOlderPdf);
  if (!target) return nullptr;
  Impl& d = *target->impl_;
  QPrinter& p = *d.printer;
  if (d.output.isPdf()) {
    p.setResolution(std::max(72, setup.pdfDotsPerInch));
    p.setFullPage(true);
  }
  p.setPageSize(pageSizeOf(setup));
  p.setPageOrientation(setup.landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  if (d.output.isPdf()) p.setPageMargins(QMarginsF(0, 0, 0, 0));
  p.setColorMode(setup.colour ? QPrinter::Color : QPrinter::GrayScale);
  p.setCopyCount(std::max(1, setup.copies));
  p.setCollateCopies(setup.collate);
  PageCaps& c = d.caps;
  const int dpi = p.resolution();
  c.dotsPerInchX = c.dotsPerInchY = dpi;
  const QRect paint = p.pageLayout().paintRectPixels(dpi);
  const QRect full = p.pageLayout().fullRectPixels(dpi);
  c.offsetX = paint.left() - full.left();
  c.offsetY = paint.top() - full.top();
  c.printableWidth = paint.width();
  c.printableHeight = paint.height();
  c.paperWidth = full.width();
  c.paperHeight = full.height();
  c.passThrough = d.output.isPdf() ? setup.pdfPassThrough : queueTakesRaw(d.output.queue());
  return target;
}

const PageCaps& PrintTarget::caps() const { return impl_->caps; }

bool PrintTarget::isPdf() const { return impl_->output.isPdf(); }
std::string PrintTarget::pdfPath() const { return impl_->output.pdfPath(); }
std::string PrintTarget::binPath() const { return impl_->output.binPath(); }

bool PrintTarget::startPage() {
  Impl& d = *impl_;
  if (d.pageOpen || d.finished) return false;
  if (!d.started) {
    d.context.reset(new DrawContext);
    if (!d.context->impl_->painter.begin(d.printer.get())) {
      d.failed = true;
      setLastError(kErrorWriteFault);
      return false;
    }
    d.context->impl_->dpi = d.printer->resolution();
    d.started = true;
  } else if (!d.printer->newPage()) {
    d.failed = true;
    setLastError(kErrorWriteFault);
    return false;
  }
  d.pageOpen = true;
  return true;
}

DrawContext& PrintTarget::context() { return *impl_->context; }

bool PrintTarget::endPage() {
  if (!impl_->pageOpen) return false;
  impl_->pageOpen = false;
  return true;
}

bool PrintTarget::passThrough(const std::string& bytes) {
  Impl& d = *impl_;
  if (d.finished) return false;
  return d.output.passThrough(bytes);
}

bool PrintTarget::finish() {
  Impl& d = *impl_;
  if (d.finished) return false;
  d.finished = true;
  if (d.started) d.context->impl_->painter.end();
  bool ok = !d.failed;
  ok = d.output.sendPassThrough() && ok;
  if (isPdf() && !d.started) {
    // A job without pages still leaves a (one blank page) document, so the
    // caller finds the file it was told of.
    QPainter painter;
    ok = painter.begin(d.printer.get()) && ok;
    painter.end();
  }
  if (!ok) setLastError(kErrorWriteFault);
  return ok;
}

bool PrintTarget::abort() {
  Impl& d = *impl_;
  if (d.finished) return false;
  d.finished = true;
  if (d.started) {
    d.printer->abort();
    d.context->impl_->painter.end();
  }
  d.output.discard();
  return true;
}

std::vector<std::string> fontFamilies() {
  ensureApplication();
  std::vector<std::string> out;
  for (const QString& family : QFontDatabase::families()) {
    const std::string name = toCp932(family);
    if (!name.empty()) out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace platform::ui
