// Signal analysis: one process-wide fast Fourier transform context with a
// time window, a test-signal generator and measurements on the spectrum.
//
// Sample kinds: 1 signed 8-bit, 2 signed 16-bit, 4 float, 8 double, 16 a pair
// of doubles (16 bytes a sample). `FftCopy` moves kinds 1, 2 and 16; 8- and
// 16-bit samples are unsigned (offset by 128 or 32768) unless bit 8 (0x100)
// of `FftNew`'s first word marks them signed.
//
// The forward transform is scaled by 1/n and the inverse is not, so a forward
// then inverse transform gives the signal back, and the magnitudes below are
// RMS levels in the units of the samples: a sine of amplitude A whose whole
// number of cycles lands on bin k reads A / sqrt(2) at k.
//
// Every function that needs the context reports 0x200000FF when none exists.
#pragma once

#include "zemta/export.h"

// `FftNew`'s first word: the window kind in the low byte (x = i / (n - 1)),
// and bits above it.
enum FftMode : uint32_t {
  FFT_WINDOW_NONE = 0,         // rectangular
  FFT_WINDOW_HANN = 1,         // 0.5 - 0.5 cos 2πx
  FFT_WINDOW_HAMMING = 2,      // 0.5434782608695652 - 0.4565217391304348 cos 2πx
  FFT_WINDOW_BLACKMAN = 3,     // 0.423 - 0.498 cos 2πx + 0.0792 cos 4πx
  FFT_WINDOW_BLACKMAN_HARRIS = 4,  // 0.35875 - 0.48829 cos 2πx + 0.14128 cos 4πx - 0.01168 cos 6πx
  FFT_WINDOW_TRIANGLE = 5,     // 2x up to the middle sample, then 2 - 2x
  FFT_SIGNED_SAMPLES = 0x100,  // 8- and 16-bit samples are signed
  FFT_MAGNITUDE_PHASE = 0x200, // a stored spectrum gives (magnitude, phase) pairs
};

// Makes the context of n samples (a power of two, at least 4) with the window
// kind in the low byte of mode, replacing any context there was; the arrays
// start at zero. -1 with 0x20000085 for a bad n or an unknown window kind
// (and no context is left), 0x20001001 when memory runs out.
ZEMTA_API int32_t FftNew(uint32_t mode, int32_t n);

// Frees the context (nothing when there is none).
ZEMTA_API void FftDelete(void);

// Writes count samples amplitude × sin(2π × frequency × i + phase × π / 180)
// (frequency in cycles a sample) of kind 1, 2, 4 or 8. For kinds 1 and 2 the
// amplitude is in full-scale units: the sample is the value × 128 or × 32768,
// rounded and clamped to the type. 0, or -1 (0x200000FF null buffer,
// 0x20000085 negative count or another kind).
ZEMTA_API int32_t MakeSignal(int32_t count, void* buffer, int32_t sampleKind, double frequency, double phase,
                             double amplitude);

// direction 0 loads n samples of the kind into the real array (imaginary set
// to 0; a pair gives its first double), marks the arrays as a signal and
// remembers the kind for `FftCalCmp`. Non-zero stores: a signal (after a load
// or an inverse `Fft`) as n samples, truncated toward zero and clamped to the
// type (pairs are (real, 0.0)); a spectrum (after a forward `Fft`) as n/2 bins
// of magnitude (kinds 1 and 2 rounded, clamped to 0 … 127 or 0 … 32767), or,
// with FFT_MAGNITUDE_PHASE, n/2 pairs (magnitude, phase), the phase being
// atan2(Re, -Im), in radians for kind 16 and × 128/π or × 32768/π, rounded
// and clamped, for kinds 1 and 2. 0, or -1 (0x200000FF null buffer or no
// context, 0x20000085 another kind).
ZEMTA_API int32_t FftCopy(void* buffer, int32_t sampleKind, int32_t direction);

// Multiplies the real array by the window; with a buffer also writes the n
// windowed samples there as signed kind 1 or 2, truncated and clamped to
// -128 … 127 or -32768 … 32767. 0, or -1 (0x20000085 a buffer with another
// kind; the array is left as it was).
ZEMTA_API int32_t WndAdj(void* buffer, int32_t sampleKind);

// Transforms the arrays in place: direction 0 forward (signal to spectrum,
// scaled by 1/n), non-zero inverse. 0, or -1.
ZEMTA_API int32_t Fft(int32_t direction);

// The RMS level of bins bin - halfWidth … bin + halfWidth (cut to the
// spectrum 0 … n/2 - 1): the square root of the sum of |X(i)|², each doubled
// except bin 0's. -1.0 with 0x20000085 for a bin outside the spectrum or a
// negative half width.
ZEMTA_API double CalMag(int32_t bin, int32_t halfWidth);

// The phase in degrees (-180 … 180) of the sine in the band of `CalMag`, 0 at
// a sine's zero crossing upward (the phase given to `MakeSignal`), less
// delay × π × n radians. 0.0 after the errors of `CalMag`.
ZEMTA_API double CalAng(int32_t bin, double delay, int32_t halfWidth);

// The sample of the last load (or 8, doubles, when none was loaded) and the
// signal `MakeSignal` makes of that kind with these parameters, compared over
// the n samples of the real array: the largest absolute difference, in the
// units of amplitude (8- and 16-bit values count as value / 128 or / 32768).
// -1.0 with no context.
ZEMTA_API double FftCalCmp(double frequency, double phase, double amplitude);

// The peak frequency near bin (2 … n/2 - 2), interpolated from the magnitudes
// of bins bin - 1, bin and bin + 1, times binWidth. 0.0 when bin is out of
// that range or no peak is there (a flat top included).
ZEMTA_API double AnlFreq(int32_t bin, double binWidth);
