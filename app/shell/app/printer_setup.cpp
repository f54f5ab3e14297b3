// Printer set-up: the print settings of section "Settings", the receipt
// printer, its five fonts, how the cutter and drawer commands reach it, and
// whether it is ready. Runs at start-up and after the print-format and
// peripherals dialogs; each run replaces the fonts of the one before.
#include <cmath>
#include <cstring>

#include "app/register/engine/reg_com.h"
#include "app/register/print/receipt_printer.h"
#include "platform/base/cp932.h"
#include "platform/base/path.h"
#include "platform/base/profile.h"
#include "platform/ui/roll_printer.h"

namespace varnex::reg {

namespace {

bool startsWithJapanese(const std::string& face) {
  return platform::cp932::startsWithNoCase(face, "japanese");
}

}  // namespace

void CReceiptPrinter::LoadReceiptSettings() {
  const platform::Profile& profile = platform::Profile::of(platform::ProfileScope::User);
  const std::string s = kSettingsSection;
  m_bUseSA = static_cast<int32_t>(profile.getInt(s, "Use SA", 0));
  m_bPrnSA = static_cast<int32_t>(profile.getInt(s, "Prn SA", 0));
  m_bTaxDetail = static_cast<int32_t>(profile.getInt(s, "Tax Detail", 0));
  m_bRollbackView = static_cast<int32_t>(profile.getInt(s, "Rollback View", 0));
  m_strTaxOut = profile.getString(s, "Tax Out", "    ");
  m_strTaxIn = profile.getString(s, "Tax In", "xxxx");
  m_strLogoPath = profile.getString(s, "Logo Path", "");
  m_nLogoOffset = static_cast<int32_t>(profile.getInt(s, "Logo Offset", 0));
  m_nLogoRate = static_cast<int32_t>(profile.getInt(s, "Logo Rate", 100));
}

void CReceiptPrinter::LoadPrinterSettings() {
  m_bPrinterReady = 0;
  const platform::Profile& profile = platform::Profile::of(platform::ProfileScope::User);
  const std::string s = kSettingsSection;
  m_strPrnCtrlCut = profile.getString(s, "Prn Ctrl Cut", "");
  m_strPrnCtrlDrawer = profile.getString(s, "Prn Ctrl Drawer", "");
  const int64_t col = profile.getInt(s, "Prn Col", 1);
  m_nPrnCol = col > 0 ? 46 : col == 0 ? 42 : col == -1 ? 35 : 30;
  m_nPaperWidth = m_nPrnCol >= 42 ? 800 : 580;
  m_nPrnPitch = static_cast<int32_t>(profile.getInt(s, "Prn Pitch", 1));
  m_bPrnFncn = static_cast<int32_t>(profile.getInt(s, "Prn Fncn", 0));
  m_nPrnFeed = static_cast<int32_t>(profile.getInt(s, "Prn Feed", 1));
  m_bPrnBlank = static_cast<int32_t>(profile.getInt(s, "Prn Blank", 0));
  m_bPrnUnderLine = static_cast<int32_t>(profile.getInt(s, "Prn Under Line", 0));
  m_bPrnUchiHen = static_cast<int32_t>(profile.getInt(s, "Prn Uchi Hen", 0));
  m_strPrnName = profile.getString(s, "Prn Name", "");
  m_strPrnFont = profile.getString(s, "Prn Font", "");
  m_strPrnFontDbl = profile.getString(s, "Prn Font Dbl", "");
  m_strPrnFontCtrl = profile.getString(s, "Prn Font Ctrl", "");
  m_bUseSA = static_cast<int32_t>(profile.getInt(s, "Use SA", m_bUseSA));
  m_bPrnSA = static_cast<int32_t>(profile.getInt(s, "Prn SA", m_bPrnSA));
  m_bNarrowLayout = (m_nPrnCol < 42 || m_bPrnFncn) ? 1 : 0;

  m_pSelectedFont = nullptr;
  m_pFontNormal.reset();
  m_pFontUnderline.reset();
  m_pFontDouble.reset();
  m_pFontDoubleUnderline.reset();
  m_pFontCtrl.reset();
  m_bPassThrough = 0;

  // Receipts that go to the SA device never reach a printer.
  if (m_bUseSA && m_bPrnSA) return;

  platform::ui::RollPaper paper;
  paper.widthTenthMm = m_nPaperWidth;
  const platform::ui::PrinterCaps caps = platform::ui::probePrinter(m_strPrnName, PrintFolder(), paper);
  if (!caps.available) return;
  m_nPrinterDpiX = caps.dotsPerInchX;
  m_nPrinterDpiY = caps.dotsPerInchY;
  m_nPrinterOffsetX = caps.physicalOffsetX;
  m_nPrinterWidth = caps.printableWidth;

  int32_t height = 0, width = 0;
  if (startsWithJapanese(m_strPrnFont)) {
    m_bPrinterFontSize = 1;
  } else {
    m_bPrinterFontSize = 0;
    const double u = m_nPaperWidth / 294.132 / m_nPrnCol;
    width = static_cast<int32_t>(std::floor(u * m_nPrinterDpiX));
    height = static_cast<int32_t>(std::floor(u * 2.5 * m_nPrinterDpiY));
  }
  auto make = [](const std::string& face, int32_t h, int32_t w, bool underline) {
    auto font = std::make_unique<platform::ui::PrinterFont>();
    font->face = face;
    font->height = h;
    font->width = w;
    font->underline = underline;
    return font;
  };
  m_pFontNormal = make(m_strPrnFont, height, width, false);
  if (!m_bPrnUnderLine) m_pFontUnderline = make(m_strPrnFont, height, width, true);
  int32_t dblHeight = 0, dblWidth = 0;
  if (m_strPrnFontDbl == m_strPrnFont && m_pFontNormal && (m_bPrnUnderLine || m_pFontUnderline)) {
    const platform::ui::PrinterFontMetrics m = platform::ui::fontMetrics(*m_pFontNormal, m_nPrinterDpiY);
    dblHeight = m.height;
    dblWidth = 2 * m.averageCharWidth;
  }
  m_pFontDouble = make(m_strPrnFontDbl, dblHeight, dblWidth, false);
  if (!m_bPrnUnderLine) m_pFontDoubleUnderline = make(m_strPrnFontDbl, dblHeight, dblWidth, true);
  if (!m_strPrnFontCtrl.empty()) {
    m_pFontCtrl = make(m_strPrnFontCtrl, 0, 0, false);
    m_bPassThrough = 0;
  } else {
    m_bPassThrough = caps.passThrough ? 1 : 0;
  }

  const bool fonts = m_pFontNormal && m_pFontDouble && (m_bPrnUnderLine || (m_pFontUnderline && m_pFontDoubleUnderline));
  const bool commands = !m_strPrnCtrlCut.empty() || !m_strPrnCtrlDrawer.empty();
  m_bPrinterReady = fonts && (commands || !m_pFontCtrl) ? 1 : 0;
}

std::string CReceiptPrinter::PrintFolder() const {
  std::string folder = m_pPrintEngine && !m_pPrintEngine->DataFolder().empty() ? m_pPrintEngine->DataFolder()
                                                                                : DefaultDataFolder();
  if (folder.empty()) return folder;
  return platform::withSeparator(folder, '/') + kReceiptFolder;
}

}  // namespace varnex::reg
