// The ODBC link of the register: what the data engine keeps of it and the
// blocks it exchanges with its callers.
//
// The connection string lives in the first 512 bytes of the header of the
// project table "ODBCリンク" (zero-terminated); the table's records map
// register fields onto outside columns, one 80-byte record per field:
//
//   offset width field
//    0     u32   link kind (4 customers, 5 PLU, 13 orders, 19 sales lines,
//                20 settlement); index 0 of the table is on it
//    4     u16   register field: record offset
//    6     u16   register field: size
//    8     u16   register field: bit-field position word (start bit low byte)
//   10     u16   register field: item type word
//   12     u16   link flags: bit 0 key column, bit 1 text key, bit 15 (PLU)
//                purchase price per divisor
//   14     i16   SQL data type of the outside column
//   16     32    outside table name (may be "schema.table"), zero-terminated
//   48     32    outside column name; empty: the field is not linked
//
// Texts crossing into ODBC stay code page 932 here; the platform layer
// speaks UTF-8 to the driver (see platform/base/odbc.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/register/engine/records.h"
#include "platform/base/odbc.h"

namespace varnex::reg {

// A statement of the link, owned by whoever holds it: it is freed when it is
// dropped, replaced or goes out of scope; null when none is allocated.
using OdbcStmt = std::unique_ptr<platform::odbc::Statement>;

// Drops a statement and clears the handle.
inline void OdbcDrop(OdbcStmt* statement) {
  if (statement) statement->reset();
}

// The parsed connection string. Every text is zero-terminated (255 bytes at
// most).
struct OdbcConnectParams {
  int32_t sourceKind;  // 1: neither DSN nor FILEDSN given, 0: one of them
  char driver[256];
  char dsn[256];
  char fileDsn[256];
  char uid[256];
  char pwd[256];
  int32_t trusted;  // -1 not given, 1 "Yes", 0 "No"
  char database[256];
  char wsid[256];
  char app[256];
  char server[256];
  char description[256];
  char defaultDir[256];
  char dbq[256];
  char other[256];  // every other pair as key=value; in the order met
};

inline constexpr size_t kOdbcHeaderLen = 512;

// The link's connection, our own thin class over the platform's ODBC.
class CDatabase {
 public:
  // Connects without prompting. False: the driver's message in LastError().
  bool OpenEx(const char* connect, uint32_t options = 0);
  void Close() { connection_.close(); }
  bool IsOpen() const { return connection_.isOpen(); }
  // The connection string the driver completed; the one given to OpenEx
  // when the completed one names neither a driver nor a data source (the
  // SQLite driver answers with "DSN=;..." for a string without a DSN).
  std::string GetConnect() const;
  // One unit of work: manual commit until CommitTrans or Rollback.
  bool BeginTrans() { return connection_.setAutoCommit(false); }
  bool CommitTrans();
  bool Rollback();
  bool InTransaction() const { return inTransaction_; }
  const std::string& LastError() const { return connection_.lastError(); }
  platform::odbc::Connection& Connection() { return connection_; }

