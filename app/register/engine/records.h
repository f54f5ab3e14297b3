// The records of the register: the thirteen tables of its project, the line
// record of a sale and the register mode codes (the key codes are in
// key_codes.h).
//
// Each table is described here once, as a list of its fields (name, offset,
// width, kind); the project definition res/varnex/Varnex.project is the other
// side of the same description and the tests check that the two agree. The
// engine itself looks the fields it searches by up in the opened project (so
// a project whose records were laid out differently still finds its keys);
// everything that reads or writes record bytes goes through the places named
// here and the little-endian helpers below, never through casts to structs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/register/engine/key_codes.h"

namespace varnex::reg {

// ---- little-endian fields of record images -------------------------------

inline uint16_t getU16(const void* record, size_t offset) {
  const auto* p = static_cast<const uint8_t*>(record) + offset;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t getU32(const void* record, size_t offset) {
  const auto* p = static_cast<const uint8_t*>(record) + offset;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t getI32(const void* record, size_t offset) { return static_cast<int32_t>(getU32(record, offset)); }
inline void putU16(void* record, size_t offset, uint16_t value) {
  auto* p = static_cast<uint8_t*>(record) + offset;
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
inline void putU32(void* record, size_t offset, uint32_t value) {
  auto* p = static_cast<uint8_t*>(record) + offset;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void putI32(void* record, size_t offset, int32_t value) {
  putU32(record, offset, static_cast<uint32_t>(value));
}
// A zero-padded text field: the bytes up to the first zero (at most width).
inline std::string getText(const void* record, size_t offset, size_t width) {
  const char* p = static_cast<const char*>(record) + offset;
  size_t n = 0;
  while (n < width && p[n] != 0) ++n;
  return std::string(p, n);
}
// Writes text cut to width and pads the rest of the field with zero bytes.
inline void putText(void* record, size_t offset, size_t width, const std::string& text) {
  char* p = static_cast<char*>(record) + offset;
  std::memset(p, 0, width);
  std::memcpy(p, text.data(), text.size() < width ? text.size() : width);
}
inline bool isBlank(const void* record, size_t offset, size_t width) {
  const auto* p = static_cast<const uint8_t*>(record) + offset;
  for (size_t i = 0; i < width; ++i)
    if (p[i] != 0) return false;
  return true;
}

// ---- field places ---------------------------------------------------------

// How a field's bytes are read: text (zero-padded code page 932), an unsigned
// or signed little-endian number, a bit field of an unsigned word, a DOS date
// (16 bytes wide: the ODBC timestamp structure), a little-endian double.
enum class FieldKind : uint8_t { Text, Unsigned, Signed, Bits, Date, Real };

struct FieldPlace {
  const char* name;  // the field's name in the project (code page 932 at run time)
  uint16_t offset;
  uint16_t size;
  FieldKind kind;
  uint8_t bitCount = 0;     // Bits: width
  uint8_t bitPosition = 0;  // Bits: lowest bit
};

inline uint32_t getBits(const void* record, const FieldPlace& f) {
  uint32_t word = f.size == 1 ? static_cast<const uint8_t*>(record)[f.offset]
                  : f.size == 2 ? getU16(record, f.offset)
                                : getU32(record, f.offset);
  return (word >> f.bitPosition) & ((1u << f.bitCount) - 1u);
}

// The thirteen tables in the order the engine keeps them.
enum TableIndex : int {
  kMenuTable = 0,
  kKeyLayoutTable,
  kSettingsTable,
  kCustomerTable,
  kDepartmentTable,
  kPluTable,
  kGroupTable,
  kClerkTable,
  kTrans1Table,
  kTrans2Table,
  kTrans3Table,
  kFixedTotalTable,
  kOdbcLinkTable,
  kTableCount
};

struct TableShape {
  const char* name;  // type name in the project
  uint16_t headerLen;
  uint16_t recordLen;
};

inline constexpr TableShape kTables[kTableCount] = {
    {"メニュー", 0, 4},
    {"ファンクションキーレイアウト", 0, 8},
    {"全体設定", 0, 1536},
    {"取引先", 0, 256},
    {"部門", 0, 64},
    {"PLU", 0, 80},
    {"グループ", 0, 64},
    {"担当者", 0, 48},
    {"取引１", 0, 48},
    {"取引２", 0, 48},
    {"取引３", 0, 48},
    {"固定合計器", 0, 48},
    {"ODBCリンク", 570, 80},
};

// Key layout: register key code, touch position (row + column x 100 + 101, 0
// none), key-layout word (bit 15 Ctrl, 14 Alt, 13 Shift, 12 virtual key, key
// in the low byte; 0 none), a reserved word.
namespace keylayout {
inline constexpr FieldPlace kFunction{"ファンクション", 0, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kPosition{"キーの位置", 2, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kKeyWord{"キーコード", 4, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kReserved{"予備", 6, 2, FieldKind::Unsigned};
inline constexpr uint16_t kCtrl = 0x8000, kAlt = 0x4000, kShift = 0x2000, kVirtual = 0x1000;
}  // namespace keylayout

// General settings, record 0.
namespace settings {
inline constexpr FieldPlace kStoreText{"ｽﾄｱｰ/ﾏｼﾝ№", 0, 24, FieldKind::Text};
inline constexpr uint16_t kStoreTextCopied = 14;  // bytes the closing record takes
inline constexpr FieldPlace kReceiptNumberAdd{"ﾚｼｰﾄ番号加算", 24, 4, FieldKind::Signed};
inline constexpr FieldPlace kReceiptForm{"ﾚｼｰﾄ形式", 31, 1, FieldKind::Bits, 5, 0};
inline constexpr uint16_t kTaxWord = 32;  // bits 0-1 outer, 2-3 inner, 4-5 unit rounding, 9 inner base
inline constexpr FieldPlace kOuterRounding{"外税端数処理", 32, 2, FieldKind::Bits, 2, 0};
inline constexpr FieldPlace kInnerRounding{"内税端数処理", 32, 2, FieldKind::Bits, 2, 2};
inline constexpr FieldPlace kUnitRounding{"単位端数処理", 32, 2, FieldKind::Bits, 2, 4};
inline constexpr FieldPlace kRate0{"標準税率", 34, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kSpecialRounding{"特地税端数処理", 36, 2, FieldKind::Bits, 2, 0};
inline constexpr FieldPlace kSpecialRate{"特地税税率", 38, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kSpecialThreshold{"特地税免税点", 42, 4, FieldKind::Signed};  // per person
inline constexpr FieldPlace kReportKind1{"レポート種別1", 46, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kPriceMask1{"２段値札の設定", 62, 12, FieldKind::Text};
inline constexpr FieldPlace kPriceMask2{"２段値札の設定2", 78, 12, FieldKind::Text};
inline constexpr FieldPlace kReceiptMessage{"ﾚｼｰﾄﾒｯｾｰｼﾞ", 94, 230, FieldKind::Text};
inline constexpr uint16_t kMessageLines = 5, kMessageLineWidth = 46;
inline constexpr FieldPlace kPreviousBalance{"前回残高", 324, 4, FieldKind::Signed};
inline constexpr FieldPlace kCash{"現預", 328, 4, FieldKind::Signed};
inline constexpr FieldPlace kPaidIn{"入金", 332, 4, FieldKind::Signed};
inline constexpr FieldPlace kPaidOut{"出金", 336, 4, FieldKind::Signed};
inline constexpr FieldPlace kPointUnit{"ポイント単位", 340, 2, FieldKind::Bits, 12, 0};
inline constexpr FieldPlace kPointsPerUnit{"ポイント数", 340, 2, FieldKind::Bits, 4, 12};
inline constexpr FieldPlace kRate1{"税率1", 342, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kRate2{"税率2", 344, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kRate3{"税率3", 346, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kStampThreshold{"印紙税基準額", 348, 4, FieldKind::Signed};
// The barcode payment service's account (records upgraded for it).
inline constexpr FieldPlace kXAuthToken{"X-Auth-Token", 512, 128, FieldKind::Text};
inline constexpr FieldPlace kXAuthKey{"X-Auth-Key", 640, 128, FieldKind::Text};
inline constexpr FieldPlace kMerchantId{"加盟店ID", 768, 128, FieldKind::Text};
inline constexpr FieldPlace kProductName{"商品名", 896, 128, FieldKind::Text};
// Payment flags, bit 0: barcode tenders go through the payment service.
inline constexpr FieldPlace kPaymentService{"決済サービス", 1024, 2, FieldKind::Bits, 1, 0};
}  // namespace settings

// Customers.
namespace customer {
inline constexpr FieldPlace kCode{"コード", 0, 28, FieldKind::Text};
inline constexpr FieldPlace kName{"名称", 28, 36, FieldKind::Text};
inline constexpr FieldPlace kPointBalance{"ポイント残高", 64, 4, FieldKind::Signed};
inline constexpr FieldPlace kPointsGranted{"付与ポイント", 68, 4, FieldKind::Signed};
inline constexpr FieldPlace kPointRate{"ポイント倍率", 72, 4, FieldKind::Signed};
}  // namespace customer

// The attribute word of departments, PLU items and transaction keys.
namespace attribute {
inline constexpr uint16_t kDigitLimitMask = 0x000F;
inline constexpr uint16_t kPointTarget = 0x0010;
inline constexpr uint16_t kNoRefund = 0x0020;
inline constexpr uint16_t kNoRegistration1 = 0x0040;
inline constexpr uint16_t kNoRegistration2 = 0x0080;
inline constexpr uint16_t kNoPriceOverride = 0x0100;
inline constexpr uint16_t kInnerTax = 0x0200;
inline constexpr uint16_t kNonTaxable = 0x0400;
inline constexpr uint16_t kNoSpecialTax = 0x0800;
inline constexpr int kRateShift = 12;      // bits 12-13: tax rate slot 0-3
inline constexpr int kRoundingShift = 14;  // bits 14-15
}  // namespace attribute

// Departments; record 0 holds the grand totals.
namespace department {
inline constexpr FieldPlace kName{"部門名", 0, 24, FieldKind::Text};
inline constexpr FieldPlace kPrintName{"印刷名", 24, 12, FieldKind::Text};
inline constexpr FieldPlace kNumber{"部門番号", 36, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kGroupLink{"グループリンク", 38, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kAttributes{"入力桁制限", 40, 2, FieldKind::Unsigned};  // the attribute word
inline constexpr FieldPlace kListSelect{"一覧選択", 42, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kUnitPrice{"単価", 44, 4, FieldKind::Signed};
inline constexpr FieldPlace kCount{"売上個数合計", 48, 4, FieldKind::Signed};
inline constexpr FieldPlace kAmount{"売上金額合計", 52, 4, FieldKind::Signed};
inline constexpr FieldPlace kCost{"仕入金額合計", 56, 4, FieldKind::Signed};
inline constexpr FieldPlace kMarginBase{"粗利対象金額", 60, 4, FieldKind::Signed};
}  // namespace department

// PLU items; record 0 holds the grand totals.
namespace plu {
inline constexpr FieldPlace kName{"商品名", 0, 24, FieldKind::Text};
inline constexpr FieldPlace kPrintName{"印刷名", 24, 12, FieldKind::Text};
inline constexpr FieldPlace kCode{"コード", 36, 14, FieldKind::Text};
inline constexpr FieldPlace kDepartment{"部門番号", 50, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kAttributes{"入力桁制限", 52, 2, FieldKind::Unsigned};  // the attribute word
inline constexpr FieldPlace kDisplayOrder{"一覧表示順", 54, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kUnitPrice{"単価", 60, 4, FieldKind::Signed};
inline constexpr FieldPlace kCount{"売上個数合計", 64, 4, FieldKind::Signed};
inline constexpr FieldPlace kAmount{"売上金額合計", 68, 4, FieldKind::Signed};
inline constexpr FieldPlace kCost{"仕入金額合計", 72, 4, FieldKind::Signed};
inline constexpr FieldPlace kMarginBase{"粗利対象金額", 76, 4, FieldKind::Signed};
}  // namespace plu

// Groups; record 0 holds the grand totals.
namespace group {
inline constexpr FieldPlace kName{"グループ名", 0, 24, FieldKind::Text};
inline constexpr FieldPlace kPrintName{"印刷名", 24, 12, FieldKind::Text};
inline constexpr FieldPlace kNumber{"グループ番号", 36, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kCount{"売上個数合計", 48, 4, FieldKind::Signed};
inline constexpr FieldPlace kAmount{"売上金額合計", 52, 4, FieldKind::Signed};
inline constexpr FieldPlace kCost{"仕入金額合計", 56, 4, FieldKind::Signed};
inline constexpr FieldPlace kMarginBase{"粗利対象金額", 60, 4, FieldKind::Signed};
}  // namespace group

// Clerks and managers; record 0 is the system manager.
namespace clerk {
inline constexpr FieldPlace kName{"名前", 0, 16, FieldKind::Text};
inline constexpr FieldPlace kPrintName{"印刷名", 16, 8, FieldKind::Text};
inline constexpr FieldPlace kNumber{"担当者番号", 24, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kPin{"暗証番号", 26, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kConfirmLevel{"確認レベル", 28, 1, FieldKind::Unsigned};
inline constexpr FieldPlace kProgramLevel{"設定レベル", 29, 1, FieldKind::Bits, 2, 0};
inline constexpr uint16_t kForbiddenModes = 30;  // u16, bits of the register modes
inline constexpr uint16_t kNotManager = 0x8000;  // bit 15 of the forbidden-mode word
inline constexpr FieldPlace kNetCount{"純売件数", 32, 4, FieldKind::Signed};
inline constexpr FieldPlace kNetAmount{"純売金額", 36, 4, FieldKind::Signed};
inline constexpr FieldPlace kGrossCount{"総売個数", 40, 4, FieldKind::Signed};
inline constexpr FieldPlace kGrossAmount{"総売金額", 44, 4, FieldKind::Signed};
}  // namespace clerk

// Transaction and function keys ("取引１", "取引２", "取引３" alike).
namespace transkey {
inline constexpr FieldPlace kName{"取引名", 0, 24, FieldKind::Text};
inline constexpr FieldPlace kPrintName{"印刷名", 24, 12, FieldKind::Text};
inline constexpr FieldPlace kAttributes{"入力桁制限", 36, 2, FieldKind::Unsigned};  // the attribute word
inline constexpr FieldPlace kPreset{"プリセット", 38, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kCount{"回数", 40, 4, FieldKind::Signed};
inline constexpr FieldPlace kAmount{"金額", 44, 4, FieldKind::Signed};
// First key code of each table: record = code - base.
inline constexpr uint16_t kTrans1Base = 1, kTrans2Base = 20, kTrans3Base = 50;
}  // namespace transkey

// Fixed totalizers: slot = record number, 36 slots.
namespace fixedtotal {
inline constexpr FieldPlace kName{"合計器名", 0, 24, FieldKind::Text};
inline constexpr FieldPlace kPrintName{"印刷名", 24, 12, FieldKind::Text};
inline constexpr FieldPlace kDate{"更新日付", 38, 2, FieldKind::Date};
inline constexpr FieldPlace kCount{"回数", 40, 4, FieldKind::Signed};
inline constexpr FieldPlace kAmount{"金額", 44, 4, FieldKind::Signed};
inline constexpr int kSlots = 36;
}  // namespace fixedtotal

// ODBC link: header = connection string (512) + the order-sales block (58);
// records = one register field linked to an outside column.
namespace odbclink {
inline constexpr FieldPlace kConnectString{"接続文字列", 0, 512, FieldKind::Text};
inline constexpr FieldPlace kOrderCode{"受注売上コード", 512, 14, FieldKind::Text};
inline constexpr uint16_t kOrderBlockLen = 58;
inline constexpr FieldPlace kKind{"リンク種別", 0, 4, FieldKind::Unsigned};
inline constexpr FieldPlace kFieldOffset{"項目位置", 4, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kFieldSize{"項目サイズ", 6, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kFieldWord{"ビット位置", 8, 2, FieldKind::Unsigned};  // width high byte, start low byte
inline constexpr FieldPlace kItemType{"項目タイプ", 10, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kLinkFlags{"リンクフラグ", 12, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kSqlType{"SQLデータ型", 14, 2, FieldKind::Signed};
inline constexpr FieldPlace kOuterTable{"リンクテーブル", 16, 32, FieldKind::Text};
inline constexpr FieldPlace kOuterColumn{"リンク項目", 48, 32, FieldKind::Text};
// Link flags.
inline constexpr uint16_t kKeyColumn = 0x0001, kTextKey = 0x0002, kPriceByDivisor = 0x8000;
// Link kinds.
inline constexpr uint32_t kCustomers = 4, kPlu = 5, kOrders = 13, kSalesLines = 19, kSettlement = 20;
}  // namespace odbclink

// ---- the line record of a sale (96 bytes) ---------------------------------

namespace line {
inline constexpr uint32_t kSize = 96;
inline constexpr uint16_t kDisplayName = 0, kDisplayNameLen = 24;  // fncn
// A customer line's name runs on over the print name: 36 bytes.
inline constexpr uint16_t kCustomerNameLen = 36;
inline constexpr uint16_t kPrintName = 24, kPrintNameLen = 12;      // prnn
inline constexpr uint16_t kCode = 36, kCodeLen = 14;                // codn
inline constexpr uint16_t kSubCode = 50, kSubCodeLen = 14;          // scdn
inline constexpr uint16_t kFlags = 64;                              // u16
inline constexpr uint16_t kKeyCode = 66;                            // u16
inline constexpr uint16_t kUnit = 68, kUnitPrice = 72, kPrice = 76, kUnitNet = 80, kNetPrice = 84;  // i32
inline constexpr uint16_t kDummy0 = 88, kDummy1 = 92;
// Flag word bits.
inline constexpr uint16_t kVoid = 0x0001;
inline constexpr int kRateShift = 4;  // bits 4-5
inline constexpr uint16_t kPcd = 0x0040, kPscd = 0x0080, kDouble = 0x0100, kCcts = 0x0200, kClct = 0x0400;
inline constexpr uint16_t kInnerTax = 0x0800, kNonTaxable = 0x1000, kTaxExempt = 0x2000, kNoSpecialTax = 0x4000;
inline constexpr uint16_t kPointTarget = 0x8000;
}  // namespace line

// ---- the sale totals block: 28 signed 32-bit sums of one transaction ------

namespace saletotal {
inline constexpr int kWords = 28;
inline constexpr int kRefund = 0;          // 1 for a refund (197)
inline constexpr int kSettlement = 1;      // 1 for a settlement (192)
inline constexpr int kReading = 2;         // 1 for 192 and 193: no totalizer posting
inline constexpr int kSection = 3;         // kind of the current report section
inline constexpr int kGuests = 4;          // guest count
inline constexpr int kSale = 5;            // sale total in the register's tax base
inline constexpr int kItems = 6;           // item amount
inline constexpr int kOuterTaxable = 7;    // 7-10: outer-tax taxable amount per rate
inline constexpr int kInner = 11;          // 11-14: inner-tax amount per rate
inline constexpr int kExempt = 15;         // non-taxable or exempt lines without inner tax
inline constexpr int kExemptInner = 16;    // 16-19: inner-tax amount of non-taxable or exempt lines
inline constexpr int kSpecialPresent = 20; // special local tax present
inline constexpr int kSpecialBase = 21;
inline constexpr int kSpecialTax = 22;
inline constexpr int kPointTarget = 23;    // amount of point-target lines
inline constexpr int kServiceCharge = 24;
inline constexpr int kQuantity = 25;       // item quantity
inline constexpr int kCash = 26;           // cash, paid-in and paid-out amounts
inline constexpr int kService = 27;
}  // namespace saletotal

// ---- key codes and register mode codes -------------------------------------

// Where a transaction key's record lies: its table and record number
// ("取引１" from code 1, "取引２" from 20, "取引３" from 50). False for any
// other key type; the record number is below 0 for a code below its table's
// first key.
inline bool transKeyPlace(uint16_t keyCode, TableIndex* table, int32_t* record) {
  const int32_t n = keyNumber(keyCode);
  switch (keyType(keyCode)) {
    case kKeyTrans1: *table = kTrans1Table; *record = n - transkey::kTrans1Base; return true;
    case kKeyTrans2: *table = kTrans2Table; *record = n - transkey::kTrans2Base; return true;
    case kKeyFunction: *table = kTrans3Table; *record = n - transkey::kTrans3Base; return true;
    default: return false;
  }
}

enum RegisterMode : uint16_t {
  kModeSettlement = 192,  // 精算
  kModeXReading = 193,    // 点検
  kModeRegister2 = 194,   // 登録２
  kModeRegister1 = 195,   // 登録１
  kModeNotSetUp = 196,    // a register view not set up yet (a held-sale ticket's head)
  kModeRefund = 197,      // 戻し
  kModeProgram = 198,     // 設定 (with a save level)
  kModeClerkCode = 204,   // clerk-code generation (with a level)
  kModeHeldSale = 207,    // footer of a held-sale ticket, printed as 小計
};
// Bits of the clerk's forbidden-mode word.
enum ForbiddenMode : uint16_t {
  kForbidProgram = 0x01,  // 設定 and clerk-code generation
  kForbidRefund = 0x02,
  kForbidRegister1 = 0x04,
  kForbidRegister2 = 0x08,
  kForbidXReading = 0x10,
  kForbidSettlement = 0x20,
};
// Programming save levels.
inline constexpr uint32_t kSaveUpdate = 1, kSaveAppend = 2;

// Sale mode values of the temporary transaction files.
inline constexpr uint16_t kSaleRefund = 0, kSaleRegister1 = 1, kSaleRegister2 = 2, kSaleNone = 0xFFFF;

// DOS date word: year - 1980 in bits 9-15, month in 5-8, day in 0-4.
inline constexpr uint16_t dosDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

}  // namespace varnex::reg
