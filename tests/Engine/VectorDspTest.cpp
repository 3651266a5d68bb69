#include "Engine/PMFftSpec.h"
#include "Engine/PMVectorDsp.h"
#include "TestUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

using namespace PM;

namespace
{
std::vector<std::complex<double>> naiveDft (const std::vector<float>& x)
{
    const size_t n = x.size();
    std::vector<std::complex<double>> X (n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k)
        for (size_t t = 0; t < n; ++t)
            X[k] += double (x[t]) * std::polar (1.0, -2.0 * M_PI * double (k * t) / double (n));
    return X;
}

struct Split
{
    std::vector<float> re, im;
    explicit Split (size_t n) : re (n), im (n) {}
    Dsp::SplitComplex view() { return { re.data(), im.data() }; }
};
} // namespace

// Every size the engine may use: the packed layout, the forward factor 2 and the inverse factor N.
TEST (VectorDspFft, MatchesNaiveDftForEveryPowerOfTwo)
{
    for (int log2n = 1; log2n <= 13; ++log2n)
    {
        const size_t n = size_t (1) << log2n, h = n / 2;
        SCOPED_TRACE ("N = " + std::to_string (n));
        FftSpec fftSpec ((int) n, 0);
        ASSERT_EQ (fftSpec.size, (int) n);

        const auto x = PMTest::randomSignal (n, 17 + (unsigned) log2n);
        const auto X = naiveDft (x);
        double peak = 0;
        for (auto& v : X)
            peak = std::max (peak, std::abs (v));
        const double tol = 2.0 * peak * 2e-6 * log2n + 1e-5;

        Split z (h);
        Dsp::realToSplit (x.data(), z.view(), h);
        Dsp::fftForwardInPlace (fftSpec.setup, z.view());
        EXPECT_NEAR (z.re[0], 2.0 * X[0].real(), tol) << "DC";
        EXPECT_NEAR (z.im[0], 2.0 * X[h].real(), tol) << "Nyquist";
        for (size_t k = 1; k < h; ++k)
        {
            ASSERT_NEAR (z.re[k], 2.0 * X[k].real(), tol) << "bin " << k;
            ASSERT_NEAR (z.im[k], 2.0 * X[k].imag(), tol) << "bin " << k;
        }

        // The fused real-input form gives the same packed spectrum.
        Split f (h);
        Dsp::fftForwardFromReal (fftSpec.setup, x.data(), f.view());
        for (size_t k = 0; k < h; ++k)
        {
            ASSERT_FLOAT_EQ (f.re[k], z.re[k]);
            ASSERT_FLOAT_EQ (f.im[k], z.im[k]);
        }

        // Inverse: N x inverse DFT, so the round trip gives 2N x.
        std::vector<float> back (n);
        Dsp::fftInverseToReal (fftSpec.setup, z.view(), back.data());
        Dsp::fftInverseInPlace (fftSpec.setup, z.view());
        std::vector<float> backInPlace (n);
        Dsp::splitToReal (z.view(), backInPlace.data(), h);
        for (size_t t = 0; t < n; ++t)
        {
            ASSERT_NEAR (back[t], 2.0 * double (n) * x[t], 2.0 * n * 1e-5 * log2n) << "sample " << t;
            ASSERT_NEAR (backInPlace[t], back[t], 2.0 * n * 1e-6 * log2n);
        }
    }
}

// Product of two packed spectra, inverse and 1/N: four times the circular convolution.
TEST (VectorDspFft, SpectralProductGivesFourTimesTheConvolution)
{
    const size_t n = 1024, h = n / 2;
    FftSpec fftSpec ((int) n, 0);
    auto x = PMTest::randomSignal (h, 1);
    auto ir = PMTest::randomSignal (h, 2);
    x.resize (n, 0.0f);
    ir.resize (n, 0.0f);
    Split X (h), H (h), Y (h), acc (h);
    Dsp::fftForwardFromReal (fftSpec.setup, x.data(), X.view());
    Dsp::fftForwardFromReal (fftSpec.setup, ir.data(), H.view());
    Dsp::complexMultiply (X.view(), H.view(), Y.view(), h);
    Dsp::complexMultiplyAccumulate (X.view(), H.view(), acc.view(), h);
    for (size_t k = 0; k < h; ++k)
    {
        ASSERT_FLOAT_EQ (acc.re[k], Y.re[k]);
        ASSERT_FLOAT_EQ (acc.im[k], Y.im[k]);
    }
    std::vector<float> y (n);
    Dsp::fftInverseToReal (fftSpec.setup, Y.view(), y.data());
    Dsp::scale (y.data(), 1.0f / float (n), y.data(), n);

    x.resize (h);
    ir.resize (h);
    const auto ref = PMTest::directConvolution (x, ir);  // 2h - 1 samples: no circular wrap in N
    for (size_t t = 0; t < ref.size(); ++t)
        ASSERT_NEAR (y[t], 4.0 * ref[t], 2e-4) << "sample " << t;
}

