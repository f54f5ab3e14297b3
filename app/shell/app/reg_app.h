// CREGApp: the register program's application object, one per process.
//
// It starts the program (InitInstance: settings of section "Settings", the
// main frame, the first-run restore, the data engine, the project, the index
// check after an abnormal end, fonts, the picture folder, the three serial
// devices), keeps the settings for the rest of the run, asks the screens
// whether the program may close (SaveAllModified) and shuts down in order
// (ExitInstance). The printing it carries is its base CReceiptPrinter; the
// sales list's column texts are in line_columns.cpp.
//
// The mode frames, the manager sign-on dialog, the function-key accelerators
// and the customer display come later; they hang off the hooks below.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/register/print/receipt_printer.h"
#include "app/register/view/sale_display.h"
#include "platform/base/file.h"
#include "platform/ui/types.h"
#include "platform/ui/window.h"

class CSerial;

namespace varnex::reg {
class CRegCom;
}

namespace varnex::shell {

// Widths of the sales list's columns in bytes.
inline constexpr size_t kColumnName = 24;
inline constexpr size_t kColumnQuantity = 8;
inline constexpr size_t kColumnQuantityCompact = 22;
inline constexpr size_t kColumnUnitPrice = 14;
inline constexpr size_t kColumnAmount = 24;
// The single-row form: name from byte 0; quantity, unit price and amount
// ending at these bytes.
inline constexpr size_t kRowQuantityEnd = 32;
inline constexpr size_t kRowUnitPriceEnd = 46;
inline constexpr size_t kRowWidth = 70;

class CMainFrame;
class CCdFrm;
class SortedRecordList;

// The device flags that "CD Device" selects.
struct DisplayDevice {
  int32_t secondDisplay = 0;  // the sub-display window on a second monitor
  int32_t dmd = 0;            // an EPSON DM-D pole display
  int32_t kanji = 0;          // the display shows kanji texts
  int32_t idleOption = 0;     // sub-display window: 0 normal, 1 hide idle display, 2 hidden while idle
};
DisplayDevice SelectDisplayDevice(const std::string& device, const std::string& cdPort);

// The reserve class code of a "Reserve Name Class" value: empty, "02", or n + 18.
std::string ReserveClassCode(int32_t reserveNameClass);

// A copy of the text with blanks appended until it is at least 4 bytes long.
std::string PadMark(const std::string& text);

// What an image import did: the files looked at and the pictures written.
struct ImportResult {
  int32_t candidates = 0;
  int32_t imported = 0;
};

class CREGApp : public reg::CReceiptPrinter {
 public:
  CREGApp();
  ~CREGApp() override;
  CREGApp(const CREGApp&) = delete;
  CREGApp& operator=(const CREGApp&) = delete;

  // The one application object of the process (null when none is made).
  static CREGApp* Instance();

  // ---- start-up and shut-down (app_startup.cpp) ----
  // Start-up; false ends the program before the message loop (after the
  // message that says why). ExitInstance must run in either case.
  bool InitInstance();
  // Asks the screens whether the program may close and saves the window
  // placement; false keeps the program open.
  bool SaveAllModified();
  // Frees what start-up made, closes the serial ports.
  int ExitInstance();
  // Closes the main window as its close button does: SaveAllModified, then
  // the window goes. False when the close was refused.
  bool CloseMainWindow();
  // Asks the main window to close once the current message is done (the end
  // of the day's settlement); powerOff: the machine powers off after the
  // program has closed down in order (ExitInstance). A refused close
  // forgets the power-off.
  void CloseMainWindowLater(int32_t powerOff);
  // Set by CloseMainWindowLater: ExitInstance powers the machine off last.
  int32_t m_bPowerOffAtExit = 0;

  // ---- settings (app_settings.cpp) ----
  // Steps of start-up that read the profile: every key with its default.
  void ReadDeviceSettings();
  void ReadDisplaySettings();
  void ReadFileSettings();
  void ReadReserveSettings();
  void MakeReserveClassCode();

