// Drawing: a drawing context over a window, an image or a printed page, in
// device units or in 0.01 mm (y grows downward in both); images that load
// JPEG and PNG, scale and save; and the print target: a named CUPS queue, or
// a PDF file in a folder when no printer is named or the named one does not
// exist, with pass-through bytes (cutter, drawer) sent as a raw job to the
// queue or kept in a ".bin" file beside the PDF.
//
// Texts are code page 932; colours are 0x00BBGGRR as the stored settings
// keep them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/print_output.h"
#include "platform/ui/window.h"

namespace platform::ui {

namespace detail {
struct DrawAccess;  // the framework's windows paint through a context too
}

class Image {
 public:
  Image();
  ~Image();
  Image(const Image& other);
  Image& operator=(const Image& other);
  bool load(const std::string& path);               // JPEG or PNG
  bool saveJpeg(const std::string& path, int32_t quality = 90) const;
  bool savePng(const std::string& path) const;
  Image scaled(int32_t width, int32_t height, bool keepAspect) const;
  int32_t width() const;
  int32_t height() const;
  bool isNull() const;
  uint32_t pixel(int32_t x, int32_t y) const;       // 0x00BBGGRR
  static Image blank(int32_t width, int32_t height, uint32_t colour);
  // A picture that is see-through wherever nothing is drawn on it (the
  // pictures of buttons).
  static Image transparent(int32_t width, int32_t height);
  bool isTransparent(int32_t x, int32_t y) const;

 private:
  friend class DrawContext;
  friend bool setButtonImage(HWND button, const Image& image);
  struct Data;
  std::unique_ptr<Data> data_;
};

// Shows the picture on a push button in place of its text (a disabled
// button greys it); the text stays the button's window text and becomes its
// tooltip. A null picture gives the button its text back. False for a window
// that is no push button.
bool setButtonImage(HWND button, const Image& image);
// Whether the push button shows a picture.
bool buttonHasImage(HWND button);

enum class DrawUnits { Device, HundredthMm };

// Flags of DrawContext::drawText, as DrawText takes them.
enum TextBox : uint32_t {
  kTextLeft = 0x0000, kTextCentre = 0x0001, kTextRight = 0x0002,
  kTextTop = 0x0000, kTextVerticalCentre = 0x0004, kTextBottom = 0x0008,
  kTextWordBreak = 0x0010, kTextSingleLine = 0x0020,
  kTextWordEllipsis = 0x40000,
};

class DrawContext {
 public:
  // Draws into an image (for tests and off-screen pictures).
  explicit DrawContext(Image& target);
  ~DrawContext();
  DrawContext(const DrawContext&) = delete;
  DrawContext& operator=(const DrawContext&) = delete;

