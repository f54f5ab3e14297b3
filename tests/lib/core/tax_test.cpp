#include "zemta/tax.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/scripted_message_box.h"

namespace {

using testing_support::ScriptedMessageBox;

class Tax : public ::testing::Test {
 protected:
  void SetUp() override { SetTaxRate(800, 1000, 0, 0); }
  void TearDown() override { SetTaxRate(800, 0, 0, 0); }
};

struct TaxCase {
  int32_t amount, mode, slot, expected;
};

TEST_F(Tax, CalTaxExamples) {
  const TaxCase cases[] = {
      {1000, 1, 0, 80},  {1005, 0, 0, 80},  {1005, 1, 0, 80},  {1005, 2, 0, 81},   {-1005, 2, 0, -81},
      {-1005, 0, 0, -80}, {-1005, 1, 0, -80}, {0, 2, 0, 0},     {1100, 2, 1, 110},  {1105, 1, 1, 111},
      {-1105, 1, 1, -111}, {1104, 1, 1, 110}, {1, 2, 1, 1},     {-1, 2, 1, -1},     {-1, 1, 1, 0},
      {5, 1, 1, 1},       {-5, 1, 1, -1},    {4, 1, 1, 0},      {7, 3, 1, 0},       {2147483647, 0, 1, 214748364},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CalTax(c.amount, c.mode, c.slot), c.expected) << c.amount << " mode " << c.mode << " slot " << c.slot;
}

TEST_F(Tax, CalTaxIncExamples) {
  const TaxCase cases[] = {
      // Exact cases are exact in every mode (1080 at 8 % is 1000 + 80 tax).
      {1080, 0, 0, 1000}, {1080, 1, 0, 1000}, {1080, 2, 0, 1000}, {1100, 2, 1, 1000}, {1100, 1, 1, 1000},
      {1100, 0, 1, 1000}, {-1080, 2, 0, -1000}, {-1100, 0, 1, -1000},
      // 925.925...: tax 74.07 → 74 (modes 0 and 1), 75 (mode 2).
      {1000, 1, 0, 926}, {1000, 0, 0, 926}, {1000, 2, 0, 925}, {-1000, 1, 0, -926}, {-1000, 2, 0, -925},
      {-1000, 0, 0, -926}, {0, 1, 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CalTaxInc(c.amount, c.mode, c.slot), c.expected) << c.amount << " mode " << c.mode << " slot " << c.slot;
}

// The tax t (a whole number of yen) against the exact tax num/den: truncated,
// rounded up in magnitude, or rounded half away from zero, by the mode.
::testing::AssertionResult roundsAsTheMode(int64_t t, int64_t num, int64_t den, int mode) {
  // Compare on magnitudes with a common denominator.
  const int64_t exact = num < 0 ? -num : num;
  const int64_t tax = (t < 0 ? -t : t) * den;
  if (num != 0 && t != 0 && ((num < 0) != (t < 0))) return ::testing::AssertionFailure() << "sign";
  bool ok = false;
  if (mode == 1) ok = 2 * tax - 2 * exact <= den && 2 * exact - 2 * tax < den;
  else if (mode == 2) ok = tax >= exact && tax - exact < den;
  else ok = tax <= exact && exact - tax < den;
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "tax " << t << " for " << num << "/" << den << " mode " << mode;
}

TEST_F(Tax, EveryAmountUpTo20000AgreesWithTheExactTax) {
  for (int32_t slot : {0, 1}) {
    const int64_t rate = slot == 0 ? 800 : 1000;
    for (int mode : {0, 1, 2}) {
      for (int32_t sign : {1, -1}) {
        for (int32_t a = 1; a <= 20000; ++a) {
          const int32_t amount = sign * a;
          const int32_t tax = CalTax(amount, mode, slot);
          ASSERT_TRUE(roundsAsTheMode(tax, int64_t(amount) * rate, 10000, mode)) << "CalTax " << amount;
          const int32_t taxIncluded = amount - CalTaxInc(amount, mode, slot);
          ASSERT_TRUE(roundsAsTheMode(taxIncluded, int64_t(amount) * rate, 10000 + rate, mode))
              << "CalTaxInc " << amount;
        }
      }
    }
  }
}

TEST_F(Tax, BadSlotIsReportedAndTakesNoTax) {
  ScriptedMessageBox box;
  EXPECT_EQ(CalTax(1000, 1, 4), 0);
  EXPECT_EQ(CalTaxInc(1080, 1, -1), 1080);
  EXPECT_EQ(box.count(), 2u);
  EXPECT_NE(box.lastText().find("\x83\x70\x83\x89\x83\x81\x81\x5B\x83\x5E"), std::string::npos);  // パラメータ
}

TEST(CalRound, ModesAndPowers) {
  struct Case {
    double value;
    int32_t power, mode;
    double rounded;
    int32_t result;
  } cases[] = {
      {12.345, 2, 1, 12.35, 12}, {12.345, 2, 0, 12.34, 12}, {12.345, 2, 2, 12.35, 12},
      {-12.345, 2, 1, -12.35, -12}, {-12.345, 2, 0, -12.34, -12}, {-12.345, 2, 2, -12.35, -12},
      {2.5, 0, 1, 3, 3}, {-2.5, 0, 1, -3, -3}, {-2.4, 0, 2, -3, -3}, {-2.6, 0, 0, -2, -2},
      {1234, -1, 1, 1230, 1230}, {1235, -1, 1, 1240, 1240}, {1231, -1, 2, 1240, 1240}, {-1231, -1, 2, -1240, -1240},
      {0.0, 0, 2, 0, 0}, {3e10, 0, 0, 3e10, 2147483647},
  };
  for (const auto& c : cases) {
    double v = c.value;
    EXPECT_EQ(CalRound(&v, c.power, c.mode), c.result) << c.value << " mode " << c.mode;
    EXPECT_DOUBLE_EQ(v, c.rounded) << c.value << " mode " << c.mode;
  }
  ScriptedMessageBox box;
  EXPECT_EQ(CalRound(nullptr, 0, 1), 0);
  EXPECT_EQ(box.count(), 1u);
}

TEST(CheckDigit, MakeAndCheck) {
  char code[16] = "490123456789C";
  BccMake(code, 13);
  EXPECT_STREQ(code, "4901234567894");
  EXPECT_EQ(BccCheck(code, 13), 1);
  EXPECT_EQ(BccCheck("4901234567895", 13), 0);
  EXPECT_EQ(BccCheck("4901234567894", -1), 1);
  EXPECT_EQ(BccCheck("49012345", 8), 0);
  EXPECT_EQ(BccCheck("96385074", 8), 1);  // EAN-8
  EXPECT_EQ(BccCheck("0", 1), 0);

  // Everything after the placeholder is cleared up to the length.
  char name[20] = "0224120815c30.x";
  BccMake(name, 20);
  EXPECT_STREQ(name, "02241208153");
  for (int i = 11; i < 20; ++i) EXPECT_EQ(name[i], 0) << i;

  // No placeholder: unchanged.
  char plain[8] = "123456";
  BccMake(plain, 6);
  EXPECT_STREQ(plain, "123456");
}

TEST(CheckDigit, LettersAddIntoAnUnsigned16BitSum) {
  // 'A' adds (58 - 65) × 3 = -21: the 16-bit sum wraps to 65515, whose last digit is 5.
  char one[4] = "AC";
  BccMake(one, 2);
  EXPECT_STREQ(one, "A5");
  // "Z9": 9 weighs 3 → 3; 'Z' weighs 1 → -32; sum 65507 → 7.
  char two[4] = "Z9C";
  BccMake(two, 3);
  EXPECT_STREQ(two, "Z97");
  EXPECT_EQ(BccCheck("Z97", 3), 1);
}

std::string pattern(uint32_t type, const char* digits, int32_t size = 128) {
  char out[128];
  std::memset(out, 0, sizeof out);
  int32_t n = BarCodeMake(type, digits, static_cast<int32_t>(std::strlen(digits)), out, size);
  return std::string(out, n);
}

int moduleSum(const std::string& p) {
  int sum = 0;
  for (size_t i = 1; i < p.size(); ++i) sum += p[i] - '0';
  return sum;
}

TEST(BarCodeMake, Ean13Widths) {
  // First digit 4: left parities odd, even, odd, odd, even, even.
  const std::string expected = std::string("0") + "111" + "3112" + "1123" + "2221" + "2122" + "1141" + "2311" +
                               "11111" + "1231" + "1114" + "1312" + "1213" + "3112" + "1132" + "111";
  EXPECT_EQ(pattern(0x1000, "4901234567894"), expected);
  EXPECT_EQ(expected.size(), 60u);
  EXPECT_EQ(moduleSum(expected), 95);
}

TEST(BarCodeMake, SizesAndMagnification) {
  EXPECT_EQ(pattern(0x1000, "4901234567894", 60).size(), 60u);
  EXPECT_EQ(pattern(0x1000, "4901234567894", 59).size(), 0u);
  EXPECT_EQ(pattern(0x1000, "490123456789").size(), 0u);  // 12 digits
  EXPECT_EQ(pattern(0x1000, "490123456789X").size(), 0u);
  EXPECT_EQ(pattern(0x3000, "4901234567894").size(), 0u);

  const std::string ean8 = pattern(0x1000, "96385074", 44);
  ASSERT_EQ(ean8.size(), 44u);
  EXPECT_EQ(ean8[0], '0' + 17);  // 14 + 3
  EXPECT_EQ(moduleSum(ean8), 67);
  EXPECT_EQ(pattern(0x1000, "96385074", 43).size(), 0u);

  // Factor 2: every width doubled, bars one narrower; EAN-8 margin 28 + 6.
  const std::string big = pattern(0x1001, "96385074");
  ASSERT_EQ(big.size(), 44u);
  EXPECT_EQ(big[0], '0' + 34);
  for (size_t i = 1; i < big.size(); ++i)
    EXPECT_EQ(big[i] - '0', (ean8[i] - '0') * 2 - (i % 2 ? 1 : 0)) << i;
  EXPECT_EQ(pattern(0x1003, "96385074")[0], '0' + 14 * 3 + 9);
  EXPECT_EQ(pattern(0x100F, "96385074")[0], '0' + 14 * 4 + 13);
  EXPECT_EQ(pattern(0x1004, "4901234567894")[1], '0' + 3);  // a guard bar of 1 at factor 4
}

TEST(BarCodeMake, Itf) {
  EXPECT_EQ(pattern(0x2000, "12"), std::string(1, '0' + 35) + "1111" + "2112111122" + "211");
  EXPECT_EQ(pattern(0x2000, "123").size(), 0u);  // odd count
  EXPECT_EQ(pattern(0x2000, "12345678901234").size(), 78u);
  EXPECT_EQ(pattern(0x2000, "12345678901234")[0], '0');
  EXPECT_EQ(pattern(0x2000, "12345678901234", 77).size(), 0u);
  EXPECT_EQ(pattern(0x2000, "1234567890123456789012345678").size(), 0u);  // above 24 digits
  char out[8];
  EXPECT_EQ(BarCodeMake(0x2000, "12", 0, out, 8), 0);
}

TEST(BarCodeMake, NullBuffersAreReported) {
  ScriptedMessageBox box;
  EXPECT_EQ(BarCodeMake(0x1000, "4901234567894", 13, nullptr, 60), 0);
  EXPECT_EQ(box.count(), 1u);
}

}  // namespace
