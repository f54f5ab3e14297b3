// One process-wide transform context: window table, sine table (cosines are
// read a quarter period further on), bit-reversal permutation and the real
// and imaginary arrays that hold the signal or its spectrum.
#include "zemta/fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <numbers>
#include <vector>

#include "lib/core/report.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegreesPerRadian = 57.29577951308232;

struct FftContext {
  uint32_t mode = 0;
  size_t n = 0;
  std::vector<double> window;  // empty for the rectangular window
  std::vector<double> sine;    // n + n/4 values of sin(2πi/n)
  std::vector<uint32_t> reversed;
  std::vector<double> real, imaginary;
  int32_t sampleWidth = 8;
  // Non-zero: the arrays hold a signal; 0: a spectrum.
  int32_t direction = 0;
};

std::mutex contextMutex;
std::unique_ptr<FftContext> context;

bool windowValues(uint32_t kind, size_t n, std::vector<double>& table) {
  if (kind == FFT_WINDOW_NONE) return true;
  if (kind > FFT_WINDOW_TRIANGLE) return false;
  table.resize(n);
  const double last = static_cast<double>(n - 1);
  for (size_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(i) / last;
    const double c1 = std::cos(2 * kPi * x), c2 = std::cos(4 * kPi * x), c3 = std::cos(6 * kPi * x);
    double w = 1.0;
    switch (kind) {
      case FFT_WINDOW_HANN: w = 0.5 - 0.5 * c1; break;
      case FFT_WINDOW_HAMMING: w = 0.5434782608695652 - 0.4565217391304348 * c1; break;
      case FFT_WINDOW_BLACKMAN: w = 0.423 - 0.498 * c1 + 0.0792 * c2; break;
      case FFT_WINDOW_BLACKMAN_HARRIS: w = 0.35875 - 0.48829 * c1 + 0.14128 * c2 - 0.01168 * c3; break;
      case FFT_WINDOW_TRIANGLE: w = static_cast<double>(i) <= last / 2 ? 2 * x : 2 - 2 * x; break;
    }
    table[i] = w;
  }
  return true;
}

// Bit-reversal by a counter that carries from the top bit down.
void buildReversal(size_t n, std::vector<uint32_t>& table) {
  table.resize(n);
  size_t j = 0;
  for (size_t i = 0; i < n; ++i) {
    table[i] = static_cast<uint32_t>(j);
    size_t bit = n >> 1;
    while (bit != 0 && (j & bit) != 0) {
      j ^= bit;
      bit >>= 1;
    }
    j |= bit;
  }
}

template <typename T>
T clampTruncated(double value, double low, double high) {
  if (std::isnan(value)) return 0;
  return static_cast<T>(std::clamp(std::trunc(value), low, high));
}

template <typename T>
T clampRounded(double value, double low, double high) {
  if (std::isnan(value)) return 0;
  return static_cast<T>(std::clamp(std::floor(value + 0.5), low, high));
}

// Whether the one-sided spectrum counts bin k twice (its mirror image): every
// bin but the constant one. The Nyquist bin n/2 is not among the stored bins.
bool doubledBin(size_t k) { return k != 0; }

double binSquare(const FftContext& c, size_t k) {
  return c.real[k] * c.real[k] + c.imaginary[k] * c.imaginary[k];
}

// The band of bin ± halfWidth cut to the spectrum; false (reported) when the
// bin or width is outside it.
bool bandOf(const FftContext& c, int32_t bin, int32_t halfWidth, size_t& first, size_t& last) {
  const int64_t bins = static_cast<int64_t>(c.n / 2);
  if (bin < 0 || bin >= bins || halfWidth < 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return false;
  }
  first = static_cast<size_t>(std::max<int64_t>(0, int64_t{bin} - halfWidth));
  last = static_cast<size_t>(std::min<int64_t>(bins - 1, int64_t{bin} + halfWidth));
  return true;
}

FftContext* current() {
  if (!context) ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
  return context.get();
}

