// The named key codes against the values the line records carry, and the
// demo shop's transaction keys and key layout against those names: every key
// the demo lays out is one the register gives a function, under the name the
// shop sees on it.
#include <set>
#include <vector>

#include "app/register/engine/key_codes.h"
#include "app/register/engine/records.h"
#include "app/register/demo_project.h"

using namespace varnex::reg;
using varnex_test::DemoProject;
using DemoKeys = DemoProject;

namespace {

TEST(KeyCodes, WordsOfTheLineRecords) {
  struct Case {
    uint16_t named, word;
  } cases[] = {
      {makeKeyCode(kKeyDepartment, 3), 0x1003},
      {makeKeyCode(kKeyTrans1, kTenderCash), 0x2001},
      {makeKeyCode(kKeyTrans2, kTrans2Correction), 0x3026},
      {makeKeyCode(kKeyFunction, kFunctionSubtotal), 0x403E},
      {makeKeyCode(kKeyFunction, kFunctionCustomer), 0x4055},
      {systemLineKey(kLineChange), 0x8002},
      {systemLineKey(kLinePointsEarned), 0x8035},
      {kTextLineKey, 0xBFFF},
      {makeKeyCode(kKeyReportHeading, kReportMessage), 0xC015},
      {makeKeyCode(kKeySeparator, 0), 0xD000},
      {digitKey('7'), 0xE037},
      {closingKey(kModeRefund), 0xF0C5},
      {closingKey(kModeHeldSale), 0xF0CF},
  };
  for (const Case& c : cases) EXPECT_EQ(c.named, c.word) << std::hex << c.word;
  EXPECT_EQ(keyType(0xBFFF), kKeyReportTotal);
  EXPECT_EQ(keyNumber(0xBFFF), kTextLineCode);
}

// One name per value: no two key types, and no two codes of one family, meet.
TEST(KeyCodes, NoTwoNamesShareAValue) {
  auto distinct = [](const std::vector<uint16_t>& values) {
    return std::set<uint16_t>(values.begin(), values.end()).size() == values.size();
  };
  EXPECT_TRUE(distinct({kKeyCustomer, kKeyDepartment, kKeyTrans1, kKeyTrans2, kKeyFunction, kKeySystemLine,
                        kKeyReportItem, kKeyReportTotal, kKeyReportHeading, kKeySeparator, kKeyEntry, kKeyClosing}));
}

// The demo shop's transaction keys carry, at each code, the name of the
// function the register runs for that code.
TEST_F(DemoKeys, TransactionKeysSitAtTheirCodes) {
  ASSERT_TRUE(open()) << boxes->lastText();
  struct Case {
    uint16_t type, code;
    const char* name;
  } cases[] = {
      {kKeyTrans1, kTenderCash, "現計"},
      {kKeyTrans1, kTenderSlip, "掛売"},
      {kKeyTrans1, kTenderCard, "クレジット"},
      {kKeyTrans1, kTenderPoints, "Ｐ使用"},
      {kKeyTrans1, kTenderCodePayment, "ｺｰﾄﾞ売"},
      {kKeyTrans2, kTrans2PaidIn, "入金"},
      {kKeyTrans2, kTrans2PaidOut, "出金"},
      {kKeyTrans2, kTrans2CardPaidIn, "ｶｰﾄﾞ入金"},
      {kKeyTrans2, kTrans2Exchange, "両替"},
      {kKeyTrans2, kTrans2PointsEarned, "ポイント"},
      {kKeyTrans2, kTrans2AmountDiscount, "値引"},
      {kKeyTrans2, kTrans2PercentDiscount, "割引"},
      {kKeyTrans2, kTrans2Correction, "訂正"},
      {kKeyTrans2, kTrans2RefundShownSale, "返品"},
      {kKeyFunction, kFunctionReserve, "予約"},
      {kKeyFunction, kFunctionOtherRegisterMode, "切換"},
      {kKeyFunction, kFunctionSubtotal, "小計"},
      {kKeyFunction, kFunctionQuantity, "×"},
      {kKeyFunction, kFunctionPlu, "ＰＬＵ"},
      {kKeyFunction, kFunctionPersons, "客数"},
      {kKeyFunction, kFunctionClear, "クリア"},
      {kKeyFunction, kFunctionCancelLine, "取消"},
      {kKeyFunction, kFunctionFormalReceipt, "領収書"},
      {kKeyFunction, kFunctionTaxReduction, "減税"},
      {kKeyFunction, kFunctionCustomer, "取引先"},
  };
  uint8_t r[48];
  for (const Case& c : cases) {
    const uint16_t key = makeKeyCode(c.type, c.code);
    ASSERT_GE(engine->GetTransKeyRecord(key, r), 0) << std::hex << key;
    EXPECT_EQ(getText(r, transkey::kName.offset, transkey::kName.size), c.name) << std::hex << key;
  }
  // "取引２" codes without a function are blank keys.
  for (uint16_t code : {23, 24, 25, 27, 34, 35, 36, 37}) {
    ASSERT_GE(engine->GetTransKeyRecord(makeKeyCode(kKeyTrans2, code), r), 0) << code;
    EXPECT_TRUE(isBlank(r, transkey::kName.offset, transkey::kName.size)) << code;
  }
  EXPECT_EQ(boxes->count(), 0u);
}

// Every key the demo lays out is a department of the shop or a named key
// with a function, within its table's codes, laid out once.
TEST_F(DemoKeys, LaidOutKeysAreKeysOfTheRegister) {
  ASSERT_TRUE(open()) << boxes->lastText();
  const int32_t count = FileDBRecGetSize(engine->Table(kKeyLayoutTable));
  ASSERT_GT(count, 0);
  std::set<uint16_t> seen;
  uint8_t r[80];
  for (int32_t n = 0; n < count; ++n) {
    const std::vector<uint8_t> layout = read(kKeyLayoutTable, n);
    const uint16_t key = getU16(layout.data(), keylayout::kFunction.offset);
    EXPECT_TRUE(seen.insert(key).second) << std::hex << key << " laid out twice";
    const uint16_t code = keyNumber(key);
    switch (keyType(key)) {
      case kKeyDepartment: EXPECT_GE(engine->GetDepartmentRecord(code, r), 1) << code; break;
      case kKeyTrans1: EXPECT_GE(code, kTenderCash) << code; break;
      case kKeyTrans2:
        EXPECT_TRUE(code >= kTrans2First && code <= kTrans2Last) << code;
        EXPECT_FALSE((code >= 23 && code <= 25) || code == 27 || (code >= 34 && code <= 37)) << code;
        break;
      case kKeyFunction: EXPECT_TRUE(code >= kFunctionFirst && code <= kFunctionLast) << code; break;
      default: ADD_FAILURE() << std::hex << key << " is no key of the register";
    }
    if (keyType(key) != kKeyDepartment) {
      ASSERT_GE(engine->GetTransKeyRecord(key, r), 0) << std::hex << key;
      EXPECT_FALSE(isBlank(r, transkey::kName.offset, transkey::kName.size)) << std::hex << key;
    }
  }
}

}  // namespace
