// CRegSale: the register's key path and its open sale, without a window.
//
// Every key the clerk presses (keyboard, touch key, picker, menu command)
// arrives here as one 16-bit key code and goes through the mode gate, the
// opening of a sale and the dispatcher, which runs the key's register
// function. A register function checks the key against its mask
// (CheckKeyEntry), builds the current line record and writes it through
// WriteLine, which keeps four things in step: the line block in memory, the
// temporary transaction file on disk, the sales list and the line count. A
// tender that covers the rounded total, or an in/out line, completes the
// sale inside WriteLine: change line, points lines, the commit through the
// engine, the receipt and the customer displays.
//
// The screen around the sale (sales list, totals pane, status text, menus,
// beeps, device requests) is reached through the SaleScreen interface, so a
// test can drive a whole sale with or without a window; CRegView is the
// window that implements it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/records.h"
#include "zemta/filedb.h"
#include "zemta/memory.h"

namespace varnex::shell {
class CREGApp;
}

namespace varnex::reg {

class CRegCom;

// Menu and accelerator tables of a registration frame: while a sale is open,
// and otherwise.
inline constexpr int32_t kSaleMenu = 126, kIdleMenu = 122;

// Refusal codes of the register's error line.
enum RegError : int32_t {
  kErrBadHandle = 1,
  kErrUnsupported = 2,
  kErrOdbc = 3,
  kErrPriceTagSettings = 12,
  kErrOdbcLinkSettings = 13,
  kErrOrderSettings = 14,
  kErrModeRefund = 100,
  kErrModeRegister1 = 101,
  kErrModeRegister2 = 102,
  kErrEntryPresent = 103,
  kErrEntryMissing = 104,
  kErrNoOverride = 105,
  kErrDigitLimit = 106,
  kErrClosed = 107,
  kErrTaxService = 108,
  kErrQuantityPending = 109,
  kErrAboveTarget = 110,
  kErrTwice = 111,
  kErrNoDepartmentLink = 112,
  kErrUnknownDepartmentLink = 113,
  kErrDepartmentLinkPending = 114,
  kErrCheckDigit = 115,
  kErrFirstStageFirst = 116,
  kErrPriceTagDigits = 117,
  kErrUnknownPlu = 118,
  kErrPriceChange = 119,
  kErrUnknownOrder = 120,
  kErrOrderDigits = 121,
  kErrNonTaxable = 122,
  kErrNoListDepartment = 123,
  kErrNoHeldSale = 124,
  kErrReducedRate = 125,
  kErrPoints = 126,
  kErrCustomerPresent = 127,
  kErrSaleExists = 201,
  kErrNoTarget = 202,
  kErrCorrected = 203,
  kErrNotCorrectable = 204,
  kErrSaleStarted = 205,
  kErrNoSale = 206,
};
// The text of a code, code page 932; null for a code without one.
const char* RegErrorText(int32_t code);

// Bits of the key check mask (KeyCheckMask).
enum KeyCheckMask : uint32_t {
  kCheckSkipMode = 0x00001,
  kCheckNoEntry = 0x00002,
  kCheckEntry = 0x00004,
  kCheckDigits = 0x00008,
  kCheckOverride = 0x00010,
  kCheckTarget = 0x00020,
  kCheckNotClosed = 0x00040,
  kCheckNoTaxService = 0x00080,
  kCheckNoQuantity = 0x00100,
  kCheckEmptySale = 0x00200,
  kCheckNoDepartmentLink = 0x00400,
  kCheckNoNonTaxable = 0x00800,
  kCheckNoPriceChange = 0x01000,
  kCheckBeforeSale = 0x02000,
  kCheckLineBlock = 0x04000,
  kCheckNoRange = 0x08000,
  kCheckRecords = 0x10000,
};

// What the customer dialog works on: the customer's code and name, and its
// point balance and point rate.
struct CustomerChoice {
  std::string code;
  std::string name;
  int32_t pointBalance = 0;
  int32_t pointRate = 0;
};

// What the sale needs of the screen around it. Every member has a harmless
// default, so a test may implement only what it looks at.
class SaleScreen {
 public:
  virtual ~SaleScreen() = default;
  // The view mode of the frame the sale lives in (5 戻し, 7 登録１, 8 登録２,
  // readings 31-46); -1 when the view has no mode frame.
  virtual int32_t FrameViewMode() const { return -1; }
  // The totals pane: item count, amount and the message line.
  virtual void SetBottomTotals(int32_t items, int32_t amount, const std::string& message) {}
  virtual void SetStatusText(const std::string& text) {}
  // Menus and accelerators of an open sale (true) or of an idle frame, and
  // the frame's modal-dialog flag with them.
  virtual void SetSaleMenus(bool saleOpen) {}
  // Sales list: the row whose number is `number` (appended when none) gets
  // the line's texts (empty texts for a null line); the number it keeps.
  virtual int32_t SetListRow(const void* line, int32_t number) { return number; }
  virtual void DeleteListRows() {}
  virtual void ShowLastListRow() {}
  // Moves the list's focus: -1/+1 a row, -2/+2 a page, -3/+3 to the first or
  // last row; false when it cannot move (already there).
  virtual bool MoveListFocus(int32_t step) { return false; }
  // The number kept in the focused row, -1 when none is focused.
  virtual int32_t FocusedListNumber() const { return -1; }
  // Empties one column of the row keeping number `number`.
  virtual void ClearListCell(int32_t number, int32_t column) {}
  virtual void Beep(uint32_t type) {}
  // Request bits of the main frame's device status word.
  virtual void RaiseDeviceRequest(uint32_t bits) {}
  // The customer-display window: a line switches it to the sale, null to idle.
  virtual void RefreshCustomerDisplay(const void* line) {}
  // The department and PLU picker: department 0 its department list, n the
  // items of department n. 1 when it opened, 0 when it could not (the error
  // line is up), -1 when no department may be picked from the list.
  virtual int32_t OpenDepartmentPicker(uint16_t department) { return -1; }
  // The floating ten-key pad for this screen.
  virtual void OpenTenKeyPad() {}
  // ---- what the reading views need besides ----
  // Appends a row that shows nothing and keeps no line (between a report's
  // sections and after its last line).
  virtual void AddEmptyListRow() {}
  // Puts the cursor on the row keeping line number `number` and scrolls it
  // into view; false when no row keeps it.
  virtual bool FocusListNumber(int32_t number) { return false; }
  // Closes the frame of the view (a reading's close key).
  virtual void CloseFrame() {}
  // ---- dialogs of customers, line names, formal receipts and held sales
  //      (reg_customer.cpp, reg_hold.cpp) ----
  // The customer dialog: in, what the line holds; out, the clerk's choice.
  // insert: a customer is being added to a sale. false when cancelled.
  virtual bool ChooseCustomer(CustomerChoice* choice, bool insert) { return false; }
  // The name dialog of an item line: 1 OK, 6 the customer-insert button
  // (offered when offerCustomer), 0 cancelled.
  virtual int32_t EditNames(std::string* displayName, std::string* printName, bool offerCustomer) { return 0; }
  // The formal receipt dialog: kind (1 to 3, 0x100 with a note) and note.
  // false when cancelled.
  virtual bool AskFormalReceipt(int32_t* kind, std::string* note) { return false; }
  // A held-sale file chosen in a file dialog (save: a name to write under,
  // initial: the suggested path). false when cancelled.
  virtual bool ChooseHeldSaleFile(bool save, const std::string& initial, std::string* path) { return false; }
  // A customer line put into a finished sale: every other register view
  // showing that sale mirrors it (WM_REG_CASTINPUT).
  virtual void BroadcastCustomerLine(int32_t receipt, const void* line) {}
  // The frame's title: the held sale's file name, or the mode's own when empty.
  virtual void ShowHeldSaleTitle(const std::string& path) {}
  // ---- payments through the main frame's card terminal and the barcode
  //      payment service ----
  // The card-terminal dialog for one payment (business 1, practice 0; kind
  // 1 sale, 3 return): true only when the payment was made.
  virtual bool RunCardPayment(int32_t business, int32_t kind, int32_t receipt, int32_t amount) { return false; }
  // The barcode-payment dialog (kind 1 payment, 3 refund; tenderNumber: the
  // sale's n-th barcode tender): true only when the service took it.
  virtual bool RunCodePayment(int32_t kind, uint32_t receipt, int32_t amount, int32_t tenderNumber) { return false; }
};


// Device request bits the sale raises.
inline constexpr uint32_t kRequestDisplay = 0x80, kRequestPrint = 0x100, kRequestSaleCommitted = 0x80000,
                          kRequestSaleClosed = 0x2000000;

// The register's settings the key path reads (section "Settings"), besides
// those the application's printing keeps.
struct SaleSettings {
  int32_t useJet = 0;            // "Use JET": card payments through the terminal
  std::string smpLink;           // "Smp Link": the sales-slip program
  int32_t rollback = 0;          // "Rollback": refund of the shown sale asks three ways
  int32_t reserveNameClass = 0;  // "Reserve Name Class"
  int32_t showPrintName = 0;     // "Dsp CD": pole display leads with the print name
  std::string displayDevice;     // "CD Device"
  // Reads them from the user's profile.
  void Load();
};

class CRegSale {
 public:
  // viewMode: the frame's view mode (5, 7, 8, 31-46); the register mode code
  // follows from it.
  CRegSale(CRegCom* engine, shell::CREGApp* app, SaleScreen* screen, int32_t viewMode);
  ~CRegSale();
  CRegSale(const CRegSale&) = delete;
  CRegSale& operator=(const CRegSale&) = delete;

