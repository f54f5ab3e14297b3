// Upkeep of older projects, run at every open and after a restore: the
// transaction keys, key-layout entries, link columns and per-rate tax
// totalizers that the register relies on are added where they are missing,
// and nothing the user defined is changed. Running it twice changes nothing
// the second time.
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/register/engine/reg_com.h"
#include "zemta/filedb.h"

namespace varnex::reg {

struct CRegCom::KeyName {
  const char* display;
  const char* print;       // null: the display text
  uint16_t keyCode;        // register key code
  uint16_t keyWord;        // keyboard key word
  const char* formerName;  // non-null: a record whose both names are this text is renamed too
  bool layoutMustExist;    // a missing layout record is a failure, not appended
};

namespace {

constexpr uint16_t kShiftF(int n) { return static_cast<uint16_t>(keylayout::kShift | keylayout::kVirtual | (0x6F + n)); }
constexpr uint16_t kPlainF(int n) { return static_cast<uint16_t>(keylayout::kVirtual | (0x6F + n)); }

// Writes record n, first padding the table with empty records up to it (a
// write past the end would otherwise append the record at the wrong place).
bool writeRecordAt(FileDBHandle table, int32_t n, const void* data) {
  int32_t count = FileDBRecGetSize(table);
  if (count < 0) return false;
  if (count < n) {
    std::vector<uint8_t> empty(FileDBRecGetFieldSize(table), 0);
    for (; count < n; ++count)
      if (FileDBRecWrite(table, count, empty.data()) != 0) return false;
  }
  return FileDBRecWrite(table, n, data) == 0;
}

bool namesEqual(const uint8_t* record, const char* text) {
  return getText(record, transkey::kName.offset, transkey::kName.size) == text &&
         getText(record, transkey::kPrintName.offset, transkey::kPrintName.size) == text;
}

bool named(const uint8_t* record) {
  return !isBlank(record, transkey::kName.offset, transkey::kName.size) ||
         !isBlank(record, transkey::kPrintName.offset, transkey::kPrintName.size);
}

}  // namespace

int32_t CRegCom::addKey(TableIndex table, int32_t n, const KeyName& key) {
  FileDBHandle t = tables_[table];
  uint8_t record[48];
  if (FileDBRecRead(t, n, record) < 0) return 0;
  const bool empty = !named(record);
  if (empty || (key.formerName && namesEqual(record, key.formerName))) {
    putText(record, transkey::kName.offset, transkey::kName.size, key.display);
    putText(record, transkey::kPrintName.offset, transkey::kPrintName.size, key.print ? key.print : key.display);
    if (!writeRecordAt(t, n, record)) return 0;
  }
  uint8_t layout[8];
  if (GetKeyByCode(key.keyWord, layout) >= 0) return 1;
  int32_t at = FindKeyByCode(key.keyCode, layout);
  if (at < 0) {
    if (key.layoutMustExist) return 0;
    std::memset(layout, 0, sizeof layout);
    putU16(layout, keylayout::kFunction.offset, key.keyCode);
    at = FileDBRecGetSize(tables_[kKeyLayoutTable]);
    if (at < 0) return 0;
  }
  putU16(layout, keylayout::kKeyWord.offset, key.keyWord);
  return writeRecordAt(tables_[kKeyLayoutTable], at, layout) ? 1 : 0;
}

int32_t CRegCom::CheckTransKeys() {
  if (notOpen("CRegCom")) return 0;
  static const KeyName kKeys[] = {
      {"ｺｰﾄﾞ売2", nullptr, makeKeyCode(kKeyTrans1, kTenderCodePayment + 1), kShiftF(7), nullptr, false},
      {"ｺｰﾄﾞ売3", nullptr, makeKeyCode(kKeyTrans1, kTenderCodePayment + 2), kShiftF(8), nullptr, false},
      {"ｺｰﾄﾞ売4", nullptr, makeKeyCode(kKeyTrans1, kTenderCodePayment + 3), kShiftF(9), nullptr, false},
      {"ｺｰﾄﾞ売5", nullptr, makeKeyCode(kKeyTrans1, kTenderCodePayment + 4), kShiftF(10), nullptr, false},
  };
  FileDBHandle t = tables_[kTrans1Table];
  uint8_t record[48];
  for (int i = 0; i < 4; ++i) {
    const int32_t n = 6 + i;
    if (FileDBRecRead(t, n, record) < 0) return 0;
    // A named record 6 means the project already has these keys.
    if (named(record)) {
      if (i == 0) return 1;
      continue;
    }
    if (addKey(kTrans1Table, n, kKeys[i]) != 1) return 0;
  }
  return 1;
}

int32_t CRegCom::AddPaymentKeys() {
  if (notOpen("CRegCom")) return 0;
  // (a) The settlement link gets its payment column: the field at record
  //     offset 92 moved to 96.
  FileDBHandle link = tables_[kOdbcLinkTable];
  const int32_t count = FileDBRecGetSize(link);
  if (count < 0) return 0;
  bool anyOfKind = false, current = false;
  int32_t at92 = -1;
  uint8_t record[80];
  for (int32_t n = 0; n < count; ++n) {
    if (FileDBRecRead(link, n, record) != 0) return 0;
    if (getU32(record, odbclink::kKind.offset) != odbclink::kSettlement) continue;
    anyOfKind = true;
    const uint16_t offset = getU16(record, odbclink::kFieldOffset.offset);
    if (offset == 96) current = true;
    if (offset == 92 && at92 < 0) at92 = n;
  }
  if (anyOfKind) {
    if (current) {
      if (!(forceUpkeep_ && forceUpkeep_())) return 1;
    } else {
      if (at92 < 0) return 0;
      if (FileDBRecRead(link, at92, record) != 0) return 0;
      putU16(record, odbclink::kFieldOffset.offset, 96);
      if (FileDBRecWrite(link, at92, record) != 0) return 0;
    }
  }
  // (b), (c) the code-sale and card-deposit keys.
  if (addKey(kTrans1Table, 5,
             {"ｺｰﾄﾞ売", nullptr, makeKeyCode(kKeyTrans1, kTenderCodePayment), kShiftF(6), nullptr, false}) != 1)
    return 0;
  if (addKey(kTrans2Table, 2,
             {"ｶｰﾄﾞ入金", nullptr, makeKeyCode(kKeyTrans2, kTrans2CardPaidIn), kShiftF(3), nullptr, false}) != 1)
    return 0;
  return 1;
}

int32_t CRegCom::AddPointAndTaxKeys() {
  if (notOpen("CRegCom")) return 0;
  // (a) The PLU link gets the point-target bit (record offset 52, start bit
  //     4) in front of the field that starts at bit 5.
  FileDBHandle link = tables_[kOdbcLinkTable];
  const int32_t count = FileDBRecGetSize(link);
  if (count < 0) return 0;
  bool anyOfKind = false, current = false;
  int32_t located = -1;
  uint8_t record[80];
  for (int32_t n = 0; n < count; ++n) {
    if (FileDBRecRead(link, n, record) != 0) return 0;
    if (getU32(record, odbclink::kKind.offset) != odbclink::kPlu) continue;
    anyOfKind = true;
    const uint16_t offset = getU16(record, odbclink::kFieldOffset.offset);
    const uint8_t startBit = static_cast<uint8_t>(getU16(record, odbclink::kFieldWord.offset) & 0xFF);
    if (offset == 52 && startBit == 4) current = true;
    if (offset == 52 && startBit == 5 && located < 0) located = n;
  }
  bool skipLink = !anyOfKind;
  if (anyOfKind && current) {
    if (!(forceUpkeep_ && forceUpkeep_())) return 1;
    skipLink = true;
  }
  if (!skipLink) {
    if (located < 0) return 0;
    uint8_t copy[80];
    if (FileDBRecRead(link, located, copy) != 0) return 0;
    for (int32_t n = count - 1; n >= located; --n) {
      if (FileDBRecRead(link, n, record) != 0 || !writeRecordAt(link, n + 1, record)) return 0;
    }
    putU16(copy, odbclink::kFieldWord.offset, 0x0104);
    std::memset(copy + odbclink::kOuterTable.offset, 0, 64);
    if (FileDBRecRead(link, located, record) != 0 || FileDBRecWrite(link, located, copy) != 0) return 0;
    if (located > 0) {
      if (FileDBRecRead(link, located - 1, record) != 0) return 0;
      const uint16_t word = getU16(record, odbclink::kFieldWord.offset);
      putU16(record, odbclink::kFieldWord.offset, static_cast<uint16_t>((word & 0x00FF) | 0x0400));
      if (FileDBRecWrite(link, located - 1, record) != 0) return 0;
    }
  }
  // (b) to (e) the point, reservation, switch, tax-cut and customer keys.
  if (addKey(kTrans1Table, 4,
             {"Ｐ使用", "ﾎﾟｲﾝﾄ使用", makeKeyCode(kKeyTrans1, kTenderPoints), kShiftF(4), nullptr, false}) != 1)
    return 0;
  if (addKey(kTrans2Table, 9,
             {"ポイント", nullptr, makeKeyCode(kKeyTrans2, kTrans2PointsEarned), kShiftF(5), nullptr, false}) != 1)
    return 0;
  if (addKey(kTrans3Table, 8,
             {"予約", nullptr, makeKeyCode(kKeyFunction, kFunctionReserve), kShiftF(12), "拡張1", true}) != 1)
    return 0;
  if (addKey(kTrans3Table, 9,
             {"切換", nullptr, makeKeyCode(kKeyFunction, kFunctionOtherRegisterMode), kPlainF(12), "拡張2", true}) != 1)
    return 0;
  if (addKey(kTrans3Table, 34,
             {"減税", nullptr, makeKeyCode(kKeyFunction, kFunctionTaxReduction), kPlainF(11), nullptr, false}) != 1)
    return 0;
  if (addKey(kTrans3Table, 35,
             {"取引先", nullptr, makeKeyCode(kKeyFunction, kFunctionCustomer), kShiftF(11), nullptr, false}) != 1)
    return 0;

  // (f) The per-rate tax totalizers take slots 11 to 28; the totalizers that
  //     stood there from slot 11 on move up behind them, every one of them.
  FileDBHandle fixed = tables_[kFixedTotalTable];
  const int32_t slots = FileDBRecGetSize(fixed);
  if (slots < 18) return 0;
  if (slots >= fixedtotal::kSlots) return 1;
  std::vector<std::vector<uint8_t>> saved;
  for (int32_t n = 11; n < slots; ++n) {
    saved.emplace_back(48, 0);
    if (FileDBRecRead(fixed, n, saved.back().data()) != 0) return 0;
  }
  static const char* const kNames[6][2] = {
      {"外税課税額%d", "ｿﾄ課税%d"}, {"外税額%d", "ｿﾄ税金%d"}, {"外税免税額%d", "ｿﾄ免税%d"},
      {"内税課税額%d", "ｳﾁ課税%d"}, {"内税額%d", "ｳﾁ税金%d"}, {"内税免税額%d", "ｳﾁ免税%d"},
  };
  for (int rate = 1; rate <= 3; ++rate) {
    for (int k = 0; k < 6; ++k) {
      uint8_t total[48] = {};
      char display[32], print[32];
      std::snprintf(display, sizeof display, kNames[k][0], rate);
      std::snprintf(print, sizeof print, kNames[k][1], rate);
      putText(total, fixedtotal::kName.offset, fixedtotal::kName.size, display);
      putText(total, fixedtotal::kPrintName.offset, fixedtotal::kPrintName.size, print);
      const int32_t n = 11 + 6 * (rate - 1) + k;
      uint8_t old[48];
      if (FileDBRecRead(fixed, n, old) < 0 || !writeRecordAt(fixed, n, total)) return 0;
    }
  }
  for (size_t i = 0; i < saved.size(); ++i) {
    const int32_t n = 29 + static_cast<int32_t>(i);
    uint8_t old[48];
    if (FileDBRecRead(fixed, n, old) < 0 || !writeRecordAt(fixed, n, saved[i].data())) return 0;
  }
  return 1;
}

}  // namespace varnex::reg
