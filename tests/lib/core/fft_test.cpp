#include "zemta/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <vector>

#include "lib/core/report.h"
#include "support/scripted_message_box.h"

namespace {

using testing_support::ScriptedMessageBox;
constexpr double kPi = std::numbers::pi;

class FftTest : public ::testing::Test {
 protected:
  void TearDown() override { FftDelete(); }

  // Loads doubles as (value, 0.0) pairs.
  static void loadDoubles(const std::vector<double>& values) {
    std::vector<double> pairs(values.size() * 2, 0.0);
    for (size_t i = 0; i < values.size(); ++i) pairs[2 * i] = values[i];
    ASSERT_EQ(FftCopy(pairs.data(), 16, 0), 0);
  }
  static std::vector<double> sine(size_t n, double cycles, double phaseDegrees, double amplitude) {
    std::vector<double> v(n);
    MakeSignal(static_cast<int32_t>(n), v.data(), 8, cycles / static_cast<double>(n), phaseDegrees, amplitude);
    return v;
  }
  // The stored pairs (first, second) of count samples or bins.
  static std::vector<double> storePairs(size_t count) {
    std::vector<double> pairs(count * 2, -99.0);
    EXPECT_EQ(FftCopy(pairs.data(), 16, 1), 0);
    return pairs;
  }
};

TEST_F(FftTest, WholeCycleSineIsOnePeakAtItsBin) {
  constexpr int32_t n = 64;
  // The last bin is counted twice like every bin but the constant one, so a
  // sine there reads the same level as anywhere else.
  for (int32_t bin : {5, 31}) {
    ASSERT_EQ(FftNew(FFT_WINDOW_NONE | FFT_MAGNITUDE_PHASE, n), 0);
    loadDoubles(sine(n, bin, 0, 0.8));
    ASSERT_EQ(Fft(0), 0);
    EXPECT_NEAR(CalMag(bin, 0), 0.8 / std::sqrt(2.0), 1e-12) << bin;
    EXPECT_NEAR(CalMag(bin, 100), 0.8 / std::sqrt(2.0), 1e-12) << bin;  // width cut to the spectrum
    const auto bins = storePairs(n / 2);
    for (int32_t k = 0; k < n / 2; ++k)
      EXPECT_NEAR(bins[2 * k], k == bin ? 0.8 / std::sqrt(2.0) : 0.0, 1e-12) << bin << " at " << k;
  }

  // 16-bit signed samples: the level is in sample units, stored rounded.
  ASSERT_EQ(FftNew(FFT_WINDOW_NONE | FFT_SIGNED_SAMPLES, n), 0);
  std::vector<int16_t> samples(n);
  MakeSignal(n, samples.data(), 2, 3.0 / n, 0, 0.5);
  ASSERT_EQ(FftCopy(samples.data(), 2, 0), 0);
  ASSERT_EQ(Fft(0), 0);
  EXPECT_NEAR(CalMag(3, 1), 16384 / std::sqrt(2.0), 1.0);
  std::vector<int16_t> magnitudes(n / 2, -1);
  ASSERT_EQ(FftCopy(magnitudes.data(), 2, 1), 0);
  EXPECT_NEAR(magnitudes[3], 11585, 1);
  EXPECT_EQ(magnitudes[4], 0);
  // 8-bit magnitudes clamp at 127.
  std::vector<int8_t> small(n / 2, -1);
  ASSERT_EQ(FftCopy(small.data(), 1, 1), 0);
  EXPECT_EQ(small[3], 127);
  EXPECT_EQ(small[10], 0);
}

TEST_F(FftTest, WindowTables) {
  constexpr int32_t n = 16;
  const double last = n - 1;
  struct Case {
    uint32_t kind;
    std::function<double(double)> window;
  } cases[] = {
      {FFT_WINDOW_NONE, [](double) { return 1.0; }},
      {FFT_WINDOW_HANN, [](double x) { return 0.5 - 0.5 * std::cos(2 * kPi * x); }},
      {FFT_WINDOW_HAMMING, [](double x) { return 0.5434782608695652 - 0.4565217391304348 * std::cos(2 * kPi * x); }},
      {FFT_WINDOW_BLACKMAN,
       [](double x) { return 0.423 - 0.498 * std::cos(2 * kPi * x) + 0.0792 * std::cos(4 * kPi * x); }},
      {FFT_WINDOW_BLACKMAN_HARRIS,
       [](double x) {
         return 0.35875 - 0.48829 * std::cos(2 * kPi * x) + 0.14128 * std::cos(4 * kPi * x) -
                0.01168 * std::cos(6 * kPi * x);
       }},
      {FFT_WINDOW_TRIANGLE, [](double x) { return x <= 0.5 ? 2 * x : 2 - 2 * x; }},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(FftNew(c.kind, n), 0);
    loadDoubles(std::vector<double>(n, 1.0));
    ASSERT_EQ(WndAdj(nullptr, 0), 0);
    const auto values = storePairs(n);
    for (int32_t i : {0, 3, 7, 8, 15})
      EXPECT_NEAR(values[2 * i], c.window(i / last), 1e-15) << "kind " << c.kind << " at " << i;
  }
  // Spot values: Hann is 0 at both ends; the triangle peaks at 14/15 either side of the middle.
  ASSERT_EQ(FftNew(FFT_WINDOW_TRIANGLE | FFT_SIGNED_SAMPLES, n), 0);
  std::vector<int16_t> samples(n, 30000);
  ASSERT_EQ(FftCopy(samples.data(), 2, 0), 0);
  ASSERT_EQ(WndAdj(samples.data(), 2), 0);
  EXPECT_EQ(samples[0], 0);
  EXPECT_EQ(samples[7], 28000);
  EXPECT_EQ(samples[8], 28000);
}

TEST_F(FftTest, ForwardThenInverseGivesTheSignalBack) {
  constexpr int32_t n = 128;
  std::vector<double> signal(n);
  for (int32_t i = 0; i < n; ++i) signal[i] = std::sin(0.37 * i) * 3 + std::cos(1.9 * i * i) - 0.25;
  ASSERT_EQ(FftNew(FFT_WINDOW_NONE, n), 0);
  loadDoubles(signal);
  ASSERT_EQ(Fft(0), 0);
  ASSERT_EQ(Fft(1), 0);
  const auto back = storePairs(n);
  for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(back[2 * i], signal[i], 1e-12) << i;
}

TEST_F(FftTest, AnlFreqInterpolatesBetweenBinsWithHann) {
  constexpr int32_t n = 256;
  for (double cycles : {20.3, 40.5, 60.85, 81.0}) {
    ASSERT_EQ(FftNew(FFT_WINDOW_HANN, n), 0);
    loadDoubles(sine(n, cycles, 17, 1.0));
    ASSERT_EQ(WndAdj(nullptr, 0), 0);
    ASSERT_EQ(Fft(0), 0);
    const int32_t peak = static_cast<int32_t>(std::lround(cycles));
    EXPECT_NEAR(AnlFreq(peak, 10.0), cycles * 10.0, 0.2) << cycles;  // within 0.02 of a bin
    EXPECT_EQ(AnlFreq(peak + 3, 10.0), 0.0) << cycles;  // not a peak
  }
  EXPECT_EQ(AnlFreq(1, 10.0), 0.0);
  EXPECT_EQ(AnlFreq(n / 2 - 1, 10.0), 0.0);
  // A flat spectrum has no peak (and divides by nothing).
  ASSERT_EQ(FftNew(FFT_WINDOW_NONE, n), 0);
  ASSERT_EQ(Fft(0), 0);
  EXPECT_EQ(AnlFreq(10, 1.0), 0.0);
}

TEST_F(FftTest, CalAngGivesTheSinePhase) {
  constexpr int32_t n = 64;
  for (double phase : {0.0, 30.0, 100.0, 179.0, -45.0, -150.0}) {
    ASSERT_EQ(FftNew(FFT_WINDOW_NONE | FFT_MAGNITUDE_PHASE, n), 0);
    loadDoubles(sine(n, 8, phase, 0.6));
    ASSERT_EQ(Fft(0), 0);
    EXPECT_NEAR(CalAng(8, 0, 0), phase, 1e-9) << phase;
    EXPECT_NEAR(CalAng(8, 0, 2), phase, 1e-9) << phase;
    const double shifted = CalAng(8, 0.5 / n, 0);  // delay × π × n = π/2: a quarter turn back
    EXPECT_NEAR(std::remainder(shifted - (phase - 90) + 360, 360.0), 0.0, 1e-9) << phase;
    const auto bins = storePairs(n / 2);
    EXPECT_NEAR(bins[2 * 8 + 1], phase * kPi / 180, 1e-9) << phase;
  }
}

TEST_F(FftTest, FftCopyLoadsAndStoresEachSampleKind) {
  constexpr int32_t n = 4;
  // Unsigned 8-bit loads less 128; signed as they are.
  ASSERT_EQ(FftNew(FFT_WINDOW_NONE, n), 0);
  const uint8_t unsigned8[n] = {0, 128, 255, 100};
  ASSERT_EQ(FftCopy(const_cast<uint8_t*>(unsigned8), 1, 0), 0);
  auto values = storePairs(n);
  EXPECT_EQ((std::vector<double>{values[0], values[2], values[4], values[6]}), (std::vector<double>{-128, 0, 127, -28}));
  EXPECT_EQ(values[1], 0.0);  // pairs store (real, 0.0)

  ASSERT_EQ(FftNew(FFT_SIGNED_SAMPLES, n), 0);
  const int16_t signed16[n] = {-32768, -1, 0, 32767};
  ASSERT_EQ(FftCopy(const_cast<int16_t*>(signed16), 2, 0), 0);
  values = storePairs(n);
  EXPECT_EQ((std::vector<double>{values[0], values[2], values[4], values[6]}), (std::vector<double>{-32768, -1, 0, 32767}));

  // Storing truncates toward zero and clamps to the type.
  const std::vector<double> wide = {300.7, -300.7, 5.9, -5.9};
  const std::vector<double> wider = {40000.5, -40000.5, 5.9, -5.9};
  struct Case {
    uint32_t mode;
    int32_t kind;
    const std::vector<double>* in;
    std::vector<int32_t> out;
  } cases[] = {
      {FFT_SIGNED_SAMPLES, 1, &wide, {127, -128, 5, -5}},
      {0, 1, &wide, {255, 0, 133, 123}},
      {FFT_SIGNED_SAMPLES, 2, &wider, {32767, -32768, 5, -5}},
      {0, 2, &wider, {65535, 0, 32773, 32763}},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(FftNew(c.mode, n), 0);
    loadDoubles(*c.in);
    unsigned char raw[2 * n];
    ASSERT_EQ(FftCopy(raw, c.kind, 1), 0);
    for (int32_t i = 0; i < n; ++i) {
      int32_t got;
      if (c.kind == 1) {
        got = c.mode ? static_cast<int8_t>(raw[i]) : raw[i];
      } else {
        uint16_t u;
        std::memcpy(&u, raw + 2 * i, 2);
        got = c.mode ? static_cast<int16_t>(u) : u;
      }
      EXPECT_EQ(got, c.out[i]) << "mode " << c.mode << " kind " << c.kind << " at " << i;
    }
  }
  // A pair loads its first double only.
  ASSERT_EQ(FftNew(0, n), 0);
  const double pairs[2 * n] = {1, 9, 2, 9, 3, 9, 4, 9};
  ASSERT_EQ(FftCopy(const_cast<double*>(pairs), 16, 0), 0);
  ASSERT_EQ(Fft(0), 0);
  EXPECT_NEAR(CalMag(0, 0), 2.5, 1e-12);  // the mean, the imaginary parts taken as 0
}

TEST_F(FftTest, FftCalCmpMeasuresTheLargestDifference) {
  constexpr int32_t n = 32;
  ASSERT_EQ(FftNew(FFT_SIGNED_SAMPLES, n), 0);
  std::vector<int8_t> samples(n);
  MakeSignal(n, samples.data(), 1, 0.1, 45, 0.5);
  ASSERT_EQ(FftCopy(samples.data(), 1, 0), 0);
  EXPECT_EQ(FftCalCmp(0.1, 45, 0.5), 0.0);
  EXPECT_NEAR(FftCalCmp(0.1, 45, 0.25), 0.25, 1.0 / 128);
  // Fresh context: zeros, compared as doubles.
  ASSERT_EQ(FftNew(0, n), 0);
  EXPECT_NEAR(FftCalCmp(1.0 / n, 90, 0.7), 0.7, 1e-12);
}

TEST_F(FftTest, BadArgumentsAreReported) {
  const std::string badParameter = zemta::errorText(ZEMTA_ERR_BAD_PARAMETER);
  const std::string badPointer = zemta::errorText(ZEMTA_ERR_BAD_POINTER);
  ScriptedMessageBox box;
  for (int32_t n : {0, -8, 2, 6, 100}) {
    box.clear();
    EXPECT_EQ(FftNew(FFT_WINDOW_HANN, n), -1) << n;
    EXPECT_EQ(box.lastText(), badParameter) << n;
  }
  // An unknown window kind frees the context there was.
  ASSERT_EQ(FftNew(FFT_WINDOW_HANN, 16), 0);
  box.clear();
  EXPECT_EQ(FftNew(6, 16), -1);
  EXPECT_EQ(box.lastText(), badParameter);
  box.clear();
  EXPECT_EQ(Fft(0), -1);
  EXPECT_EQ(CalMag(0, 0), -1.0);
  EXPECT_EQ(box.count(), 2u);
  EXPECT_EQ(box.lastText(), badPointer);

  ASSERT_EQ(FftNew(FFT_WINDOW_HANN, 16), 0);
  unsigned char buffer[16 * 16] = {};
  const struct {
    std::function<bool()> call;
    const std::string* text;
  } cases[] = {
      {[&] { return FftCopy(buffer, 4, 0) == -1; }, &badParameter},
      {[&] { return FftCopy(buffer, 8, 1) == -1; }, &badParameter},
      {[&] { return FftCopy(nullptr, 16, 0) == -1; }, &badPointer},
      {[&] { return MakeSignal(4, buffer, 16, 0.1, 0, 1) == -1; }, &badParameter},
      {[&] { return MakeSignal(-1, buffer, 8, 0.1, 0, 1) == -1; }, &badParameter},
      {[&] { return MakeSignal(4, nullptr, 8, 0.1, 0, 1) == -1; }, &badPointer},
      {[&] { return WndAdj(buffer, 16) == -1; }, &badParameter},
      {[&] { return CalMag(8, 0) == -1.0; }, &badParameter},  // bins are 0 … 7
      {[&] { return CalMag(-1, 0) == -1.0; }, &badParameter},
      {[&] { return CalMag(2, -1) == -1.0; }, &badParameter},
      {[&] { return CalAng(8, 0, 0) == 0.0; }, &badParameter},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    box.clear();
    EXPECT_TRUE(cases[i].call()) << i;
    EXPECT_EQ(box.count(), 1u) << i;
    EXPECT_EQ(box.lastText(), *cases[i].text) << i;
  }
}

}  // namespace