TEST (VectorDspFft, SetupRoundsToNearestPowerOfTwoAndRefusesNothingValid)
{
    struct Case { int n; int size; unsigned log2n; };
    for (const Case c : { Case { 1024, 1024, 10 }, Case { 1500, 2048, 11 }, Case { 1400, 1024, 10 }, Case { 2, 2, 1 } })
    {
        FftSpec fftSpec (c.n, 0);
        EXPECT_EQ (fftSpec.size, c.size) << c.n;
        EXPECT_EQ (fftSpec.log2n, c.log2n) << c.n;
    }
    FftSpec none;
    none.destroy();
    EXPECT_EQ (none.size, 0);
    FftSpec bad (1, 0);  // log2n 0: no set-up
    EXPECT_EQ (bad.size, 0);
    EXPECT_EQ (bad.setup, nullptr);
}

TEST (VectorDspReal, OperationsComputeWhatTheySay)
{
    const float x[] = { 1, 2, 3, 4 }, w[] = { 2, 0.5f, -1, 0 }, u[] = { 1, 1, 1, 1 }, v[] = { 0, 1, 2, 3 };
    float y[4];
    Dsp::scale (x, 2.0f, y, 4);
    EXPECT_EQ (std::vector<float> (y, y + 4), (std::vector<float> { 2, 4, 6, 8 }));
    Dsp::multiply (x, w, y, 4);
    EXPECT_EQ (std::vector<float> (y, y + 4), (std::vector<float> { 2, 1, -3, 0 }));
    Dsp::scaleAccumulate (x, 0.5f, y, 4);
    EXPECT_EQ (std::vector<float> (y, y + 4), (std::vector<float> { 2.5f, 2, -1.5f, 2 }));
    Dsp::multiplyMultiplyAdd (x, w, u, v, y, 4);
    EXPECT_EQ (std::vector<float> (y, y + 4), (std::vector<float> { 2, 2, -1, 3 }));

    float inter[6] = {};
    Dsp::stridedCopy (x, 1, inter + 1, 2, 3);
    EXPECT_EQ (std::vector<float> (inter, inter + 6), (std::vector<float> { 0, 1, 0, 2, 0, 3 }));

    float r[128];
    Dsp::ramp (0.0f, 1.0f, r, 128);
    EXPECT_EQ (r[0], 0.0f);
    EXPECT_FLOAT_EQ (r[1], 1.0f / 127.0f);
    EXPECT_EQ (r[127], 1.0f);

    float hann[4];
    Dsp::hannWindow (hann, 4);
    EXPECT_FLOAT_EQ (hann[0], 0.0f);
    EXPECT_FLOAT_EQ (hann[2], 1.0f);

    const float s[] = { -3, 1, 2 };
    EXPECT_EQ (Dsp::maxValue (s, 3), 2.0f);
    EXPECT_EQ (Dsp::minValue (s, 3), -3.0f);
    EXPECT_FLOAT_EQ (Dsp::mean (x, 3), 2.0f);
    EXPECT_FLOAT_EQ (Dsp::meanSquare (x, 3), 14.0f / 3.0f);
    const float p[] = { 3, 4 };
    EXPECT_FLOAT_EQ (Dsp::rms (p, 2), std::sqrt (12.5f));

    const float re[] = { 3, 0 }, im[] = { 4, -2 };
    float mag[2];
    Dsp::complexAbs ({ re, im }, mag, 2);
    EXPECT_FLOAT_EQ (mag[0], 5.0f);
    EXPECT_FLOAT_EQ (mag[1], 2.0f);
}

// Bin 0 packs two real values (DC and Nyquist), which multiply separately.
TEST (VectorDspComplex, PackedBinZeroMultipliesAsTwoReals)
{
    float ar[] = { 2, 1 }, ai[] = { 3, 2 }, br[] = { 5, 3 }, bi[] = { 7, 4 };
    float or_[2], oi[2];
    Dsp::complexMultiply ({ ar, ai }, { br, bi }, { or_, oi }, 2);
    EXPECT_EQ (or_[0], 10.0f);
    EXPECT_EQ (oi[0], 21.0f);
    EXPECT_EQ (or_[1], 1.0f * 3 - 2.0f * 4);
    EXPECT_EQ (oi[1], 1.0f * 4 + 2.0f * 3);
    float sr[2], si[2];
    Dsp::complexAdd ({ ar, ai }, { br, bi }, { sr, si }, 2);
    EXPECT_EQ (sr[1], 4.0f);
    EXPECT_EQ (si[1], 6.0f);
}
