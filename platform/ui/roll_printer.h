// The receipt printer: a roll of paper of a fixed width whose "page" is as
// long as the receipt drawn on it. Drawing is kept until the receipt ends,
// then laid out on one page of exactly that length: on a CUPS queue (the one
// named, or the system's default when no name is given), or, when there is no
// such queue, as a PDF file of its own in a folder, with the pass-through
// bytes (cutter, drawer) in a ".bin" file beside it.
//
// Units are the printer's dots from the top left of the paper. Fonts are
// asked for as a receipt printer's fonts are: a face, a cell height and an
// average character width in dots (0 and 0: the printer's own size, 12 x 24
// dots at 203 dots per inch); each character is drawn in its own cell of the
// column grid, one column for a single byte and two for a double-byte
// character, so columns line up whatever the face. Texts are code page 932.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/print_output.h"

namespace platform::ui {

// The face drawn when a font names none (or one that is not installed).
inline constexpr const char* kReceiptFontFace = "IPAGothic";

struct RollPaper {
  int32_t dotsPerInch = 203;    // of the PDF target; a queue has its own
  int32_t widthTenthMm = 800;   // 800: 80 mm paper, 580: 58 mm
};

struct PrinterFont {
  std::string face;        // code page 932; empty: kReceiptFontFace
  int32_t height = 0;      // cell height in dots; 0 with width 0: the printer's own size
  int32_t width = 0;       // average character width in dots; 0: the face's own for the height
  bool underline = false;
};

struct PrinterFontMetrics {
  int32_t averageCharWidth = 0;
  int32_t height = 0;
  int32_t externalLeading = 0;
};

// What the set-up learns of a printer without starting a job.
struct PrinterCaps {
  bool available = false;      // a queue, or a folder the PDF files can be written into
  bool isPdf = true;
  std::string queue;           // the queue that prints (empty for the PDF target)
  int32_t dotsPerInchX = 203;
  int32_t dotsPerInchY = 203;
  int32_t printableWidth = 0;  // dots
  int32_t physicalOffsetX = 0; // dots the printer cannot reach at the left
  bool passThrough = true;     // raw bytes reach the printer (or the .bin file)
};

// printer: a queue name; empty: the default queue. Without that queue, the PDF
// target in pdfFolder (made when missing).
PrinterCaps probePrinter(const std::string& printer, const std::string& pdfFolder, const RollPaper& paper);

// Metrics of a font as the printer draws it (dpi: the printer's vertical
// resolution, for the own size).
PrinterFontMetrics fontMetrics(const PrinterFont& font, int32_t dotsPerInch);

// Size of a picture file in pixels; false when it does not load.
bool pictureSize(const std::string& path, int32_t* width, int32_t* height);

class RollPrintJob {
 public:
  // Opens a job on the printer the probe found; the PDF target writes
  // "<pdfFolder>/<fileName>.pdf". Null when neither can be opened (last error set).
  static std::unique_ptr<RollPrintJob> open(const PrinterCaps& caps, const std::string& pdfFolder,
                                            const std::string& fileName, const std::string& documentName,
                                            const RollPaper& paper);
  ~RollPrintJob();
  RollPrintJob(const RollPrintJob&) = delete;
  RollPrintJob& operator=(const RollPrintJob&) = delete;

  const PrinterCaps& caps() const { return caps_; }
  std::string pdfPath() const { return output_.pdfPath(); }
  std::string binPath() const { return output_.binPath(); }

  void selectFont(const PrinterFont& font) { font_ = font; }
  const PrinterFont& font() const { return font_; }
  // Draws text from (x, y), the top of its cell, one column every cellWidth dots.
  void textOut(int32_t x, int32_t y, const std::string& text, int32_t cellWidth);
  void fillRect(int32_t left, int32_t top, int32_t width, int32_t height, uint32_t colour);
  void line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t penWidth, uint32_t colour);
  // false when the picture does not load.
  bool drawPicture(const std::string& path, int32_t left, int32_t top, int32_t width, int32_t height);
  // Marks the paper used down to y (blank lines at the end of a receipt).
  void reach(int32_t y);
  bool passThrough(const std::string& bytes);

  // Lays out what was drawn on one page as long as the receipt and ends the
  // document; false when it could not be written or spooled.
  bool finish();
  // Drops what was drawn; the PDF target leaves no file.
  void abort();

  struct Op;  // one thing drawn (roll_printer.cpp)

 private:
  RollPrintJob() = default;
  PrinterCaps caps_;
  RollPaper paper_;
  PrinterFont font_;
  PrintOutput output_;
  std::string documentName_;
  std::vector<Op> ops_;
  int32_t bottom_ = 0;
  bool done_ = false;
};

}  // namespace platform::ui
