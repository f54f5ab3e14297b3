// Key codes of the register: the 16-bit word every key press becomes and
// every line record of a sale or printout carries (line::kKeyCode).
//
//   bits 12-15  key type (the family: department, one of the three
//               transaction-key tables, a line the engine builds ...)
//   bits 0-11   code within the family (department number, key number,
//               system line kind, report heading kind, register mode ...)
//
// Every type and every code the register gives a meaning has one name here;
// the key dispatcher, the posting, the receipt and report texts and the sales
// list all switch on these names. Types 5, 6, 7 and 9 mean nothing: no key
// produces them and a line of such a type posts and prints nothing.
#pragma once

#include <cstdint>

namespace varnex::reg {

inline constexpr uint16_t keyType(uint16_t keyCode) { return static_cast<uint16_t>(keyCode >> 12); }
inline constexpr uint16_t keyNumber(uint16_t keyCode) { return static_cast<uint16_t>(keyCode & 0x0FFF); }
inline constexpr uint16_t makeKeyCode(uint16_t type, uint16_t code) {
  return static_cast<uint16_t>((type << 12) | (code & 0x0FFF));
}

enum KeyType : uint16_t {
  kKeyCustomer = 0x0,       // customer line, first line of a sale (code 0)
  kKeyDepartment = 0x1,     // department or PLU item line: code = department number
  kKeyTrans1 = 0x2,         // "取引１" keys, codes from 1: tenders (TenderCode)
  kKeyTrans2 = 0x3,         // "取引２" keys, codes 20-39 (Trans2Code)
  kKeyFunction = 0x4,       // "取引３" keys, codes 50-85 (FunctionCode)
  kKeySystemLine = 0x8,     // line the engine builds: code = SystemLineKind
  kKeyReportItem = 0xA,     // report line of one department, PLU item, group or clerk
  kKeyReportTotal = 0xB,    // report total line (code = the counted key); code 0xFFF: free text line
  kKeyReportHeading = 0xC,  // report heading: code = ReportHeadingKind, which opens that section
  kKeySeparator = 0xD,      // separator or total rule of a printout
  kKeyEntry = 0xE,          // digit key (0xE000 | '0'..'9'); as a line: the line still being built,
                            // printed as a blank line
  kKeyClosing = 0xF,        // closing record of a committed sale: code = register mode code
};

// ---- type 2: "取引１", the tender (media) keys ------------------------------

enum TenderCode : uint16_t {
  kTenderCash = 1,         // cash: posts to the cash in drawer, and takes the change back
  kTenderSlip = 2,         // tender that may ask for the customer of the sales slip
  kTenderCard = 3,         // card, through the card terminal when one is used
  kTenderPoints = 5,       // paid with the customer's points
  kTenderCodePayment = 6,  // first of the barcode-payment tenders (6 and up)
};

// ---- type 3: "取引２" ------------------------------------------------------

enum Trans2Code : uint16_t {
  kTrans2PaidIn = 20,            // 入金, a stand-alone in/out transaction
  kTrans2PaidOut = 21,           // 出金 (amount negated)
  kTrans2CardPaidIn = 22,        // 入金 through the card terminal
  kTrans2Exchange = 26,          // 両替
  kTrans2Number = 28,            // a number printed between '#' signs (count of digits in "unit")
  kTrans2PointsEarned = 29,      // points granted to the customer
  kTrans2AmountDiscount = 30,    // 値引
  kTrans2PercentDiscount = 31,   // 割引
  kTrans2AmountSurcharge = 32,
  kTrans2PercentSurcharge = 33,
  kTrans2Correction = 38,        // 訂正
  kTrans2RefundShownSale = 39,   // refund of the sale on the screen
};
// 23-25, 27 and 34-37 are keys without a function.
inline constexpr uint16_t kTrans2First = 20, kTrans2Last = 39;

// ---- type 4: "取引３", the function keys -----------------------------------

enum FunctionCode : uint16_t {
  kFunctionCursorUp = 50,
  kFunctionCursorDown = 51,
  kFunctionCursorLeft = 52,   // the list does not scroll sideways: a beep
  kFunctionCursorRight = 53,  // likewise
  kFunctionPageUp = 54,
  kFunctionPageDown = 55,
  kFunctionFirstRow = 56,
  kFunctionLastRow = 57,
  kFunctionHoldQuietly = 58,  // put the sale on hold without a ticket
  kFunctionOtherRegisterMode = 59,
  kFunctionDepartmentLink = 60,  // 部門一覧選択: the entry names the department
  kFunctionLinkAmount = 61,      // amount of the linked department
  kFunctionSubtotal = 62,
  kFunctionDigitRelease = 63,  // 桁解除
  kFunctionTenKeyPad = 64,
  kFunctionQuantity = 65,
  kFunctionPlu = 66,
  kFunctionPriceChange = 67,  // 売価変更
  kFunctionFixedTail = 68,    // entry in units of 10,000
  kFunctionReceiptOnOff = 69,
  kFunctionReprintOrHold = 70,  // no sale open: receipt again; else hold the sale with a ticket
  kFunctionNonTaxable = 71,     // 非課税
  kFunctionTaxExempt = 72,      // 免税
  kFunctionSpecialTax = 73,     // 税／奉: special local tax and service charge lines
  kFunctionNoSpecialTax = 74,   // line kept out of the special local tax
  kFunctionPersons = 75,        // number of guests
  kFunctionDoubleZero = 76,     // "00"
  kFunctionBackspace = 77,
  kFunctionClear = 78,
  kFunctionCancelLine = 79,
  kFunctionEditNames = 80,
  kFunctionFormalReceipt = 81,  // 領収証
  kFunctionCancelSale = 82,
  kFunctionSalesSlip = 83,      // 売上伝票
  kFunctionTaxReduction = 84,   // 減税
  kFunctionCustomer = 85,       // 取引先
};
inline constexpr uint16_t kFunctionFirst = 50, kFunctionLast = 85;

// ---- type 8: system lines the engine builds --------------------------------

enum SystemLineKind : uint16_t {
  kLineSubtotal = 0,       // 小計
  kLineService = 1,        // サービス
  kLineChange = 2,         // 釣銭
  kLineTaxable = 3,        // 課税額 of the standard rate
  kLineTax = 4,            // 消費税
  kLineTaxIncluded = 5,    // 税込額
  kLineTaxContained = 6,   // 税含む
  kLineSpecialTax = 7,     // 特地税
  kLineServiceCharge = 8,  // 奉仕料
  kLineExemptContained = 10,  // 免税額含む; 11-13 of rates 1-3
  kLineTaxable1 = 14,         // 課税額(1); 15, 16 of rates 2, 3
  kLineTax1 = 17,             // 消費税(1); 18, 19
  kLineCount = 20,            // 個数
  kLineSales = 21,            // 売上額
  kLineNetCount = 22,         // 純売件数
  kLineNetAmount = 23,        // 純売金額
  kLineGrossCount = 24,       // 総売個数
  kLineGrossAmount = 25,      // 総売金額
  kLineMarginShare = 26,      // 粗利計算対象 (a percentage)
  kLineMargin = 27,           // 粗利額
  kLineNotes10000 = 30,       // denominations of the cash count: 30 10,000円 ... 38 1円
  kLineCoins1 = 38,
  kLineCheque = 39,           // 小切手
  kLineTotal = 40,            // 合計
  kLinePreviousBalance = 41,  // 前回残高
  kLineCash = 42,             // 現預
  kLinePaidIn = 43,           // 入金
  kLinePaidOut = 44,          // 出金
  kLineBalance = 45,          // 差引残高
  kLineNotes2000 = 46,        // 2,000円
  kLineTaxIncluded1 = 47,     // 税込額(1); 48, 49
  kLineTaxContained1 = 50,    // 税含む(1); 51, 52
  kLinePointsEarned = 53,     // 獲得ポイント
  kLinePointBalance = 54,     // ポイント残高
  kLineItemCount = 55,        // 個数 of the sales screen
};

inline constexpr uint16_t systemLineKey(uint16_t kind) { return makeKeyCode(kKeySystemLine, kind); }

// ---- type 0xB: report totals and text lines --------------------------------

// A report total line's code is the key or totalizer it counts; this code
// marks a free text line instead (a receipt message line, for example).
inline constexpr uint16_t kTextLineCode = 0x0FFF;
inline constexpr uint16_t kTextLineKey = makeKeyCode(kKeyReportTotal, kTextLineCode);
// Report total code of the receipt count line (純売件数 / 総売個数 with the receipt number).
inline constexpr uint16_t kReportReceiptCount = 64;

// ---- type 0xC: report headings, which open the report's sections ------------

enum ReportHeadingKind : uint16_t {
  kReportFormat = 0,       // 精算ﾚﾎﾟｰﾄﾌｫｰﾏｯﾄ
  kReportDepartments = 1,
  kReportPlu = 2,
  kReportGroups = 3,
  kReportClerks = 4,
  kReportTransKeys = 5,
  kReportFixedTotals = 6,
  kReportCashBalance = 7,  // 現金収支
  kReportFunctionKeys = 11,  // 11 and up: the settings printouts (PGM 点検)
  kReportSettings = 12,
  kReportDepartmentFile = 13,
  kReportPluFile = 14,
  kReportGroupFile = 15,
  kReportClerkFile = 16,
  kReportTrans1File = 17,
  kReportTrans2File = 18,
  kReportTrans3File = 19,
  kReportFixedTotalFile = 20,
  kReportMessage = 21,
};

// ---- type 0xE and 0xF ------------------------------------------------------

inline constexpr uint16_t digitKey(char digit) { return makeKeyCode(kKeyEntry, static_cast<uint8_t>(digit)); }
inline constexpr uint16_t closingKey(uint16_t registerMode) { return makeKeyCode(kKeyClosing, registerMode); }

}  // namespace varnex::reg