  SaleSettings& Settings() { return settings_; }

  // ---- the key path ----
  // Builds the key code, passes the gate, opens a sale when none is open and
  // dispatches: 0 when the key was refused or failed.
  int32_t EnterKey(uint16_t type, uint16_t code);
  // A key code already built (touch keys, picker): as EnterKey.
  int32_t EnterKeyCode(uint16_t keyCode);
  // Keyboard translation: the key-layout word of a virtual key (with the
  // modifier bits Shift 0x2000, Alt 0x4000, Ctrl 0x8000) or the character
  // typed. 1 with the key code when it may be dispatched.
  int32_t TranslateKeyboardKey(uint32_t virtualKey, int32_t character, uint16_t modifiers, uint16_t* keyCode);
  // -1 refuse, 0 go on, 1 go on with the replaced key code.
  int32_t CheckModeGate(uint16_t* keyCode);
  int32_t OpenSale(uint16_t keyCode);
  static int32_t IsNoSaleKey(uint16_t keyCode);
  int32_t DispatchKey(uint16_t keyCode);
  // Shows the error line; returns 0.
  int32_t ShowRegError(int32_t code);
  // The entry register becomes the digits of text (a pick of the picker),
  // the last 13 when there are more.
  void ReplaceEntry(const std::string& text);