 private:
  platform::odbc::Connection connection_;
  std::string given_;
  bool inTransaction_ = false;
  friend class CRegCom;
};

// The link kinds and what the engine keeps of each.
namespace odbcmap {
inline constexpr int kKinds = 5;
inline constexpr uint32_t kKindOf[kKinds] = {4, 5, 13, 19, 20};
inline constexpr int32_t kCapacity[kKinds] = {14, 34, 16, 19, 19};
inline constexpr int kMaxCapacity = 34;
// Slot of a kind in the engine's arrays, -1 for any other kind.
inline int slotOf(uint32_t kind) {
  for (int i = 0; i < kKinds; ++i)
    if (kKindOf[i] == kind) return i;
  return -1;
}
}  // namespace odbcmap

// One register field of a statement: record offset, size, position word,
// item type word (the 8 bytes of a link record's descriptor).
struct OdbcField {
  uint16_t offset;
  uint16_t size;
  uint16_t position;
  uint16_t type;
};

// The 8-byte descriptor of a link record (its bytes from the record offset
// on, as the engine keeps them) as a field.
inline OdbcField descriptorField(const uint8_t* descriptor) {
  constexpr uint16_t at = odbclink::kFieldOffset.offset;
  return {getU16(descriptor, odbclink::kFieldOffset.offset - at), getU16(descriptor, odbclink::kFieldSize.offset - at),
          getU16(descriptor, odbclink::kFieldWord.offset - at), getU16(descriptor, odbclink::kItemType.offset - at)};
}

// The item type word the link records carry for a field of this kind: 0
// text, 4 unsigned, 7 signed, 8 double, 14 date (a date word, or the whole
// timestamp in a 16-byte field).
constexpr uint16_t linkItemType(FieldKind kind) {
  switch (kind) {
    case FieldKind::Text: return 0;
    case FieldKind::Unsigned:
    case FieldKind::Bits: return 4;
    case FieldKind::Signed: return 7;
    case FieldKind::Real: return 8;
    case FieldKind::Date: return 14;
  }
  return 0;
}

// The descriptor of a described field, byte for byte as its link record
// holds it (a bit field names its width and start bit).
constexpr OdbcField linkField(const FieldPlace& f) {
  return {f.offset, f.size,
          static_cast<uint16_t>(f.kind == FieldKind::Bits ? (f.bitCount << 8) | f.bitPosition : 0),
          linkItemType(f.kind)};
}

// ---- the register buffers the link fills and writes ----------------------
// Laid out by kind; each field's name is the one the link screen shows (none
// where it offers none). Lookups clear a buffer before they fill it, so
// unlinked fields and NULL columns read as zero.

// Customers (kind 4).
namespace odbccustomer {
inline constexpr uint16_t kLen = 208;
inline constexpr FieldPlace kCode{"コード（主キー）", 0, 28, FieldKind::Text};
inline constexpr FieldPlace kName{"取引先名", 32, 32, FieldKind::Text};
inline constexpr FieldPlace kKeyword1{"キーワード１", 64, 32, FieldKind::Text};
inline constexpr FieldPlace kKeyword2{"キーワード２", 96, 32, FieldKind::Text};
inline constexpr FieldPlace kKeyword3{"キーワード３", 128, 32, FieldKind::Text};
inline constexpr FieldPlace kPointRate{"ポイント倍率", 168, 4, FieldKind::Signed};
inline constexpr FieldPlace kPointBalance{"ポイント残高", 172, 4, FieldKind::Signed};
}  // namespace odbccustomer

// PLU items (kind 5): the first 80 bytes as the project's PLU record, then
// totals and stock kept outside only.
namespace odbcplu {
inline constexpr uint16_t kLen = 168;
inline constexpr FieldPlace kName{"商品名（画面）", 0, 24, FieldKind::Text};
inline constexpr FieldPlace kPrintName{"商品名（印刷）", 24, 12, FieldKind::Text};
inline constexpr FieldPlace kCode{"コード（主キー）", 36, 14, FieldKind::Text};
inline constexpr FieldPlace kDepartment{"部門リンク", 50, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kAttributes{"入力桁制限", 52, 2, FieldKind::Unsigned};  // the attribute word
inline constexpr FieldPlace kListOrder{"部門一覧表示順番", 54, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kUnitPrice{"販売単価", 60, 4, FieldKind::Signed};
inline constexpr FieldPlace kCount{"売上個数合計", 64, 4, FieldKind::Signed};
inline constexpr FieldPlace kAmount{"売上金額合計", 68, 4, FieldKind::Signed};
inline constexpr FieldPlace kCost{"仕入金額合計", 72, 4, FieldKind::Signed};
inline constexpr FieldPlace kMarginBase{"粗利計算対象売上金額合計", 76, 4, FieldKind::Signed};
// The count the purchase price is divided by (link flag bit 15).
inline constexpr FieldPlace kPriceDivisor{nullptr, 80, 4, FieldKind::Signed};
inline constexpr FieldPlace kPurchasePrice{"仕入単価", 84, 8, FieldKind::Real};
inline constexpr FieldPlace kSaleUnit{"販売単位個数", 92, 4, FieldKind::Signed};
inline constexpr FieldPlace kBaseStock{"基準在庫個数", 96, 4, FieldKind::Signed};
inline constexpr FieldPlace kStock{"在庫個数", 100, 4, FieldKind::Signed};
inline constexpr FieldPlace kProperStock{"適正在庫個数", 104, 4, FieldKind::Signed};
inline constexpr FieldPlace kLeastOrder{"最低受注個数", 108, 4, FieldKind::Signed};
inline constexpr FieldPlace kOrdered{"受注個数", 112, 4, FieldKind::Signed};
inline constexpr FieldPlace kLeadDays{"標準入荷日数", 116, 4, FieldKind::Signed};
inline constexpr FieldPlace kOrderUnit{"受注単位個数", 120, 4, FieldKind::Signed};
inline constexpr FieldPlace kStockError{"在庫数異常発生", 124, 14, FieldKind::Text};
inline constexpr FieldPlace kShortage{"在庫数不足状態", 138, 14, FieldKind::Text};
}  // namespace odbcplu

// Orders (kind 13).
namespace odbcorder {
inline constexpr uint16_t kLen = 154;
inline constexpr FieldPlace kNumber{"受注番号（主キー）", 0, 4, FieldKind::Signed};
inline constexpr FieldPlace kOrderer{"受注者番号", 4, 4, FieldKind::Unsigned};
inline constexpr FieldPlace kStatus{"状況", 8, 4, FieldKind::Unsigned};
inline constexpr FieldPlace kDate{"受注日付", 12, 16, FieldKind::Date};
inline constexpr FieldPlace kSupplier{"受注先コード", 28, 14, FieldKind::Text};
inline constexpr FieldPlace kItemCode{"商品コード", 42, 14, FieldKind::Text};
inline constexpr FieldPlace kName{"商品名（画面）", 56, 24, FieldKind::Text};
inline constexpr FieldPlace kPrintName{"商品名（印刷）", 80, 12, FieldKind::Text};
inline constexpr FieldPlace kQuantity{"受注個数", 92, 4, FieldKind::Signed};
inline constexpr FieldPlace kUnitPrice{"販売単価", 96, 8, FieldKind::Real};
inline constexpr FieldPlace kPurchasePrice{"仕入単価", 104, 8, FieldKind::Real};
inline constexpr FieldPlace kDueDate{"希望納期", 112, 16, FieldKind::Date};
inline constexpr FieldPlace kDepartment{"部門リンク", 128, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kTextNumber{"文字型受注番号（主キー）", 140, 14, FieldKind::Text};
}  // namespace odbcorder

// Sales lines (kind 19).
namespace odbcsale {
inline constexpr uint16_t kLen = 164;
inline constexpr FieldPlace kTime{"取引日時", 0, 16, FieldKind::Date};
inline constexpr FieldPlace kStore{"ストアＩＤ", 32, 4, FieldKind::Unsigned};
inline constexpr FieldPlace kClerk{"担当者番号", 36, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kDepartment{"部門番号", 38, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kCustomer{"取引先コード", 40, 32, FieldKind::Text};
inline constexpr FieldPlace kName{"商品名", 72, 32, FieldKind::Text};
inline constexpr FieldPlace kCode{"商品コード", 104, 14, FieldKind::Text};
inline constexpr FieldPlace kSubCode{"商品サブコード", 118, 14, FieldKind::Text};
inline constexpr FieldPlace kInnerTax{"内税", 132, 1, FieldKind::Unsigned};
inline constexpr FieldPlace kNonTaxable{"消費税非課税", 133, 1, FieldKind::Unsigned};
inline constexpr FieldPlace kTaxExempt{"消費税免税", 134, 1, FieldKind::Unsigned};
inline constexpr FieldPlace kNoSpecialTax{"特別地方税非課税", 135, 1, FieldKind::Unsigned};
inline constexpr FieldPlace kCount{"売上個数", 136, 4, FieldKind::Signed};
inline constexpr FieldPlace kUnitPrice{"売上単価", 140, 4, FieldKind::Signed};
inline constexpr FieldPlace kAmount{nullptr, 144, 4, FieldKind::Signed};  // the line amount
inline constexpr FieldPlace kPurchasePrice{"仕入単価", 148, 8, FieldKind::Real};
}  // namespace odbcsale

// Settlement totals (kind 20).
namespace odbcsettle {
inline constexpr uint16_t kLen = 96;
inline constexpr FieldPlace kTime{"精算日時", 0, 16, FieldKind::Date};
inline constexpr FieldPlace kStore{"ストアＩＤ", 32, 4, FieldKind::Unsigned};
// The low 16 bits of the price of the transaction's last report section line.
inline constexpr FieldPlace kSection{nullptr, 36, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kClerk{"担当者番号", 38, 2, FieldKind::Unsigned};
// The transaction's totals, in the order of the posting context's sums.
inline constexpr int kTotalCount = 14;
inline constexpr FieldPlace kTotals[kTotalCount] = {
    {"純売上件数", 40, 4, FieldKind::Signed}, {"純売上金額", 44, 4, FieldKind::Signed},
    {"総売上個数", 48, 4, FieldKind::Signed}, {"総売上金額", 52, 4, FieldKind::Signed},
    {"入金", 56, 4, FieldKind::Signed},       {"出金", 60, 4, FieldKind::Signed},
    {"現預", 64, 4, FieldKind::Signed},       {"貸売", 68, 4, FieldKind::Signed},
    {"信売", 72, 4, FieldKind::Signed},       {"券売", 76, 4, FieldKind::Signed},
    {"ポイント売", 80, 4, FieldKind::Signed}, {"与ポイント", 84, 4, FieldKind::Signed},
    {"カード入金", 88, 4, FieldKind::Signed}, {"コード売", 92, 4, FieldKind::Signed}};
}  // namespace odbcsettle

// The order-sales block of the link table's header (58 bytes from byte 512;
// see odbclink): what an order row and the sales and settlement rows take
// from it, by place in the block.
namespace orderblock {
// The order code mask: up to 12 characters, digits fixed, S the order number.
inline constexpr FieldPlace kMask{"受注売上コード", 0, 14, FieldKind::Text};
inline constexpr uint16_t kMaskPositions = 12;
// Non-zero: an order code must pass the check digit.
inline constexpr FieldPlace kCheckDigit{"受注ﾁｪｯｸﾃﾞｼﾞｯﾄ", 14, 2, FieldKind::Unsigned};
// Non-zero: an order line gets line flag 0x80.
inline constexpr FieldPlace kLineFlag{"受注売上フラグ", 16, 2, FieldKind::Unsigned};
// The product code of an order that carries none, and the department of an
// order line whose product is no item of the shop.
inline constexpr FieldPlace kDefaultCode{"既定商品コード", 18, 14, FieldKind::Text};
inline constexpr FieldPlace kDefaultDepartment{"既定部門番号", 32, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kOrderer{"受注者番号", 34, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kSupplier{"受注先コード", 36, 14, FieldKind::Text};
inline constexpr FieldPlace kStatus{"状況", 50, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kLeadDays{"標準入荷日数", 52, 2, FieldKind::Unsigned};
inline constexpr FieldPlace kStore{"ストアＩＤ", 54, 4, FieldKind::Unsigned};
}  // namespace orderblock

// The map of one kind, loaded after each connect.
struct OdbcKindMap {
  int32_t count = 0;
  uint8_t descriptors[odbcmap::kMaxCapacity][8] = {};
  char names[odbcmap::kMaxCapacity][32] = {};
  std::string select;  // the kind's SELECT text
};

// The link state of the engine.
struct OdbcLinkState {
  int32_t foreign = 1;       // 0: the maker's own ODBC server
  int32_t pointsLinked = 0;  // the customer kind links the point balance
  int32_t excel = 0;         // an Excel source
  uint16_t pluFlags = 0;     // bit 1 text key, bit 15 price per divisor
  uint16_t orderFlags = 0;
  OdbcKindMap kinds[odbcmap::kKinds];
  std::unique_ptr<CDatabase> database;
};

}  // namespace varnex::reg