// One sample of MakeSignal's signal as a double in amplitude units, made and
// quantised exactly as MakeSignal stores it.
double generatedSample(int32_t kind, double frequency, double phase, double amplitude, size_t i) {
  const double v = amplitude * std::sin(2 * kPi * frequency * static_cast<double>(i) + phase * kPi / 180);
  switch (kind) {
    case 1: return clampRounded<int8_t>(v * 128, -128, 127) / 128.0;
    case 2: return clampRounded<int16_t>(v * 32768, -32768, 32767) / 32768.0;
    case 4: return static_cast<float>(v);
    default: return v;
  }
}

}  // namespace

int32_t FftNew(uint32_t mode, int32_t n) {
  std::lock_guard<std::mutex> guard(contextMutex);
  context.reset();
  // The quarter-period cosine lookup needs n/4 >= 1, so n is at least 4.
  if (n < 4 || (n & (n - 1)) != 0) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  try {
    auto made = std::make_unique<FftContext>();
    made->mode = mode;
    made->n = static_cast<size_t>(n);
    if (!windowValues(mode & 0xFF, made->n, made->window)) {
      ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
      return -1;
    }
    made->sine.resize(made->n + made->n / 4);
    for (size_t i = 0; i < made->sine.size(); ++i)
      made->sine[i] = std::sin(2 * kPi * static_cast<double>(i) / static_cast<double>(made->n));
    buildReversal(made->n, made->reversed);
    made->real.assign(made->n, 0.0);
    made->imaginary.assign(made->n, 0.0);
    context = std::move(made);
  } catch (const std::bad_alloc&) {
    ZEMTA_REPORT(ZEMTA_ERR_NO_MEMORY);
    return -1;
  }
  return 0;
}

void FftDelete(void) {
  std::lock_guard<std::mutex> guard(contextMutex);
  context.reset();
}

int32_t MakeSignal(int32_t count, void* buffer, int32_t sampleKind, double frequency, double phase,
                   double amplitude) {
  if (buffer == nullptr) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  if (count < 0 || (sampleKind != 1 && sampleKind != 2 && sampleKind != 4 && sampleKind != 8)) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  for (int32_t i = 0; i < count; ++i) {
    const double v = amplitude * std::sin(2 * kPi * frequency * i + phase * kPi / 180);
    if (sampleKind == 1) {
      out[i] = static_cast<unsigned char>(clampRounded<int8_t>(v * 128, -128, 127));
    } else if (sampleKind == 2) {
      const int16_t s = clampRounded<int16_t>(v * 32768, -32768, 32767);
      std::memcpy(out + 2 * static_cast<size_t>(i), &s, 2);
    } else if (sampleKind == 4) {
      const float f = static_cast<float>(v);
      std::memcpy(out + 4 * static_cast<size_t>(i), &f, 4);
    } else {
      std::memcpy(out + 8 * static_cast<size_t>(i), &v, 8);
    }
  }
  return 0;
}

