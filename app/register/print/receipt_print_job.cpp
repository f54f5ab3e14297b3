// The receipt print job: draws receipt text on the receipt printer one
// character cell at a time, keeps one job open across calls so that a receipt
// can be printed in pieces, and at a form feed prints the held-sale barcode
// and sends the cutter and drawer commands (as characters of the control font
// or as pass-through bytes) before the job ends.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/register/print/receipt_printer.h"
#include "app/register/engine/reg_com.h"
#include "platform/base/cp932.h"
#include "platform/base/path.h"
#include "platform/ui/roll_printer.h"
#include "zemta/date.h"
#include "zemta/tax.h"

namespace varnex::reg {

namespace {

constexpr char kCR = '\r', kLF = '\n', kFF = '\f', kSO = 0x0E, kSI = 0x0F, kESC = 0x1B;
constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF;
// The pieces of pass-through bytes the printer driver takes at a time.
constexpr size_t kPassThroughChunk = 4096;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int32_t ceilDiv(int32_t a, int32_t b) { return b > 0 ? (a + b - 1) / b : 0; }

// The held sale's base name: cut at the last '.', then what follows the last
// folder separator or drive colon.
std::string heldBaseName(const std::string& path) {
  std::string name = path;
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  const size_t sep = platform::lastSeparator(name, true);
  return sep == std::string::npos ? name : name.substr(sep + 1);
}

}  // namespace

int32_t DecodeControlText(const std::string& text, std::string* output) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (platform::cp932::charLength(text, i) == 2) {
      // A double-byte character is copied whole (its trail byte may be 0x5C).
      out += c;
      out += text[++i];
      continue;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 1 >= text.size()) break;
    const char e = text[i + 1];
    if (e == '\\') {
      out += '\\';
    } else if (e == 'r') {
      out += kCR;
    } else if (e == 'n') {
      out += kLF;
    } else if (e == 't') {
      out += '\t';
    } else if (e == 'x' && i + 3 < text.size() && hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
      i += 2;
    } else {
      break;
    }
    ++i;
  }
  if (output) *output = out;
  return static_cast<int32_t>(out.size());
}

CReceiptPrinter::CReceiptPrinter() = default;

CReceiptPrinter::~CReceiptPrinter() { AbortPrintJob(); }

void CReceiptPrinter::SelectPrintFont(const platform::ui::PrinterFont* font) {
  m_pSelectedFont = font;
  if (m_pPrinterDC && font) m_pPrinterDC->selectFont(*font);
}

std::string CReceiptPrinter::NextPrintFileName() {
  // One file per receipt, named by the time it started and a number that
  // makes it new in the folder.
  uint16_t date = 0, time = 0;
  GetDate(&date, &time);
  const std::string folder = PrintFolder();
  char name[64];
  for (;;) {
    std::snprintf(name, sizeof name, "receipt-%04u%02u%02u-%02u%02u%02u-%04u", (date >> 9) + 1980u,
                  (date >> 5) & 0x0Fu, date & 0x1Fu, time >> 11, (time >> 5) & 0x3Fu, (time & 0x1Fu) * 2,
                  static_cast<unsigned>(++m_nPrintSequence % 10000));
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::path(folder) / (std::string(name) + ".pdf"), ec)) break;
  }
  return name;
}

bool CReceiptPrinter::OpenPrintJob(const char* heldPath, int32_t noLogo) {
  platform::ui::RollPaper paper;
  paper.widthTenthMm = m_nPaperWidth;
  paper.dotsPerInch = m_nPrinterDpiY;
  const platform::ui::PrinterCaps caps = platform::ui::probePrinter(m_strPrnName, PrintFolder(), paper);
  m_pPrinterDC = platform::ui::RollPrintJob::open(caps, PrintFolder(), NextPrintFileName(), "Varnex レシート", paper);
  if (!m_pPrinterDC) return false;
  m_nPrinterDpiX = caps.dotsPerInchX;
  m_nPrinterDpiY = caps.dotsPerInchY;
  m_nPrinterOffsetX = caps.physicalOffsetX;
  m_nPrinterWidth = caps.printableWidth;
  SelectPrintFont(m_pFontNormal.get());
  m_nPrintStyle = 0;
  const platform::ui::PrinterFontMetrics metrics = platform::ui::fontMetrics(*m_pFontNormal, m_nPrinterDpiY);
  if (metrics.averageCharWidth <= 0 || metrics.height <= 0) {
    m_pPrinterDC->abort();
    m_pPrinterDC.reset();
    return false;
  }
  m_nCharWidth = metrics.averageCharWidth;
  m_nLineHeight = metrics.height + metrics.externalLeading;
  if (m_nPrnPitch == 1) m_nLineHeight = m_nLineHeight * 6 / 5;
  else if (m_nPrnPitch == 2) m_nLineHeight = m_nLineHeight * 7 / 5;
  m_nPrintX = 0;
  m_nPrintY = 0;
  if (!m_strLogoPath.empty() && !heldPath && !noLogo) m_nPrintY = PrintLogo();
  return true;
}