  // ---- items by code (reg_plu.cpp) ----
  // What the scanned-code routine gives back to the PLU key.
  struct ScannedCode {
    int32_t tagHandled = 0;   // the code was one stage of a two-stage price tag
    int32_t lineDone = 0;     // a second stage completed the current line
    std::string code;         // the code to look up as a PLU
    int32_t quantity = 0;     // an order's quantity (order codes only)
    uint16_t department = 0;  // an order's department (order codes only)
  };
  // Order codes, two-stage price tags and check digits of the entry: 1, or
  // 0 when the code was refused (the error line is up).
  int32_t ProcessScannedCode(ScannedCode* scanned);

  // ---- customers and line names (reg_customer.cpp) ----
  // Puts a customer line at position (-1: first) of the open sale, or of
  // the finished sale shown (row: a line of it). preset: the line to insert
  // as it is; null asks the clerk. 1 done or cancelled, 0 failed.
  int32_t InsertCustomerLine(int32_t position, int32_t row, const uint8_t* preset);
  // Changes the names of line `index` (-1: a new line at the end). 1 done or
  // cancelled, 0 failed.
  int32_t EditLineNames(int32_t row, int32_t index);
  // WM_REG_CASTINPUT: a customer put into the finished sale of receipt
  // number `receipt` elsewhere; this view mirrors it when it shows that sale.
  int32_t OnCastInput(int32_t receipt, const uint8_t* customerLine);
  // For crash tests: runs when the copy of the day's receipt file has been
  // made, before the customer line goes into it (null: none).
  static void SetStoredSaleRewriteProbe(std::function<void(const std::string& copyPath)> probe);
  // The formal receipt dialog: 1 OK with kind and note, 0 cancelled.
  int32_t RunFormalReceiptDialog(int32_t* kind, std::string* note);