  // ---- services for the views (view_services.cpp) ----
  // The path of a held-sale file: "Reserve Path" and the name, or the name
  // in the project's file folder when that setting is empty. out holds 260
  // bytes. 1, or 0 when no path can be built.
  int32_t GetReservePath(char* out, const char* name);
  // Holds a held-sale file brought back under class 0 open for this
  // register alone (no other may read or write it) and remembers its path.
  // false when it cannot be held.
  bool HoldReserveFile(const std::string& path);
  // Lets go of the held-sale file the register keeps open (class 0).
  void ReleaseReserveFile();
  // At the end of a held sale brought back under class 0: the held file is
  // closed and deleted, or emptied to its heading ("Reserve Trancate"); the
  // frame gets its mode title again (titled: called with the new title).
  void CloseReserveFile(uint16_t modeCode, const std::function<void(const std::string&)>& titled);
  // The in-store code of a PLU record being added: "02" (or the two digits
  // typed) + the next free ten-digit number + check digit, when the code has
  // at most two characters. 1 numbered, 0 left alone, -1 no number is left
  // (after the message).
  int32_t AssignPluCode(void* record);

  // ---- general settings, tax rates, link state (general_settings.cpp) ----
  // 1 on success, 0 on failure (reported through the engine).
  int32_t LoadGeneralSettings();
  // 1 when the link is usable (linked, or none wanted), 0 when it was dropped.
  int32_t ODBCUpdate(const char* newConnect);
  // Upgrades "LocDat\POS_BAS.DBF" of the working folder for barcode payment
  // and records it in "PayPay support"; the folder form leaves the profile.
  void UpgradeBaseDataFile();
  static void UpgradeBaseDataFile(const char* folder);

  // ---- Tools and File commands (tools_commands.cpp, settings_commands.cpp) ----
  HWND MainWindow() const;
  void OnBackupDatabase();
  void OnRestoreDatabase();
  void OnCheckIndexes();
  // The pictures of a folder into the picture folder as JPEG files (shrunk
  // to "BMP Width" x "BMP Height" unless the title begins with "CD").
  ImportResult ImportImages(const std::string& folder);
  void OnImportImages();
  // The hand-off token of the sales-slip program: 8 capital letters.
  static std::string SalesSlipToken(uint16_t managerNumber, uint16_t pin);
  // The sales-slip program's command line for the manager signed on.
  std::string SalesSlipCommandLine(const std::string& link, const std::string& action) const;
  void OnSalesSlipProcessing();
  void OnPrintFormat();
  void OnOptions();
  void OnPeripherals();
  // Closes the three serial ports and opens them again with the stored
  // settings (a port that fails says so and stays closed).
  void ReopenSerialPorts();
  void OnImageSize();
  void OnLogoFile();
  void OnSalesSlipLink();

  // ---- where things are (tests choose their own) ----
  // The program's folder, where the first-run backup "Varnex.dbk" lies;
  // empty: the folder of the running program.
  std::string m_strProgramFolder;
  // The working folder (data folder of the project, "LocDat\", "Thumbnails",
  // "hlp\"); empty: the engine's default data folder.
  std::string m_strWorkFolder;
  // The working folder in use once start-up has chosen it (with a separator).
  const std::string& WorkFolder() const { return m_strWorkFolderInUse; }

  // ---- hooks of the screens built later ----
  // Opens or activates the frame of a view mode (flag 1: re-open); 0 when it
  // did not open. Unset: no mode frames yet.
  std::function<int32_t(int32_t mode, int32_t flag)> m_fnOpenModeView;
  // Builds the function-key layout accelerators; false fails start-up.
  std::function<bool()> m_fnBuildAccelerators;
  // Makes the modeless manager-selection dialog owned by the main frame and
  // returns it (null when it cannot be made).
  std::function<HWND(HWND owner)> m_fnCreateAccountDialog;
  // Runs the clerk-code dialog (after the rights check of the command).
  std::function<void(HWND owner)> m_fnMakeClerkCode;
  int32_t OpenModeView(int32_t mode, int32_t flag);

  // ---- objects start-up makes ----
  CMainFrame* m_pMainFrame = nullptr;
  CSerial* m_pSerialSA = nullptr;
  CSerial* m_pSerialJET = nullptr;
  CSerial* m_pSerialCD = nullptr;
  int32_t m_bOpenSA = 0, m_bOpenJET = 0, m_bOpenCD = 0;
  HWND m_hAccountDlg = nullptr;   // the modeless manager-selection dialog
  HWND m_hTenKeyDlg = nullptr;    // the floating ten-key pad
  // Whether a touch at (x, y) of the view (screen coordinates when screen is
  // set) is to be left alone: it lies over the floating pad, which floats
  // above the view while the view holds the mouse, or the view is not where
  // the clerk is typing (the focus is in another window).
  bool IsOverTenKeyPad(HWND view, bool screen, int32_t x, int32_t y) const;
  // The screen fonts 1 to 5: face (code page 932) and height in pixels.
  struct ScreenFont {
    std::string face;
    int32_t height = 0;
  };
  ScreenFont m_Fonts[5];