int32_t FftCopy(void* buffer, int32_t sampleKind, int32_t direction) {
  std::lock_guard<std::mutex> guard(contextMutex);
  if (buffer == nullptr) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_POINTER);
    return -1;
  }
  FftContext* c = current();
  if (c == nullptr) return -1;
  if (sampleKind != 1 && sampleKind != 2 && sampleKind != 16) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  const bool isSigned = (c->mode & FFT_SIGNED_SAMPLES) != 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  const size_t n = c->n;

  if (direction == 0) {
    for (size_t i = 0; i < n; ++i) {
      double v = 0;
      if (sampleKind == 1) {
        v = isSigned ? static_cast<int8_t>(bytes[i]) : bytes[i] - 128.0;
      } else if (sampleKind == 2) {
        uint16_t u;
        std::memcpy(&u, bytes + 2 * i, 2);
        v = isSigned ? static_cast<int16_t>(u) : u - 32768.0;
      } else {
        std::memcpy(&v, bytes + 16 * i, 8);
      }
      c->real[i] = v;
      c->imaginary[i] = 0.0;
    }
    c->sampleWidth = sampleKind;
    c->direction = 1;
    return 0;
  }

  if (c->direction != 0) {  // a signal
    for (size_t i = 0; i < n; ++i) {
      const double v = c->real[i];
      if (sampleKind == 1) {
        bytes[i] = isSigned ? static_cast<unsigned char>(clampTruncated<int8_t>(v, -128, 127))
                            : clampTruncated<unsigned char>(std::trunc(v) + 128, 0, 255);
      } else if (sampleKind == 2) {
        const uint16_t u = isSigned ? static_cast<uint16_t>(clampTruncated<int16_t>(v, -32768, 32767))
                                    : clampTruncated<uint16_t>(std::trunc(v) + 32768, 0, 65535);
        std::memcpy(bytes + 2 * i, &u, 2);
      } else {
        const double pair[2] = {v, 0.0};
        std::memcpy(bytes + 16 * i, pair, 16);
      }
    }
    return 0;
  }

  // A spectrum: bins 0 … n/2 - 1.
  const bool withPhase = (c->mode & FFT_MAGNITUDE_PHASE) != 0;
  for (size_t k = 0; k < n / 2; ++k) {
    const double square = binSquare(*c, k) * (doubledBin(k) ? 2.0 : 1.0);
    const double magnitude = std::sqrt(square);
    const double angle = std::atan2(c->real[k], -c->imaginary[k]);
    if (sampleKind == 16) {
      const double pair[2] = {magnitude, withPhase ? angle : 0.0};
      std::memcpy(bytes + 16 * k, pair, 16);
    } else if (sampleKind == 1) {
      const size_t at = withPhase ? 2 * k : k;
      bytes[at] = static_cast<unsigned char>(clampRounded<int8_t>(magnitude, 0, 127));
      if (withPhase) bytes[at + 1] = static_cast<unsigned char>(clampRounded<int8_t>(angle * 128 / kPi, -128, 127));
    } else {
      const size_t at = withPhase ? 4 * k : 2 * k;
      const int16_t m = clampRounded<int16_t>(magnitude, 0, 32767);
      std::memcpy(bytes + at, &m, 2);
      if (withPhase) {
        const int16_t p = clampRounded<int16_t>(angle * 32768 / kPi, -32768, 32767);
        std::memcpy(bytes + at + 2, &p, 2);
      }
    }
  }
  return 0;
}

int32_t WndAdj(void* buffer, int32_t sampleKind) {
  std::lock_guard<std::mutex> guard(contextMutex);
  FftContext* c = current();
  if (c == nullptr) return -1;
  if (buffer != nullptr && sampleKind != 1 && sampleKind != 2) {
    ZEMTA_REPORT(ZEMTA_ERR_BAD_PARAMETER);
    return -1;
  }
  if (!c->window.empty())
    for (size_t i = 0; i < c->n; ++i) c->real[i] *= c->window[i];
  if (buffer == nullptr) return 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  for (size_t i = 0; i < c->n; ++i) {
    if (sampleKind == 1) {
      bytes[i] = static_cast<unsigned char>(clampTruncated<int8_t>(c->real[i], -128, 127));
    } else {
      const int16_t s = clampTruncated<int16_t>(c->real[i], -32768, 32767);
      std::memcpy(bytes + 2 * i, &s, 2);
    }
  }
  return 0;
}