void CReceiptPrinter::EndPrintJob() {
  if (!m_pPrinterDC) return;
  m_pPrinterDC->reach(m_nPrintY);
  m_pPrinterDC->finish();
  m_strLastPrintFile = m_pPrinterDC->pdfPath();
  m_pPrinterDC.reset();
  m_pSelectedFont = nullptr;
}

void CReceiptPrinter::AbortPrintJob() {
  if (!m_pPrinterDC) return;
  m_pPrinterDC->abort();
  m_pPrinterDC.reset();
  m_pSelectedFont = nullptr;
}

int32_t CReceiptPrinter::PrintLogo() {
  if (!m_pPrinterDC) return 0;
  const int32_t left =
      std::max(m_nPrinterOffsetX, static_cast<int32_t>(m_nLogoOffset / 25.4 * m_nPrinterDpiX));
  int32_t width = 0, height = 0;
  if (platform::ui::pictureSize(m_strLogoPath, &width, &height)) {
    width = static_cast<int32_t>(m_nLogoRate / 100.0 * width);
    height = static_cast<int32_t>(m_nLogoRate / 100.0 * height);
    if (width > 0 && height > 0 && m_pPrinterDC->drawPicture(m_strLogoPath, left, 0, width, height)) return height;
    return 0;
  }
  // No built-in picture comes with the program: a logo that does not load
  // leaves the top of the receipt empty.
  return 0;
}

void CReceiptPrinter::FlushPrintRun(int32_t column, std::string& run) {
  if (run.empty()) return;
  if (m_pPrinterDC) {
    const int32_t wide = m_nPrintStyle >= 2 ? 2 : 1;
    m_pPrinterDC->textOut(m_nPrintX, m_nPrintY, run, m_nCharWidth * wide);
    if (m_nPrintStyle == 1 || m_nPrintStyle == 3) {
      const int32_t pen = ceilDiv(m_nLineHeight, m_nPrintStyle == 1 ? 16 : 12);
      const int32_t y = m_nPrintY + m_nLineHeight - ceilDiv(m_nLineHeight, 6);
      const int32_t length = static_cast<int32_t>(run.size()) * m_nCharWidth * wide;
      m_pPrinterDC->line(m_nPrintX, y, m_nPrintX + length, y, pen, kBlack);
    }
  }
  run.clear();
  m_nPrintX = column * m_nCharWidth;
}

void CReceiptPrinter::SetPrintStyle(int32_t column, std::string& run, int32_t doubleWidth, int32_t underline) {
  FlushPrintRun(column, run);
  const int32_t style = (doubleWidth ? 2 : 0) + (underline ? 1 : 0);
  const platform::ui::PrinterFont* font = m_pFontNormal.get();
  if (style == 1) font = m_bPrnUnderLine ? m_pFontNormal.get() : m_pFontUnderline.get();
  if (style == 2) font = m_pFontDouble.get();
  if (style == 3) font = m_bPrnUnderLine ? m_pFontDouble.get() : m_pFontDoubleUnderline.get();
  SelectPrintFont(font ? font : m_pFontNormal.get());
  m_nPrintStyle = style;
}

void CReceiptPrinter::SendPassThrough(const std::string& text) {
  if (!m_pPrinterDC) return;
  std::string bytes;
  DecodeControlText(text, &bytes);
  // The driver takes the bytes in pieces of at most 4,096; a longer command
  // goes out whole, piece after piece.
  for (size_t at = 0; at < bytes.size(); at += kPassThroughChunk)
    m_pPrinterDC->passThrough(bytes.substr(at, kPassThroughChunk));
}

