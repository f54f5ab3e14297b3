#include "platform/ui/roll_printer.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

#include <algorithm>
#include <cmath>

#include "platform/base/cp932.h"
#include "platform/base/last_error.h"
#include "platform/ui/internal.h"
#include "platform/ui/window.h"

namespace platform::ui {

using detail::fromCp932;

namespace {

QColor colourOf(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

// The own size of a receipt printer's font: 12 x 24 dots at 203 dots per inch.
int32_t ownWidth(int32_t dpi) { return std::max(1, 12 * dpi / 203); }
int32_t ownHeight(int32_t dpi) { return std::max(1, 24 * dpi / 203); }

// A Qt font whose cell (ascent + descent) is height pixels.
QFont qtFont(const PrinterFont& font, int32_t height) {
  QFont f(fromCp932(font.face.empty() ? std::string(kReceiptFontFace) : font.face));
  f.setStyleHint(QFont::Monospace);
  f.setPixelSize(1000);
  QFontMetricsF reference(f);
  double cell = reference.ascent() + reference.descent();
  f.setPixelSize(std::max(1, static_cast<int>(std::lround(height * 1000.0 / (cell > 0 ? cell : 1000.0)))));
  f.setUnderline(font.underline);
  f.setKerning(false);
  return f;
}

}  // namespace

PrinterCaps probePrinter(const std::string& printer, const std::string& pdfFolder, const RollPaper& paper) {
  ensureApplication();
  PrinterCaps caps;
  caps.queue = printQueueFor(printer, true);
  if (!caps.queue.empty()) {
    QPrinter qprinter(QPrinter::HighResolution);
    qprinter.setPrinterName(QString::fromStdString(caps.queue));
    if (qprinter.isValid()) {
      caps.isPdf = false;
      caps.available = true;
      caps.dotsPerInchX = caps.dotsPerInchY = qprinter.resolution();
      QRect paint = qprinter.pageLayout().paintRectPixels(qprinter.resolution());
      QRect full = qprinter.pageLayout().fullRectPixels(qprinter.resolution());
      caps.printableWidth = paint.width();
      caps.physicalOffsetX = paint.left() - full.left();
      caps.passThrough = true;
      return caps;
    }
    caps.queue.clear();
  }
  caps.isPdf = true;
  caps.dotsPerInchX = caps.dotsPerInchY = paper.dotsPerInch > 0 ? paper.dotsPerInch : 203;
  caps.printableWidth = static_cast<int32_t>(static_cast<int64_t>(paper.widthTenthMm) * caps.dotsPerInchX / 254);
  caps.physicalOffsetX = 0;
  caps.passThrough = true;
  caps.available = printFolderTakesFiles(pdfFolder);
  return caps;
}

PrinterFontMetrics fontMetrics(const PrinterFont& font, int32_t dotsPerInch) {
  ensureApplication();
  PrinterFontMetrics m;
  if (font.height <= 0 && font.width <= 0) {
    m.height = ownHeight(dotsPerInch);
    m.averageCharWidth = ownWidth(dotsPerInch);
    return m;
  }
  m.height = font.height > 0 ? font.height : 2 * font.width;
  if (font.width > 0) {
    m.averageCharWidth = font.width;
  } else {
    QFontMetricsF metrics(qtFont(font, m.height));
    m.averageCharWidth = std::max(1, static_cast<int32_t>(std::lround(metrics.horizontalAdvance(QChar('0')))));
  }
  return m;
}

bool pictureSize(const std::string& path, int32_t* width, int32_t* height) {
  QImage image;
  if (path.empty() || !image.load(QString::fromStdString(path))) return false;
  if (width) *width = image.width();
  if (height) *height = image.height();
  return true;
}

// ---- the job: what was drawn, laid out at the end --------------------------

struct RollPrintJob::Op {
  enum Kind { Text, Fill, Line, Picture } kind = Text;
  PrinterFont font;
  std::string text;  // code page 932, or the picture's path
  int32_t x = 0, y = 0, w = 0, h = 0;  // Line: (x, y) to (w, h)
  int32_t cell = 0;                    // Text: column width; Line: pen width
  uint32_t colour = 0;
};

std::unique_ptr<RollPrintJob> RollPrintJob::open(const PrinterCaps& caps, const std::string& pdfFolder,
                                                 const std::string& fileName, const std::string& documentName,
                                                 const RollPaper& paper) {
  ensureApplication();
  if (!caps.available) {
    setLastError(kErrorPathNotFound);
    return nullptr;
  }
  std::unique_ptr<RollPrintJob> job(new RollPrintJob);
  job->caps_ = caps;
  job->paper_ = paper;
  job->documentName_ = documentName;
  if (caps.isPdf) {
    if (!job->output_.usePdf(pdfFolder, fileName)) return nullptr;
  } else {
    job->output_.useQueue(caps.queue);
  }
  return job;
}

RollPrintJob::~RollPrintJob() {
  if (!done_) abort();
}

void RollPrintJob::textOut(int32_t x, int32_t y, const std::string& text, int32_t cellWidth) {
  if (text.empty()) return;
  Op op;
  op.kind = Op::Text;
  op.font = font_;
  op.text = text;
  op.x = x;
  op.y = y;
  op.cell = cellWidth;
  op.h = fontMetrics(font_, caps_.dotsPerInchY).height;
  ops_.push_back(op);
  bottom_ = std::max(bottom_, y + op.h);
}

void RollPrintJob::fillRect(int32_t left, int32_t top, int32_t width, int32_t height, uint32_t colour) {
  if (width <= 0 || height <= 0) return;
  Op op;
  op.kind = Op::Fill;
  op.x = left;
  op.y = top;
  op.w = width;
  op.h = height;
  op.colour = colour;
  ops_.push_back(op);
  bottom_ = std::max(bottom_, top + height);
}

void RollPrintJob::line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t penWidth, uint32_t colour) {
  Op op;
  op.kind = Op::Line;
  op.x = x1;
  op.y = y1;
  op.w = x2;
  op.h = y2;
  op.cell = std::max(1, penWidth);
  op.colour = colour;
  ops_.push_back(op);
  bottom_ = std::max(bottom_, std::max(y1, y2) + op.cell);
}

bool RollPrintJob::drawPicture(const std::string& path, int32_t left, int32_t top, int32_t width, int32_t height) {
  if (!pictureSize(path, nullptr, nullptr)) return false;
  Op op;
  op.kind = Op::Picture;
  op.text = path;
  op.x = left;
  op.y = top;
  op.w = width;
  op.h = height;
  ops_.push_back(op);
  bottom_ = std::max(bottom_, top + height);
  return true;
}

void RollPrintJob::reach(int32_t y) { bottom_ = std::max(bottom_, y); }

bool RollPrintJob::passThrough(const std::string& bytes) {
  if (done_) return false;
  return output_.passThrough(bytes);
}

namespace {

void drawOps(QPainter& painter, const std::vector<RollPrintJob::Op>& ops);

}  // namespace

bool RollPrintJob::finish() {
  if (done_) return false;
  done_ = true;
  const int32_t dpi = caps_.dotsPerInchY;
  // The paper runs a little past the last thing drawn, as the cutter leaves it.
  const int32_t length = std::max(bottom_ + dpi / 4, dpi / 2);
  const double widthMm = caps_.isPdf ? paper_.widthTenthMm / 10.0 : caps_.printableWidth * 25.4 / caps_.dotsPerInchX;
  const QPageSize pageSize(QSizeF(widthMm, length * 25.4 / dpi), QPageSize::Millimeter, QString(),
                           QPageSize::ExactMatch);
  bool ok = true;
  if (caps_.isPdf && ops_.empty()) {
    // Nothing was drawn (the drawer alone): no page comes out of the printer.
    output_.dropPdf();
  } else if (caps_.isPdf) {
    QPdfWriter writer(QString::fromStdString(output_.pdfPath()));
    writer.setTitle(fromCp932(documentName_));
    writer.setCreator(QStringLiteral("Varnex"));
    writer.setResolution(dpi);
    writer.setPageLayout(QPageLayout(pageSize, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    QPainter painter;
    ok = painter.begin(&writer);
    if (ok) {
      drawOps(painter, ops_);
      ok = painter.end();
    }
  } else {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(QString::fromStdString(caps_.queue));
    printer.setDocName(fromCp932(documentName_));
    printer.setFullPage(true);
    printer.setPageLayout(QPageLayout(pageSize, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    QPainter painter;
    ok = !ops_.empty() ? painter.begin(&printer) : true;
    if (ok && painter.isActive()) {
      // The set-up measured in the printer's own resolution already.
      drawOps(painter, ops_);
      ok = painter.end();
    }
    ok = output_.sendPassThrough() && ok;
  }
  ops_.clear();
  if (!ok) setLastError(kErrorWriteFault);
  return ok;
}

void RollPrintJob::abort() {
  if (done_) return;
  done_ = true;
  ops_.clear();
  output_.discard();
}

namespace {

void drawText(QPainter& painter, const RollPrintJob::Op& op) {
  QFont font = qtFont(op.font, op.h);
  painter.setFont(font);
  painter.setPen(Qt::black);
  QFontMetricsF metrics(font, painter.device());
  const double ascent = metrics.ascent();
  double x = op.x;
  const auto& t = op.text;
  for (size_t i = 0; i < t.size();) {
    const size_t n = cp932::charLength(t, i);
    const double cellWidth = static_cast<double>(op.cell) * static_cast<double>(n);
    // A single 0x5C is the yen sign on a receipt, as the printer's own code page has it.
    const QString ch = n == 1 && t[i] == 0x5C ? QString(QChar(0x00A5)) : fromCp932(t.substr(i, n));
    const double advance = metrics.horizontalAdvance(ch);
    if (!ch.trimmed().isEmpty() && advance > 0) {
      painter.save();
      painter.translate(x, op.y + ascent);
      painter.scale(cellWidth / advance, 1.0);
      painter.drawText(QPointF(0, 0), ch);
      painter.restore();
    } else if (op.font.underline) {
      painter.fillRect(QRectF(x, op.y + ascent + metrics.underlinePos(), cellWidth, metrics.lineWidth()), Qt::black);
    }
    x += cellWidth;
    i += n;
  }
}

void drawOps(QPainter& painter, const std::vector<RollPrintJob::Op>& ops) {
  painter.setRenderHint(QPainter::TextAntialiasing);
  for (const auto& op : ops) {
    switch (op.kind) {
      case RollPrintJob::Op::Text:
        drawText(painter, op);
        break;
      case RollPrintJob::Op::Fill:
        painter.fillRect(QRect(op.x, op.y, op.w, op.h), colourOf(op.colour));
        break;
      case RollPrintJob::Op::Line: {
        QPen pen(colourOf(op.colour));
        pen.setWidth(op.cell);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        painter.drawLine(op.x, op.y, op.w, op.h);
        break;
      }
      case RollPrintJob::Op::Picture: {
        QImage image;
        if (image.load(QString::fromStdString(op.text))) painter.drawImage(QRect(op.x, op.y, op.w, op.h), image);
        break;
      }
    }
  }
}

}  // namespace

}  // namespace platform::ui