  // ---- held sales (reg_hold.cpp) ----
  // Puts the open sale aside into a held-sale file; print: with its slip.
  // 1 done or cancelled, 0 failed.
  int32_t ReserveKey(int32_t print);
  // Brings a held sale back: name is a held-sale number (keepFile 0: the
  // file goes after a successful replay) or a full path (keepFile 1).
  int32_t ImportReserveFile(const std::string& name, int32_t keepFile);
  // With no sale open: a held sale chosen in a file dialog comes back.
  int32_t BringBackHeldSale();
  // Whether the PLU key's entry names a held sale rather than an item.
  bool IsHeldSaleNumber(const std::string& code) const;
  // The clock the held-sale names are made from (tests set their own).
  using HeldSaleClock = std::function<void(int* year, int* month, int* day, int* hour, int* minute)>;
  static void SetHeldSaleClock(HeldSaleClock clock);

  // ---- key checks, tax class and price of item lines ----
  int32_t CheckKeyEntry(uint32_t attributes, uint32_t mask, void* target);
  void ApplyTaxToUnitPrice(uint16_t* attributes);
  void SetLineTaxFlags(const uint16_t* attributes);
  // 0 when a line could not be written.
  int32_t WriteTotalAndTaxLines(int32_t tendered);

  // ---- changing a sale: adjustments by tax rate (reg_adjust.cpp), line
  //      correction (reg_correct.cpp), quantity sub-entry and repeated items
  //      (reg_qty.cpp), sale-wide tax switches (reg_taxswitch.cpp) ----
  // The tax class and rate slot of an adjustment line, from the sale's item
  // lines (slot: in, the amount of the amount test; out, the slot). 1, or 0
  // when the sale has no item line to take them from (error 202 shown).
  int32_t FindAdjustTaxSlot(int32_t* mixed, int32_t* inner, int32_t* slot, int32_t amountTest, int32_t pointsOnly);
  // A subtotal adjustment as one line per rate slot in use, each booked; all
  // but the last written, the last left as the current line. 1, or 0 when a
  // line could not be written (the sale is as before).
  int32_t SplitAdjustByTaxSlot(uint16_t keyCode, const uint8_t* target, int32_t value, const uint16_t* attributes);
  // Cancels the line at *index and the lines that hang on it: counter-lines
  // written (history kept) or the lines removed (history hidden). 1, or 0
  // when refused or failed (the error line is up; the sale is as before).
  int32_t CorrectLine(int32_t* index, int32_t* more);
  // The quantity typed into a list row (request 3 start, 1 a digit, -1 the
  // last digit off, 0 set, -3 finish). 1, or 0 when refused or failed.
  int32_t SetLineQuantity(int32_t value, int32_t request);
  // Folds the current (booked, unwritten) item line into an earlier equal
  // line: 0 when it was merged, 1 otherwise.
  int32_t MergeRepeatedLine(int32_t force);
  // 免税 and 減税 over the whole sale: 1 done, 0 failed (the sale and the
  // switch are as before).
  int32_t ToggleTaxExempt();
  int32_t ToggleReducedRate();
  // The special local tax line as the current line: 1 when one is due.
  int32_t AddSpecialLocalTax();
  bool SubEntryActive() const { return state_.subEntry != 0; }
  bool TaxExempt() const { return taxFree_ != 0; }
  bool TaxReduced() const { return taxReduced_ != 0; }

  // ---- the sale ----
  // write: the current line is written (1) or only shown (0); keep: begin
  // the sale keeping the current line. 1, or 0 when the line could not be
  // stored (then block, file, list and count are as before).
  int32_t WriteLine(int32_t write, int32_t keep);
  int32_t CommitSale(uint16_t modeCode, int32_t roundedTotal);
  void CloseTransaction(int32_t close);
  int32_t PrintLine();
  void ComputeSaleTax();
  void UpdateCustomerDisplays(const void* line, char kind, int32_t amount);
  void ShowModifierStatus();
  void BuildSystemLine(uint16_t code, int32_t amount, int32_t second);
  // Takes over the temporary file of an interrupted sale (already open):
  // its records become the sale's lines. 0 when they cannot be read.
  int32_t ResumeSale(FileDBHandle file);
  // At the view's end: the block freed, the file closed, and deleted when it
  // holds no records (an interrupted sale stays for the next start).
  void Release();