  void setUnits(DrawUnits units);
  // Font by face (code page 932), height in the current units (character
  // cell height) and weight (400 normal, 700 bold).
  void setFont(const std::string& face, int32_t height, int32_t weight = 400);
  // A fixed-pitch font for character cells: the face (a Windows face falls
  // back to the machine's Japanese monospace fonts), the cell height in
  // pixels, weight and decorations.
  void setCellFont(const std::string& face, int32_t height, int32_t weight, bool underline, bool strikeOut);
  void setTextColour(uint32_t colour);
  void setPen(uint32_t colour, int32_t width = 0);  // width 0: one device pixel
  // A pen of a line style as the spooler numbers them: 0 solid, 1 dash,
  // 2 dot, 3 dash-dot, 4 dash-dot-dot, 5 none.
  void setPenStyle(uint32_t colour, int32_t width, int32_t style);
  // A font whose character cell is height tall and whose characters are width
  // wide on average (0: the face's own width for that height).
  void setFontCell(const std::string& face, int32_t height, int32_t width, int32_t weight, bool italic,
                   bool underline);
  void setBrush(uint32_t colour);
  void setNoBrush();
  void textOut(int32_t x, int32_t y, const std::string& text);  // top-left of the text
  int32_t textWidth(const std::string& text) const;
  void line(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void rectangle(const Rect& rect);                 // pen outline, brush inside
  // A rectangle whose corners are quarter ellipses of the given size.
  void roundRectangle(const Rect& rect, int32_t ellipseWidth, int32_t ellipseHeight);
  // Text laid out in a box (DrawText): the TextBox flags say where; the text
  // is clipped to the box. The height the text took.
  int32_t drawText(const Rect& box, const std::string& text, uint32_t flags);
  void fillRect(const Rect& rect, uint32_t colour);
  // Character cells (ExtTextOut over a run of cells): box is filled with the
  // background, then each character of the code page 932 text is drawn with
  // its top-left at (x + cells before it x cellWidth, y), a double-byte
  // character taking two cells; nothing is drawn outside box.
  void cellText(const Rect& box, int32_t x, int32_t y, const std::string& text, int32_t cellWidth,
                uint32_t background);
  // A closed polygon: pen outline, brush inside.
  void polygon(const Point* points, int32_t count);
  // The system's frames: a push button's face and raised edge (pushed: sunk),
  // and a sunken edge two pixels deep inside rect.
  void buttonFrame(const Rect& rect, bool pushed);
  void sunkenEdge(const Rect& rect);
  // Keeps pen, brush, font, colours and clip, and brings them back.
  void save();
  void restore();
  // Narrows the clip to the union of the rectangles (device units), within
  // the clip in force; takes a rectangle out of the clip.
  void intersectClip(const Rect* rects, int32_t count);
  void excludeClip(const Rect& rect);
  void polygon(const std::vector<Point>& points) { polygon(points.data(), static_cast<int32_t>(points.size())); }
  void ellipse(const Rect& rect);
  // A pie slice of the ellipse in rect, angles in degrees counter-clockwise
  // from three o'clock.
  void pie(const Rect& rect, double startDegrees, double spanDegrees);
  // The picture over rect with a constant opacity (0 to 255).
  void drawImage(const Rect& rect, const Image& image, int32_t alpha);
  void drawImage(const Rect& rect, const Image& image);
  void setClip(const Rect& rect);
  void clearClip();
  // Device pixels per inch of the surface.
  int32_t dotsPerInch() const;

 private:
  friend class PrintTarget;
  friend struct detail::DrawAccess;
  DrawContext();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// How a page printer's paper is set up (the spooler's device mode).
struct PageSetup {
  // The spooler's paper codes: 8 A3, 9 A4, 12 B4 (JIS), 45 10 x 11 in, 46 15 x 11 in,
  // 73 envelope Chou 3, 76 A3 rotated, 77 A4 rotated, 79 B4 (JIS) rotated;
  // 0 or 256: paperWidth x paperLength in 0.1 mm.
  int32_t paperCode = 9;
  int32_t paperWidth = 0, paperLength = 0;
  bool landscape = false;
  bool colour = false;
  int32_t copies = 1;
  bool collate = false;
  // The PDF target: its resolution, and whether it keeps pass-through bytes
  // in the ".bin" file beside it (false: it takes none, as a page printer
  // without a raw path).
  int32_t pdfDotsPerInch = 600;
  bool pdfPassThrough = true;
  // The PDF target keeps an older file of the same name (the new one is
  // numbered) instead of writing over it.
  bool keepOlderPdf = true;
};

// What a page printer reports of itself, in its dots: resolution, the edge it
// cannot reach (physical offset) and the printable area from there.
struct PageCaps {
  int32_t dotsPerInchX = 0, dotsPerInchY = 0;
  int32_t offsetX = 0, offsetY = 0;
  int32_t printableWidth = 0, printableHeight = 0;
  int32_t paperWidth = 0, paperHeight = 0;
  bool passThrough = false;  // raw bytes reach the printer (or the ".bin" file)
};

class PrintTarget {
 public:
  // As below, with the paper set up: a queue gets the size, orientation,
  // colour and copies; the PDF target is drawn at its own resolution. The
  // drawing origin is the top left of the printable area.
  static std::unique_ptr<PrintTarget> open(const std::string& printer, const std::string& pdfFolder,
                                           const std::string& documentName, const PageSetup& setup);
  const PageCaps& caps() const;
  // printer: a CUPS queue name; empty, or a name no queue has, prints to
  // "<pdfFolder>/<documentName>.pdf" instead. Null when neither can be
  // opened (last error set).
  static std::unique_ptr<PrintTarget> open(const std::string& printer, const std::string& pdfFolder,
                                           const std::string& documentName);
  ~PrintTarget();
  static std::unique_ptr<PrintTarget> openTarget(const std::string& printer, const std::string& pdfFolder,
                                                 const std::string& documentName, bool keepOlder);

  bool isPdf() const;
  std::string pdfPath() const;   // empty for a queue
  std::string binPath() const;   // the pass-through file beside the PDF
  bool startPage();
  DrawContext& context();        // valid between startPage and endPage
  bool endPage();
  // Bytes sent to the printer as they are (cutter and drawer commands).
  bool passThrough(const std::string& bytes);
  // Ends the document; false when it could not be written or spooled.
  bool finish();
  bool abort();

 private:
  PrintTarget();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::ui
