// The register's printing: receipts, tickets and reports on the receipt
// printer. The application object carries it (CREGApp derives from it): the
// print settings and fonts of the printer set-up, the open print job, the
// receipt text of a sale's lines, the receipt head with its formal receipt
// block, the system lines and the tax-inclusive printing, report lines, the
// held-sale ticket and the settings printout.
//
// Receipt text is code page 932 with a few in-band control bytes: 0x0E double
// width on, 0x0F off; ESC 'X' underline on, ESC 'Y' off (ESC and any other
// byte: both dropped); CR, LF or CR LF end a line; a form feed ends the
// receipt (nothing after it prints) and is followed by the held-sale barcode,
// the paper cut and the drawer. A text of exactly two form feeds only opens
// the drawer. Item, total and footer lines are as wide as the paper (46, 42,
// 35 or 30 columns) without a line end of their own: the job wraps them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "zemta/memory.h"

namespace platform::ui {
class RollPrintJob;
struct PrinterFont;
}  // namespace platform::ui

namespace varnex::reg {

class CRegCom;

// The profile section of the register's settings.
inline constexpr const char* kSettingsSection = "Settings";
// The folder under the data folder that takes the receipts when no printer is set up.
inline constexpr const char* kReceiptFolder = "receipts";

// Turns escape text ("\\x1B\\x69", "\\r\\n", "\\\\") into bytes: at most 4,096
// of them go into output. Decoding stops at a backslash followed by anything
// else, or at an x escape without two hexadecimal digits; what was decoded
// before is kept. Returns the byte count.
int32_t DecodeControlText(const std::string& text, std::string* output);

class CReceiptPrinter {
 public:
  CReceiptPrinter();
  virtual ~CReceiptPrinter();
  CReceiptPrinter(const CReceiptPrinter&) = delete;
  CReceiptPrinter& operator=(const CReceiptPrinter&) = delete;

  // What printing needs of the rest of the program: the engine (settings
  // record, clerk in charge, commit) and the main frame's SA request bits.
  void SetPrintEngine(CRegCom* engine) { m_pPrintEngine = engine; }
  void SetSaRequestSink(std::function<void(uint32_t)> raise) { m_raiseSaRequest = std::move(raise); }

  // ---- start-up settings that printing reads (section "Settings") ----
  void LoadReceiptSettings();

  // ---- printer set-up ----
  void LoadPrinterSettings();

  // ---- the print job ----
  // Prints one piece of receipt text. heldPath: the held sale's file, whose
  // base name is printed as a barcode at the end of the receipt. noLogo:
  // no logo when this call starts a new job.
  void PrintReceiptText(const std::string& text, const char* heldPath = nullptr, int32_t noLogo = 0);
  void FlushPrintRun(int32_t column, std::string& run);
  void SetPrintStyle(int32_t column, std::string& run, int32_t doubleWidth, int32_t underline);
  int32_t PrintLogo();
  void SendPassThrough(const std::string& text);
  // Ends a job still open at exit: the page is ended and the document dropped.
  void AbortPrintJob();
  // A receipt or report is being printed: its job is open.
  bool PrintJobOpen() const { return m_pPrinterDC != nullptr; }
  // The PDF file of the last finished receipt (PDF target only).
  const std::string& LastPrintFile() const { return m_strLastPrintFile; }

  // ---- receipt text ----
  // 0, or -1 when the block cannot be read or its last record in range is not
  // a closing record. kindWord: low byte the receipt kind (0 as the settings'
  // receipt form says, 1 formal receipt only, 2 formal block at the end, 3
  // formal receipt with details), bit 8 the proviso line.
  int32_t PrintReceipt(MemoryBlockHandle block, int32_t force, int32_t first, int32_t end, uint32_t kindWord,
                       int32_t reprint, const char* proviso);
  std::string BuildLineText(const void* line, int32_t kind, const void* heading, int32_t alwaysName);
  static void InsertSpaces(std::string& text, int32_t count, int32_t position);
  static void InsertAmount(std::string& text, int32_t value, int32_t width, int32_t position);

  // ---- receipt head, message lines, formal block ----
  // date: in, the date word to print (0: today, set on return).
  void BuildReceiptHead(std::string& text, uint16_t mode, uint16_t* date, int32_t total, uint32_t kindWord,
                        const void* heading, const char* proviso);
  std::string BuildFormalBlock(int32_t total, int32_t provisoFlag, const void* heading, const char* proviso);
  std::string BuildMessageLines(int32_t trailing);
  std::string FitPrintLine(const char* source, int32_t length);

  // ---- system lines ----
  void MakeSystemLine(void* line, uint16_t kind, int32_t amount, int32_t voidFlag);

  // ---- held-sale ticket and settings printout ----
  int32_t PrintHeldSale(MemoryBlockHandle block, int32_t items, int32_t amount, const char* heldPath);
  int32_t PrintSettingsFile(int32_t viewMode);