void CReceiptPrinter::PrintReceiptText(const std::string& text, const char* heldPath, int32_t noLogo) {
  if (!m_bPrinterReady || !m_pFontNormal) return;
  const bool drawerOnly = text.size() == 2 && text[0] == kFF && text[1] == kFF;
  if (drawerOnly && !((m_pFontCtrl || m_bPassThrough) && !m_strPrnCtrlDrawer.empty())) return;

  if (m_pPrinterDC) {
    SelectPrintFont(m_pFontNormal.get());
    m_nPrintStyle = 0;
  } else if (!OpenPrintJob(heldPath, noLogo)) {
    return;
  }
  const platform::ui::PrinterFont* previous = m_pFontNormal.get();

  std::string run;
  int32_t col = m_nCharWidth > 0 ? m_nPrintX / m_nCharWidth : 0;
  bool doubleWidth = false, underline = false, escape = false, formFeed = false;
  int lead = -1;
  auto newLine = [&] {
    FlushPrintRun(col, run);
    m_nPrintY += m_nLineHeight;
    m_nPrintX = 0;
    col = 0;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (escape) {
      escape = false;
      if (b == 'X') {
        SetPrintStyle(col, run, doubleWidth, 1);
        underline = true;
      } else if (b == 'Y') {
        SetPrintStyle(col, run, doubleWidth, 0);
        underline = false;
      }
    } else if (lead >= 0) {
      run += static_cast<char>(lead);
      run += static_cast<char>(b);
      lead = -1;
      col += doubleWidth ? 4 : 2;
    } else if (b == kCR || b == kLF) {
      if (b == kCR && i + 1 < text.size() && text[i + 1] == kLF) ++i;
      newLine();
    } else if (b == kFF) {
      formFeed = true;
      break;
    } else if (b == kSO || b == kSI) {
      doubleWidth = b == kSO;
      SetPrintStyle(col, run, doubleWidth, underline);
    } else if (b == kESC) {
      escape = true;
    } else if (platform::cp932::charLength(text, i) == 2) {
      lead = b;
    } else {
      run += static_cast<char>(b);
      col += doubleWidth ? 2 : 1;
    }
    if (col >= m_nPrnCol) newLine();
  }

  if (formFeed) {
    FlushPrintRun(col, run);
    if (col > 0) {
      m_nPrintY += m_nLineHeight;
      m_nPrintX = 0;
    }
    EndOfReceipt(col, heldPath, drawerOnly);
    return;
  }
  FlushPrintRun(col, run);
  SelectPrintFont(previous);
  m_nPrintStyle = 0;
  if (m_bPrintEachLine) EndPrintJob();
}

void CReceiptPrinter::EndOfReceipt(int32_t column, const char* heldPath, bool drawerOnly) {
  (void)column;
  if (heldPath) {
    m_nPrintY += m_nLineHeight;
    const std::string name = heldBaseName(heldPath);
    char pattern[64] = {};
    const int32_t elements =
        name.size() >= 13 ? BarCodeMake(BARCODE_EAN, name.c_str(), 13, pattern, sizeof pattern) : 0;
    int32_t left = 0;
    bool bars = false;
    if (elements > 0) {
      const int32_t module = ceilDiv(26 * m_nCharWidth, 166);
      int32_t total = 0;
      for (int32_t i = 0; i < elements; ++i) total += pattern[i] - '0';
      int32_t x = std::max(0, (m_nPrnCol * m_nCharWidth - module * total) / 2);
      left = x;
      for (int32_t i = 0; i < elements; ++i) {
        const int32_t width = (pattern[i] - '0') * module;
        if (i % 2 == 1 && width > 0) m_pPrinterDC->fillRect(x, m_nPrintY, width, module * 35, kBlack);
        x += width;
      }
      (void)kWhite;
      m_nPrintY += module * 35;
      bars = true;
    }
    std::string run;
    SetPrintStyle(0, run, 0, 0);
    m_nPrintX = bars ? left : 0;
    std::string line;
    if (bars && name.size() == 13) {
      line = name.substr(0, 2) + " " + name.substr(2, 5) + " " + name.substr(7, 5) + " " + name.substr(12, 1);
    } else {
      line = "管理コード：" + name;
    }
    m_pPrinterDC->textOut(m_nPrintX, m_nPrintY, line, m_nCharWidth);
    m_nPrintY += m_nLineHeight;
    m_nPrintX = 0;
  }

  if (m_pFontCtrl) {
    SelectPrintFont(m_pFontCtrl.get());
    if (heldPath && !m_strPrnCtrlCut.empty()) {
      m_pPrinterDC->textOut(m_nPrintX, m_nPrintY, m_strPrnCtrlCut, m_nCharWidth);
    } else {
      if (!drawerOnly && !m_strPrnCtrlCut.empty()) {
        m_pPrinterDC->textOut(m_nPrintX, m_nPrintY, m_strPrnCtrlCut, m_nCharWidth);
        m_nPrintX = m_nCharWidth;
      }
      if (drawerOnly || m_bDrawerRequest) {
        m_bDrawerRequest = 0;
        if (!m_strPrnCtrlDrawer.empty())
          m_pPrinterDC->textOut(m_nPrintX, m_nPrintY, m_strPrnCtrlDrawer, m_nCharWidth);
      }
    }
    SelectPrintFont(m_pFontNormal.get());
  } else {
    SelectPrintFont(m_pFontNormal.get());
    if (m_bPassThrough) {
      if (heldPath && !m_strPrnCtrlCut.empty()) {
        SendPassThrough(m_strPrnCtrlCut);
      } else {
        if (!drawerOnly && !m_strPrnCtrlCut.empty()) SendPassThrough(m_strPrnCtrlCut);
        if (drawerOnly || m_bDrawerRequest) {
          m_bDrawerRequest = 0;
          SendPassThrough(m_strPrnCtrlDrawer);
        }
      }
    }
  }
  m_nPrintStyle = 0;
  EndPrintJob();
}

}  // namespace varnex::reg
