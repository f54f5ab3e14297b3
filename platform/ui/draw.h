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

 private:
  friend class DrawContext;
  struct Data;
  std::unique_ptr<Data> data_;
};

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

class PrintTarget {
 public:
  // printer: a CUPS queue name; empty, or a name no queue has, prints to
  // "<pdfFolder>/<documentName>.pdf" instead. Null when neither can be
  // opened (last error set).
  static std::unique_ptr<PrintTarget> open(const std::string& printer, const std::string& pdfFolder,
                                           const std::string& documentName);
  ~PrintTarget();

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