  // ---- settings (section "Settings") ----
  std::string m_strPrnCtrlCut;      // "Prn Ctrl Cut"
  std::string m_strPrnCtrlDrawer;   // "Prn Ctrl Drawer"
  int32_t m_nPrnCol = 46;           // "Prn Col" as columns: 46, 42, 35 or 30
  int32_t m_nPrnPitch = 1;          // "Prn Pitch": 1 120 %, 2 140 %, other 100 %
  int32_t m_bPrnFncn = 0;           // "Prn Fncn": department lines by their display name
  int32_t m_nPrnFeed = 1;           // "Prn Feed"
  int32_t m_bPrnBlank = 0;          // "Prn Blank": blank lines at the top
  int32_t m_bPrnUnderLine = 0;      // "Prn Under Line": 1 underline only as a drawn line
  int32_t m_bPrnUchiHen = 0;        // "Prn Uchi Hen": tax-exclusive items printed tax-inclusive
  std::string m_strPrnName;         // "Prn Name": CUPS queue; empty: the default one
  int32_t m_nPaperWidth = 800;      // tenths of a millimetre
  int32_t m_bNarrowLayout = 0;
  int32_t m_bPrinterFontSize = 0;
  std::unique_ptr<platform::ui::PrinterFont> m_pFontNormal, m_pFontUnderline, m_pFontDouble,
      m_pFontDoubleUnderline, m_pFontCtrl;
  int32_t m_bPassThrough = 0;
  int32_t m_bPrinterReady = 0;

  // Start-up settings read by printing.
  int32_t m_bUseSA = 0;             // "Use SA"
  int32_t m_bPrnSA = 0;             // "Prn SA": receipt text goes to the SA device
  int32_t m_bTaxDetail = 0;         // "Tax Detail"
  int32_t m_bRollbackView = 0;      // "Rollback View"
  std::string m_strTaxOut = "    "; // "Tax Out": one mark per tax class
  std::string m_strTaxIn = "xxxx";  // "Tax In"
  std::string m_strLogoPath;        // "Logo Path"
  int32_t m_nLogoOffset = 0;        // "Logo Offset", millimetres
  int32_t m_nLogoRate = 100;        // "Logo Rate", per cent

  // Print flags of the application.
  int32_t m_bReceiptOn = 1;
  int32_t m_bPrintEachLine = 0;
  int32_t m_bDrawerRequest = 0;
  std::string m_strSaPrintText;

  // Tax-inclusive state: classes seen with tax included, and the sale totals
  // block of the tax-included amounts (word 2 serves as the stop flag).
  int32_t m_abTaxIncSeen[4] = {};
  int32_t m_anTaxIncTotals[28] = {};

  // ---- the open job ----
  std::unique_ptr<platform::ui::RollPrintJob> m_pPrinterDC;
  int32_t m_nPrintStyle = 0;
  int32_t m_nCharWidth = 0;
  int32_t m_nLineHeight = 0;
  int32_t m_nPrintX = 0;
  int32_t m_nPrintY = 0;

 protected:
  CRegCom* m_pPrintEngine = nullptr;
  std::function<void(uint32_t)> m_raiseSaRequest;

 private:
  // Sends a piece to the SA print text or the printer and raises the SA request.
  void RoutePrintText(const std::string& text, const char* heldPath = nullptr, int32_t noLogo = 0);
  void RaiseSaRequest(uint32_t bits) {
    if (m_raiseSaRequest) m_raiseSaRequest(bits);
  }
  bool OpenPrintJob(const char* heldPath, int32_t noLogo);
  void EndPrintJob();
  void SelectPrintFont(const platform::ui::PrinterFont* font);
  void EndOfReceipt(int32_t column, const char* heldPath, bool drawerOnly);
  void ConvertTaxInclusive(uint8_t* line, bool* suppress);
  std::string BuildCustomerLine(const uint8_t* line, int32_t alwaysName);
  std::string BuildDoubleWidthLine(const uint8_t* line);
  std::string BuildItemLine(const uint8_t* line);
  std::string BuildReportLine(const uint8_t* line);
  std::string BuildReportItemLine(const uint8_t* line);
  std::string BuildReportTotalLine(const uint8_t* line);
  std::string BuildFreeTextLine(const uint8_t* line);
  std::string BuildReportHeadingLine(const uint8_t* line);
  std::string BuildSeparatorLine(const uint8_t* line);
  std::string BuildFooter(const uint8_t* line, int32_t kind, const void* heading);
  std::string PrintFolder() const;
  std::string NextPrintFileName();
  const uint8_t* GeneralSettings() const;
  int32_t ReceiptForm() const;
  std::string StoreName() const;

  std::string m_strPrnFont, m_strPrnFontDbl, m_strPrnFontCtrl;
  const platform::ui::PrinterFont* m_pSelectedFont = nullptr;
  int32_t m_nPrinterDpiX = 203, m_nPrinterDpiY = 203, m_nPrinterOffsetX = 0, m_nPrinterWidth = 0;
  std::string m_strLastPrintFile;
  uint32_t m_nPrintSequence = 0;
};

}  // namespace varnex::reg