int32_t Fft(int32_t direction) {
  std::lock_guard<std::mutex> guard(contextMutex);
  FftContext* c = current();
  if (c == nullptr) return -1;
  const size_t n = c->n;
  std::vector<double>& re = c->real;
  std::vector<double>& im = c->imaginary;
  for (size_t i = 0; i < n; ++i) {
    const size_t j = c->reversed[i];
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
  // Forward uses e^(-jθ), inverse e^(+jθ).
  const double sign = direction == 0 ? -1.0 : 1.0;
  const size_t quarter = n / 4;
  for (size_t half = 1; half < n; half <<= 1) {
    const size_t step = n / (2 * half);  // table stride of this stage's twiddles
    for (size_t m = 0; m < half; ++m) {
      const size_t t = m * step;
      const double wr = c->sine[t + quarter];
      const double wi = sign * c->sine[t];
      for (size_t i = m; i < n; i += 2 * half) {
        const size_t j = i + half;
        const double xr = re[j] * wr - im[j] * wi;
        const double xi = re[j] * wi + im[j] * wr;
        re[j] = re[i] - xr;
        im[j] = im[i] - xi;
        re[i] += xr;
        im[i] += xi;
      }
    }
  }
  if (direction == 0) {
    const double scale = 1.0 / static_cast<double>(n);
    for (size_t i = 0; i < n; ++i) {
      re[i] *= scale;
      im[i] *= scale;
    }
  }
  c->direction = direction;
  return 0;
}

double CalMag(int32_t bin, int32_t halfWidth) {
  std::lock_guard<std::mutex> guard(contextMutex);
  const FftContext* c = current();
  size_t first = 0, last = 0;
  if (c == nullptr || !bandOf(*c, bin, halfWidth, first, last)) return -1.0;
  double sum = 0;
  for (size_t k = first; k <= last; ++k) sum += binSquare(*c, k) * (doubledBin(k) ? 2.0 : 1.0);
  return std::sqrt(sum);
}

double CalAng(int32_t bin, double delay, int32_t halfWidth) {
  std::lock_guard<std::mutex> guard(contextMutex);
  const FftContext* c = current();
  size_t first = 0, last = 0;
  if (c == nullptr || !bandOf(*c, bin, halfWidth, first, last)) return 0.0;
  // A sine's bin is (A/2)(sin φ - j cos φ): Re carries the sine part of the
  // phase and -Im the cosine part.
  double sineSum = 0, cosineSum = 0;
  for (size_t k = first; k <= last; ++k) {
    const double weight = doubledBin(k) ? std::numbers::sqrt2 : 1.0;
    sineSum += weight * c->real[k];
    cosineSum -= weight * c->imaginary[k];
  }
  const double magnitude = std::hypot(sineSum, cosineSum);
  double angle = 0;
  if (magnitude > 0) {
    angle = std::asin(std::clamp(sineSum / magnitude, -1.0, 1.0));
    if (cosineSum < 0) angle = kPi - angle;
  }
  angle -= delay * kPi * static_cast<double>(c->n);
  double degrees = std::fmod(angle * kDegreesPerRadian, 360.0);
  if (degrees > 180) degrees -= 360;
  if (degrees < -180) degrees += 360;
  return degrees;
}

double FftCalCmp(double frequency, double phase, double amplitude) {
  std::lock_guard<std::mutex> guard(contextMutex);
  const FftContext* c = current();
  if (c == nullptr) return -1.0;
  const int32_t kind = c->sampleWidth == 16 ? 8 : c->sampleWidth;
  const double unit = kind == 1 ? 1.0 / 128 : kind == 2 ? 1.0 / 32768 : 1.0;
  double largest = 0;
  for (size_t i = 0; i < c->n; ++i)
    largest = std::max(largest, std::abs(c->real[i] * unit - generatedSample(kind, frequency, phase, amplitude, i)));
  return largest;
}

double AnlFreq(int32_t bin, double binWidth) {
  std::lock_guard<std::mutex> guard(contextMutex);
  const FftContext* c = current();
  if (c == nullptr) return 0.0;
  if (bin <= 1 || static_cast<size_t>(bin) + 1 >= c->n / 2) return 0.0;
  const size_t k = static_cast<size_t>(bin);
  const double a = std::sqrt(binSquare(*c, k - 1));
  const double b = std::sqrt(binSquare(*c, k));
  const double m = std::sqrt(binSquare(*c, k + 1));
  // A peak, and not a flat top (which would divide by zero).
  if (b < a || b < m || b <= std::min(a, m)) return 0.0;
  const double d = a <= m ? (m - a) / (b - a) : -(a - m) / (b - m);
  return (static_cast<double>(k) + 0.5 * std::tan(d * kPi / 4)) * binWidth;
}