  // ---- readings: X and Z reports, the cash count, the settlement run and
  //      the receipt journal (reg_readings.cpp) ----
  // Sets a reading view up (view modes 31 to 46): the settings reloaded, a
  // line block made, then the report built (and, but for the cash count,
  // committed and printed) or the settlement run started; mode 38 lists the
  // day's receipt file of journalDate (a DOS date; 0 today). 1, or 0 when the
  // set-up stopped (the view keeps what it got).
  int32_t SetUpReading(uint16_t journalDate);
  // Builds report `number` (31-37 X, 39-45 Z) into the view: 0, or -1 on the
  // first failed write, print or read. Other numbers build nothing.
  int32_t BuildReport(int32_t number);
  // After a PLU Z report: empties the PLU table when it is linked to the
  // outside database. 1 done or nothing to do, 0 on a file error.
  int32_t ClearLinkedPlu();
  // Runs or resumes the settlement run: 1 when it ended or paused, 0 on failure.
  int32_t RunSettlement();
  // Keys of the cash count (while it is open) and of a report or receipt
  // journal view: 1 when the key was used.
  int32_t OnCashCountKey(uint16_t keyCode);
  int32_t OnJournalKey(uint16_t keyCode);
  // The key of a reading view, to the handler of the moment.
  int32_t ReadingKey(uint16_t keyCode);
  // A click on line `number` of a reading view (-1: a row without a line).
  void ClickReadingRow(int32_t number);
  bool CashCountOpen() const { return cashCount_; }
  int32_t SettlementStep() const { return settlementStep_; }
  // The line of the cash count the cursor is on (-1 when none is open).
  int32_t CountCursor() const { return cashCount_ ? countCursor_ : -1; }
  bool IsReadingView() const { return xReadingView_ || zReadingView_ || journalView_; }

  // ---- what the view and the tests read ----
  uint16_t ModeCode() const { return modeCode_; }
  int32_t ViewMode() const { return viewMode_; }
  bool IsRegistrationView() const { return registrationView_; }
  bool IsRefundView() const { return refundView_; }
  bool IsCashBalanceView() const { return cashBalanceView_; }
  // The receipt journal of a day (view mode 38): the day's receipt file is
  // opened and its records become the view's lines. 0 when the day has no
  // file or it cannot be read (an empty view).
  bool JournalOpen() const { return journalView_; }
  bool SaleOpen() const { return temporary_ != 0; }
  bool SaleBegun() const { return saleBegun_; }
  int32_t LineCount() const { return lineCount_; }
  int32_t ItemCount() const { return itemCount_; }
  int32_t Amount() const { return amount_; }
  const std::string& Entry() const { return entry_; }
  const std::string& Message() const { return message_; }
  const uint8_t* CurrentLine() const { return current_; }
  MemoryBlockHandle LineBlock() const { return block_; }
  FileDBHandle TemporaryFile() const { return temporary_; }
  // Line n of the block (96 bytes); false when it cannot be read.
  bool ReadLine(int32_t n, uint8_t* out) const;
  // The report step word of settlement step i (general settings).
  uint16_t StepWord(int32_t step) const;
  int32_t AmountTendered() const { return amountTendered_; }
  const std::string& PolePending() const { return poleText_; }
  const std::string& CustomerDisplayText() const { return displayText_; }
  // Ends a quantity being typed into a list row, as any other key or a
  // click on the list does: false when it could not be finished (the click
  // then leaves the cursor where it is).
  bool FinishSubEntry();

 private:
  // Results of the register functions inside the dispatcher.
  enum KeyResult : int32_t {
    kRefused = 0,  // refused or failed (the error line is up)
    kShown = 1,    // went on; the line being built is shown again
    kWritten = 2,  // went on and completed the current line: it is written
    kEnded = 3,    // went on and ended the sale itself: nothing more to write
    kShownWithMessage = 4,  // as kShown, with a message of the function's own
  };

