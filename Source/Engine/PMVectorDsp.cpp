#include "PMVectorDsp.h"

#include <fftw3.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

// The hot loops get an AVX2/FMA version chosen at load time where the CPU has it; the build
// itself stays portable to any x86-64.
#if defined(__x86_64__) && defined(__GNUC__) && ! defined(__clang__) && ! defined(__SANITIZE_ADDRESS__) && ! defined(__SANITIZE_THREAD__)
 #define PM_HOT_LOOP __attribute__ ((target_clones ("arch=x86-64-v3", "default")))
#else
 #define PM_HOT_LOOP
#endif

namespace PM
{
namespace Dsp
{
namespace
{
constexpr unsigned long maxLog2n = 24;

// One pair of plans per size for the whole process. FFTW's planner is not thread-safe, so plans
// are made under a mutex, once, and never destroyed; executing a plan on other arrays of the same
// alignment is thread-safe and allocates nothing.
struct SizePlans
{
    fftwf_plan forward = nullptr;  // r2c, out of place
    fftwf_plan inverse = nullptr;  // c2r, out of place
    int alignment = 0;             // fftwf_alignment_of the arrays they were made on
};

std::mutex plannerMutex;
SizePlans plansBySize[maxLog2n + 1];

const SizePlans* plansFor (unsigned long log2n)
{
    std::lock_guard<std::mutex> lock (plannerMutex);
    SizePlans& p = plansBySize[log2n];
    if (p.forward == nullptr)
    {
        const int n = 1 << log2n;
        auto* real = fftwf_alloc_real ((size_t) n);
        auto* freq = fftwf_alloc_complex ((size_t) n / 2 + 1);
        if (real == nullptr || freq == nullptr)
        {
            fftwf_free (real);
            fftwf_free (freq);
            return nullptr;
        }
        // FFTW_MEASURE: a fast plan, paid for once per size (tens of ms at most for N = 8192).
        p.forward = fftwf_plan_dft_r2c_1d (n, real, freq, FFTW_MEASURE);
        p.inverse = fftwf_plan_dft_c2r_1d (n, freq, real, FFTW_MEASURE);
        p.alignment = fftwf_alignment_of (real);
        fftwf_free (real);
        fftwf_free (freq);
        if (p.forward == nullptr || p.inverse == nullptr)
            return nullptr;
    }
    return &p;
}
} // namespace

struct FftSetup
{
    std::size_t n = 0;
    const SizePlans* plans = nullptr;
    float* real = nullptr;          // N samples
    fftwf_complex* freq = nullptr;  // N/2 + 1 bins
};

FftSetup* createFftSetup (unsigned long log2n)
{
    if (log2n < 1 || log2n > maxLog2n)
        return nullptr;
    const SizePlans* plans = plansFor (log2n);
    if (plans == nullptr)
        return nullptr;
    auto* s = new FftSetup();
    s->n = std::size_t (1) << log2n;
    s->plans = plans;
    s->real = fftwf_alloc_real (s->n);
    s->freq = fftwf_alloc_complex (s->n / 2 + 1);
    if (s->real == nullptr || s->freq == nullptr)
    {
        destroyFftSetup (s);
        throw std::bad_alloc();
    }
    std::memset (s->real, 0, s->n * sizeof (float));
    std::memset (s->freq, 0, (s->n / 2 + 1) * sizeof (fftwf_complex));
    return s;
}

void destroyFftSetup (FftSetup* s)
{
    if (s == nullptr)
        return;
    fftwf_free (s->real);
    fftwf_free (s->freq);
    delete s;
}

namespace
{
// r2c of s->real (or x when its alignment allows) into s->freq, then packed and doubled into z.
void forwardToPacked (FftSetup* s, const float* x, SplitComplex z) noexcept
{
    const std::size_t h = s->n / 2;
    fftwf_execute_dft_r2c (s->plans->forward, const_cast<float*> (x), s->freq);
    const fftwf_complex* f = s->freq;
    float* __restrict re = z.realp;
    float* __restrict im = z.imagp;
    const float dc = 2.0f * f[0][0];
    const float nyquist = 2.0f * f[h][0];
    for (std::size_t k = 1; k < h; ++k)
    {
        re[k] = 2.0f * f[k][0];
        im[k] = 2.0f * f[k][1];
    }
    re[0] = dc;
    im[0] = nyquist;
}

// Unpacks z into s->freq as the N/2 + 1 bins of a Hermitian spectrum and runs the c2r transform
// into out (which must have the planning alignment).
void packedToReal (FftSetup* s, ConstSplitComplex z, float* out) noexcept
{
    const std::size_t h = s->n / 2;
    fftwf_complex* f = s->freq;
    const float* __restrict re = z.realp;
    const float* __restrict im = z.imagp;
    for (std::size_t k = 1; k < h; ++k)
    {
        f[k][0] = re[k];
        f[k][1] = im[k];
    }
    f[0][0] = re[0];
    f[0][1] = 0.0f;
    f[h][0] = im[0];
    f[h][1] = 0.0f;
    fftwf_execute_dft_c2r (s->plans->inverse, f, out);
}

bool hasPlanAlignment (const FftSetup* s, const float* p) noexcept
{
    return fftwf_alignment_of (const_cast<float*> (p)) == s->plans->alignment;
}
} // namespace

void fftForwardInPlace (FftSetup* s, SplitComplex z) noexcept
{
    splitToReal (z, s->real, s->n / 2);
    forwardToPacked (s, s->real, z);
}

void fftInverseInPlace (FftSetup* s, SplitComplex z) noexcept
{
    packedToReal (s, z, s->real);
    realToSplit (s->real, z, s->n / 2);
}

void fftForwardFromReal (FftSetup* s, const float* x, SplitComplex z) noexcept
{
    if (hasPlanAlignment (s, x))
    {
        forwardToPacked (s, x, z);
    }
    else
    {
        std::memcpy (s->real, x, s->n * sizeof (float));
        forwardToPacked (s, s->real, z);
    }
}

void fftInverseToReal (FftSetup* s, ConstSplitComplex z, float* x) noexcept
{
    if (hasPlanAlignment (s, x))
    {
        packedToReal (s, z, x);
    }
    else
    {
        packedToReal (s, z, s->real);
        std::memcpy (x, s->real, s->n * sizeof (float));
    }
}

void realToSplit (const float* x, SplitComplex z, std::size_t halfN) noexcept
{
    float* __restrict re = z.realp;
    float* __restrict im = z.imagp;
    for (std::size_t k = 0; k < halfN; ++k)
    {
        re[k] = x[2 * k];
        im[k] = x[2 * k + 1];
    }
}

void splitToReal (ConstSplitComplex z, float* x, std::size_t halfN) noexcept
{
    const float* __restrict re = z.realp;
    const float* __restrict im = z.imagp;
    for (std::size_t k = 0; k < halfN; ++k)
    {
        x[2 * k] = re[k];
        x[2 * k + 1] = im[k];
    }
}

PM_HOT_LOOP void complexMultiply (ConstSplitComplex a, ConstSplitComplex b, SplitComplex out, std::size_t n) noexcept
{
    if (n == 0)
        return;
    const float dc = a.realp[0] * b.realp[0];
    const float nyquist = a.imagp[0] * b.imagp[0];
    // out may alias a or b element for element, which a plain loop handles; no __restrict here.
    for (std::size_t k = 0; k < n; ++k)
    {
        const float ar = a.realp[k], ai = a.imagp[k], br = b.realp[k], bi = b.imagp[k];
        out.realp[k] = ar * br - ai * bi;
        out.imagp[k] = ar * bi + ai * br;
    }
    out.realp[0] = dc;
    out.imagp[0] = nyquist;
}

PM_HOT_LOOP void complexMultiplyAccumulate (ConstSplitComplex a, ConstSplitComplex b, SplitComplex acc, std::size_t n) noexcept
{
    if (n == 0)
        return;
    const float* __restrict ar = a.realp;
    const float* __restrict ai = a.imagp;
    const float* __restrict br = b.realp;
    const float* __restrict bi = b.imagp;
    float* __restrict cr = acc.realp;
    float* __restrict ci = acc.imagp;
    const float dc = cr[0] + ar[0] * br[0];
    const float nyquist = ci[0] + ai[0] * bi[0];
    for (std::size_t k = 0; k < n; ++k)
    {
        cr[k] += ar[k] * br[k] - ai[k] * bi[k];
        ci[k] += ar[k] * bi[k] + ai[k] * br[k];
    }
    cr[0] = dc;
    ci[0] = nyquist;
}

void complexAdd (ConstSplitComplex a, ConstSplitComplex b, SplitComplex out, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
    {
        out.realp[k] = a.realp[k] + b.realp[k];
        out.imagp[k] = a.imagp[k] + b.imagp[k];
    }
}

void complexAbs (ConstSplitComplex z, float* out, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
        out[k] = std::sqrt (z.realp[k] * z.realp[k] + z.imagp[k] * z.imagp[k]);
}

void scale (const float* x, float s, float* y, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
        y[k] = x[k] * s;
}

void multiply (const float* x, const float* w, float* y, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
        y[k] = x[k] * w[k];
}

PM_HOT_LOOP void scaleAccumulate (const float* __restrict x, float s, float* __restrict y, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
        y[k] += x[k] * s;
}

void multiplyMultiplyAdd (const float* x, const float* w, const float* u, const float* v, float* y, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
        y[k] = x[k] * w[k] + u[k] * v[k];
}

void stridedCopy (const float* x, std::size_t xStride, float* y, std::size_t yStride, std::size_t n) noexcept
{
    for (std::size_t k = 0; k < n; ++k)
        y[k * yStride] = x[k * xStride];
}

void ramp (float a, float b, float* y, std::size_t n) noexcept
{
    if (n == 0)
        return;
    if (n == 1)
    {
        y[0] = a;
        return;
    }
    const double step = (double (b) - double (a)) / double (n - 1);
    for (std::size_t k = 0; k < n; ++k)
        y[k] = float (double (a) + double (k) * step);
    y[n - 1] = b;
}

void hannWindow (float* y, std::size_t n) noexcept
{
    const double twoPi = 6.283185307179586476925286766559;
    for (std::size_t k = 0; k < n; ++k)
        y[k] = float (0.5 * (1.0 - std::cos (twoPi * double (k) / double (n))));
}

float maxValue (const float* x, std::size_t n) noexcept
{
    float m = -std::numeric_limits<float>::infinity();
    for (std::size_t k = 0; k < n; ++k)
        m = x[k] > m ? x[k] : m;
    return m;
}

float minValue (const float* x, std::size_t n) noexcept
{
    float m = std::numeric_limits<float>::infinity();
    for (std::size_t k = 0; k < n; ++k)
        m = x[k] < m ? x[k] : m;
    return m;
}

float mean (const float* x, std::size_t n) noexcept
{
    if (n == 0)
        return 0.0f;
    double sum = 0.0;
    for (std::size_t k = 0; k < n; ++k)
        sum += x[k];
    return float (sum / double (n));
}

float meanSquare (const float* x, std::size_t n) noexcept
{
    if (n == 0)
        return 0.0f;
    double sum = 0.0;
    for (std::size_t k = 0; k < n; ++k)
        sum += double (x[k]) * double (x[k]);
    return float (sum / double (n));
}

float rms (const float* x, std::size_t n) noexcept
{
    return std::sqrt (meanSquare (x, n));
}

void clear (float* y, std::size_t n) noexcept
{
    if (n > 0)
        std::memset (y, 0, n * sizeof (float));
}

void clearChannels (float* const* channels, int numChannels, std::size_t offset, std::size_t n) noexcept
{
    for (int ch = 0; ch < numChannels; ++ch)
        if (channels[ch] != nullptr)
            clear (channels[ch] + offset, n);
}

void copy (const float* x, float* y, std::size_t n) noexcept
{
    if (n > 0)
        std::memmove (y, x, n * sizeof (float));
}

std::size_t countNonFinite (const float* x, std::size_t n) noexcept
{
    std::size_t count = 0;
    for (std::size_t k = 0; k < n; ++k)
        count += std::isfinite (x[k]) ? 0 : 1;
    return count;
}
} // namespace Dsp
} // namespace PM
