#pragma once

// The engine's vector and FFT layer: real FFTs in packed split-complex form and the real and
// complex vector arithmetic of the engine and the views. Built on FFTW (single precision) and
// plain loops the compiler vectorises. All functions may run on any thread; the only ones that
// allocate or lock are createFftSetup / destroyFftSetup (message or control thread).
//
// Packed spectrum of N real samples, N/2 split-complex elements:
//   real[0] = bin 0 (DC), imag[0] = bin N/2 (Nyquist), element k = bin k for 1 <= k < N/2.
// Scale: the forward transform gives 2 x the DFT, the inverse gives N x the inverse DFT, so a
// forward/inverse round trip multiplies by 2N.

#include <cstddef>

namespace PM
{
namespace Dsp
{
/** A view of split-complex data: two separate arrays of real and imaginary parts. */
struct SplitComplex
{
    float* realp;
    float* imagp;
};

struct ConstSplitComplex
{
    const float* realp;
    const float* imagp;
    ConstSplitComplex (const float* r, const float* i) noexcept : realp (r), imagp (i) {}
    ConstSplitComplex (SplitComplex s) noexcept : realp (s.realp), imagp (s.imagp) {}
};

/** Opaque FFT set-up for one size N = 2^log2n: shared plans plus private work buffers.
    One set-up must not be used by two threads at once; separate set-ups may. */
struct FftSetup;

/** Creates a set-up for N = 2^log2n (1 <= log2n <= 24). Returns null for other values.
    Plans are made once per size per process and reused; creation is serialised. */
FftSetup* createFftSetup (unsigned long log2n);
void destroyFftSetup (FftSetup* setup);

/** Forward real FFT in place on packed data: z holds the N samples as split complex
    (even samples in real, odd in imag); on return it holds the packed spectrum (2 x DFT). */
void fftForwardInPlace (FftSetup* setup, SplitComplex z) noexcept;
/** Inverse of the packed spectrum in place: returns N x the inverse DFT in split form. */
void fftInverseInPlace (FftSetup* setup, SplitComplex z) noexcept;
/** Fused: even/odd packing of x (N samples) followed by the forward transform into z. */
void fftForwardFromReal (FftSetup* setup, const float* x, SplitComplex z) noexcept;
/** Fused: inverse transform of z followed by unpacking into N real samples x. z is not changed. */
void fftInverseToReal (FftSetup* setup, ConstSplitComplex z, float* x) noexcept;

/** N real samples to N/2 split-complex elements (even -> real, odd -> imag), and back. */
void realToSplit (const float* x, SplitComplex z, std::size_t halfN) noexcept;
void splitToReal (ConstSplitComplex z, float* x, std::size_t halfN) noexcept;

/** Element-wise complex product of two packed spectra, with the packed bin 0 treated as the
    two real values it holds: out[0] = (a.re0 * b.re0, a.im0 * b.im0). out may alias a or b. */
void complexMultiply (ConstSplitComplex a, ConstSplitComplex b, SplitComplex out, std::size_t n) noexcept;
/** acc += a * b with the same packed bin-0 rule. acc must not alias a or b. */
void complexMultiplyAccumulate (ConstSplitComplex a, ConstSplitComplex b, SplitComplex acc, std::size_t n) noexcept;
/** out = a + b (split complex). */
void complexAdd (ConstSplitComplex a, ConstSplitComplex b, SplitComplex out, std::size_t n) noexcept;
/** out[k] = |z[k]| (plain complex magnitude of every element). */
void complexAbs (ConstSplitComplex z, float* out, std::size_t n) noexcept;

// Real vectors.
void scale (const float* x, float s, float* y, std::size_t n) noexcept;                        // y = x s
void multiply (const float* x, const float* w, float* y, std::size_t n) noexcept;              // y = x w
void scaleAccumulate (const float* x, float s, float* y, std::size_t n) noexcept;              // y += x s
void multiplyMultiplyAdd (const float* x, const float* w, const float* u, const float* v,
                          float* y, std::size_t n) noexcept;                                  // y = x w + u v
/** y[k * yStride] = x[k * xStride] for k < n. */
void stridedCopy (const float* x, std::size_t xStride, float* y, std::size_t yStride, std::size_t n) noexcept;
/** y[k] = a + k (b - a) / (n - 1); both ends reached exactly. n = 1 gives a. */
void ramp (float a, float b, float* y, std::size_t n) noexcept;
/** Normalised Hann window: y[k] = 0.5 (1 - cos(2 pi k / n)). */
void hannWindow (float* y, std::size_t n) noexcept;
float maxValue (const float* x, std::size_t n) noexcept;     // -inf for n = 0
float minValue (const float* x, std::size_t n) noexcept;     // +inf for n = 0
float mean (const float* x, std::size_t n) noexcept;         // 0 for n = 0
float meanSquare (const float* x, std::size_t n) noexcept;   // 0 for n = 0
float rms (const float* x, std::size_t n) noexcept;          // 0 for n = 0
void clear (float* y, std::size_t n) noexcept;
/** Zeroes n samples from offset in each of numChannels channels; null channels are skipped. */
void clearChannels (float* const* channels, int numChannels, std::size_t offset, std::size_t n) noexcept;
void copy (const float* x, float* y, std::size_t n) noexcept;
/** Counts the samples that are NaN or infinite. */
std::size_t countNonFinite (const float* x, std::size_t n) noexcept;
} // namespace Dsp
} // namespace PM