  // The sale state words, cleared at the start of a sale (all but the tax
  // reduction, which lasts until the sale closes).
  struct State {
    int32_t subtotalTaken = 0;
    int32_t tenderEntered = 0;
    int32_t digitRelease = 0;     // 桁解除
    int32_t fixedTail = 0;        // fixed-tail entry
    int32_t priceChange = 0;      // 売価変更
    int32_t twoStage = 0;         // ２段値札
    int32_t twoStageSecond = 0;   // the order line word: the line was filled from an order
    int32_t nonTaxable = 0;       // 非課税 (one line)
    int32_t noSpecialTax = 0;     // one line kept out of the special local tax
    int32_t taxService = 0;       // 税／奉 entered
    int32_t subEntry = 0;         // numeric sub-entry of a list row
    int32_t pendingDepartment = 0;
    int32_t pendingAttributes = 0;  // of an item waiting for its price
    int32_t persons = 0;
    int32_t hasChangeLine = 0;
    int32_t totalLinesWritten = 0;  // total and tax lines of the first tender
  };

  void ClearCurrent();
  void SetupModes(int32_t viewMode);
  int32_t RefreshPane();
  void ShowMessageLine(const std::string& text);
  std::string EntryAboveMessage(const std::string& message) const;
  void ShowEntry();
  void ShowTenderMessage(bool completed);
  int32_t DueAmount() const;
  int32_t AppendLine();
  void EndOfSale(char* kind, int32_t* displayAmount);
  void ClearSaleEnd();
  void EntryDigit(uint16_t keyCode);
  int32_t DepartmentKey(uint16_t keyCode);
  int32_t DepartmentLine(uint16_t number, const uint8_t* record, int32_t unitPrice, uint16_t attributes,
                         int32_t forceMerge = 0);
  int32_t DepartmentPrice(uint16_t number, const uint8_t* record, const uint8_t* target) const;
  int32_t DepartmentLinkKey(uint16_t code);
  int32_t LinkAmountKey();
  int32_t PriceChangeKey(uint16_t code, uint16_t keyAttributes);
  int32_t PluKey();
  int32_t PluLine();
  int32_t PluLookup(const ScannedCode& scanned, uint8_t* item, bool* linked, uint8_t* linkRecord);
  int32_t OrderCode(ScannedCode* scanned);
  int32_t PriceTagStage(int32_t stage, ScannedCode* scanned);
  int32_t TenderKey(uint16_t keyCode, const uint8_t* keyRecord);
  // The card-terminal and barcode-payment steps of a tender: true when the
  // amount was paid (or needs no device); false ends the key unregistered.
  bool CardTerminalStep(int32_t amount, const char* saleWord, const char* refundWord);
  bool CodePaymentStep(int32_t amount);
  int32_t Trans2Key(uint16_t keyCode, const uint8_t* keyRecord);
  int32_t FunctionKey(uint16_t keyCode, const uint8_t* keyRecord);
  int32_t CancelSale();
  // changing a sale
  int32_t AdjustKey(uint16_t keyCode, const uint8_t* keyRecord);
  int32_t AdjustLine(uint16_t keyCode, const uint8_t* target, int32_t amount, int32_t slot, int32_t inner,
                     int32_t percent);
  int32_t SubtotalKey(const uint8_t* keyRecord);
  int32_t CorrectionKey(const uint8_t* keyRecord);
  // A sale cut off inside a correction holds a counter-line whose line has
  // no mark yet (the counter-line is written first): the mark is made.
  void MarkCorrectedLines();
  int32_t QuantityKey(const uint8_t* keyRecord);
  int32_t SubEntryKey(uint16_t keyCode);
  int32_t TaxSwitchKey(uint16_t code, uint16_t keyAttributes);
  int32_t SpecialTaxKey(uint16_t keyAttributes);
  int32_t ToggleSaleTax(bool reduced);
  // Makes the sale's lines exactly `lines`: the temporary file, the block,
  // the line count and the list together, or (0) none of them.
  int32_t ReplaceLines(const std::vector<std::array<uint8_t, line::kSize>>& lines);
  bool ReadAllLines(std::vector<std::array<uint8_t, line::kSize>>* lines) const;
  // Takes the lines from `first` on out of the sale again.
  void DropLinesFrom(int32_t first);
  void RebuildList();
  // The sale totals again from every line of the block, and the tax.
  void TotalsFromLines();
  int32_t TaxRateOfSlot(int32_t slot) const;
  int32_t MoveCursor(int32_t by);
  bool EntryValue(int64_t* value) const;
  int32_t LastLiveLine(uint8_t* out, bool* found) const;
  void NameFromRecord(const uint8_t* record);
  // customers and held sales
  int32_t WriteLineAt(int32_t n, const uint8_t* record);
  int32_t FormalReceiptKey();
  void ReshowList();
  int32_t InsertIntoStoredSale(int32_t receipt, const uint8_t* customerLine);
  int32_t ReplayHeldSale(MemoryBlockHandle rows, int32_t count, int32_t sign);
  int32_t MendReplayedLine(int32_t n, const uint8_t* stored);
  int32_t VoidReplayedLine(const uint8_t* stored, int32_t from, const uint8_t* next, int32_t* consumed);
  void TakeBackLines(int32_t from, int32_t reducedBefore);
  bool HeldSaleFileExists(const std::string& number) const;
  int32_t PressKey(uint16_t keyCode, const std::string& entry);
  // readings
  int32_t WriteReportLine();
  int32_t ReportHeading(uint16_t kind);
  int32_t ReportLabel(uint16_t code, int32_t value);
  int32_t ItemReport(int32_t kind);
  int32_t ClerkReport();
  int32_t TransKeyReport();
  int32_t FixedTotalReport(int32_t number);
  int32_t CashBalanceReport();
  int32_t FinishCashCount();
  int32_t RewriteCountLines(int32_t row, int64_t value);
  void MoveCountCursor(int32_t line);
  int32_t CommitReading();
  int32_t PrintBlock();
  void PrintRange(int32_t first, int32_t end);
  void PrintText(const std::string& text);
  void PrintSettlementSteps(uint16_t bit, bool whenSet);
  int32_t AskShutdown();
  int32_t ListJournal(uint16_t date);
  int32_t PrintJournal();
  bool TransactionAt(int32_t number, int32_t* first, int32_t* last) const;