  // ---- texts ----
  std::string m_strProductVersion, m_strLegalNotice;
  std::string m_strMsgCD, m_strReservePath, m_strReserveClassCode, m_strReserveFile;
  std::string m_strPicturePath;   // "Thumbnails" folder with a trailing separator
  std::string m_strSaPort, m_strJetPort, m_strJetSpeed, m_strCdPort;
  std::string m_strSaText;        // pending text of the SA device

  // ---- flags ----
  int32_t m_bStartupOpening = 0;
  // The mode whose frame took an interrupted sale over while the program
  // started (0: none): that frame is the one in front when start-up ends.
  int32_t m_nResumedMode = 0;
  int32_t m_bManagerSelected = 0;
  int32_t m_bHistory = 1;
  int32_t m_bJetInterface = 0;
  int32_t m_nLastShownMode = -1;
  int32_t m_bPadShown = 0;
  DisplayDevice m_Display;

  // ---- profile words ----
  int32_t m_bBigDialog = 0, m_bRollback = 0, m_bInputIncludPrice = 0, m_bCastCodeIMC = 0, m_bTenKey = 0;
  int32_t m_bHideFunctionName = 0, m_bHideFunctionKey = 0, m_bHideFunctionFKey = 0, m_bHideHistory = 0;
  int32_t m_nKeyHeight = 75, m_nKeyNumber = 12, m_bKeyDisplay = 0;
  int32_t m_nJetInterface = 0, m_nJetSequenceNumber = 1, m_bUseJET = 0, m_bUseCD = 0;
  int32_t m_nBmpWidth = 133, m_nBmpHeight = 100, m_bDspCD = 0;
  int32_t m_nReserveNameClass = 0, m_bReserveTrancate = 0, m_nListFontHeight = 16, m_bUchiHen = 0;
  int32_t m_bCasNoTimeout = 0;

  // The texts of one 96-byte line record for the sales list: name, quantity,
  // unit price and amount; each out may be null.
  // - Compact form: name, quantity and unit price given, amount null: the
  //   quantity is 22 bytes wide and the amount goes to the unit-price out.
  // - Single-row form: only the name given: it receives the whole 70-byte row.
  // The record is read only.
  // (line_columns.cpp)
  void GetLineColumns(const void* record, std::string* name, std::string* quantity, std::string* unitPrice,
                      std::string* amount) const;

  // The data engine (owned by the shell; null before it is made).
  reg::CRegCom* m_pRegCom = nullptr;

  // ---- the customer display (app/shell/display/customer_display.cpp) ----
  // Opens, feeds or closes the window on the second monitor and rebuilds
  // its picture list (bUpdate 0); bUpdate 1 with lParam a line record shows
  // the sale, with lParam 0 the idle state.
  void OpenCustomerDisplay(int32_t bUpdate, WPARAM wParam, LPARAM lParam);
  // The DM-D display's device fonts (names kept, see the README).
  void CreateDisplayFonts();
  // At shut-down: the window and the picture list.
  void CloseCustomerDisplay();
  CCdFrm* m_pCdFrm = nullptr;                       // the window, null while none is open
  std::unique_ptr<SortedRecordList> m_pCdPictures;  // idle pictures in order
  platform::ui::Rect m_rcCdMonitor;                 // the monitor the window went to
  std::string m_strCdText;                          // pending pole-display text (two 20-byte lines)
  std::vector<std::string> m_DisplayFonts;          // the DM-D device fonts made

 private:
  // The register's sale changes reach the display through this hook.
  struct SaleDisplayHook : reg::SaleDisplay {
    CREGApp* app = nullptr;
    void SaleChanged(const void* line, const std::string& poleText) override;
  } m_saleDisplay;

 public:

 private:
  bool FirstRunRestore();
  bool RefuseSecondInstance();
  void OpenSerialPorts();
  std::string m_strWorkFolderInUse;
  std::unique_ptr<reg::CRegCom> m_engine;
  // The held-sale file kept open while its sale is on screen (class 0).
  std::unique_ptr<platform::File> m_pReserveHeld;
};

}  // namespace varnex::shell