  CRegCom* engine_;
  shell::CREGApp* app_;
  SaleScreen* screen_;
  SaleSettings settings_;

  int32_t viewMode_ = 0;
  bool saleBegun_ = false;
  bool refundView_ = false;
  bool registrationView_ = false;
  bool xReadingView_ = false;
  bool zReadingView_ = false;
  bool cashBalanceView_ = false;
  int32_t lineCount_ = 0;
  uint16_t modeCode_ = 196;
  int32_t itemCount_ = 0, amount_ = 0;
  std::string entry_;
  std::string message_;
  MemoryBlockHandle block_ = nullptr;
  FileDBHandle temporary_ = 0;
  uint8_t current_[line::kSize] = {};
  uint8_t previous_[line::kSize] = {};
  int32_t totals_[saletotal::kWords] = {};
  State state_;
  int32_t taxFree_ = 0;         // 免税 (sale-wide)
  int32_t taxReduced_ = 0;      // 減税 (sale-wide, survives the start)
  int32_t refundConfirmed_ = 0;
  int32_t rightsChecked_ = 0;   // the manager's rights passed for this sale
  int32_t amountTendered_ = 0;
  int32_t pointsAvailable_ = 0;
  int32_t lastCustomerPoints_ = 0;
  bool replaying_ = false;         // a held sale is being replayed  // the balance the last customer edit added
  std::string poleText_;
  std::string displayText_;

  // readings
  bool journalView_ = false;
  int32_t settlementStep_ = -1;  // -1 no run, else the next step (8 all done)
  int32_t stepFirst_[8] = {}, stepEnd_[8] = {};
  bool earlierStep_ = false;     // a step of the run has been built
  bool cashCount_ = false;       // the cash balance waits for the counted cash
  int64_t countedTotal_ = 0;     // the cash counted so far
  int64_t expected_ = 0;         // minus the balance the settings expect
  bool resetJetSequence_ = false;  // a Z reading of the fixed totalizers is in the block
  int32_t countCursor_ = -1;     // line of the count row the cursor is on

  // the quantity sub-entry of a list row
  int32_t subEntryLine_ = -1;    // the line being edited
  int32_t subEntrySaved_ = 0;    // its quantity when the sub-entry started
};

}  // namespace varnex::reg
