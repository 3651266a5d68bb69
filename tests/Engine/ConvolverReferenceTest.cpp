#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace PM;
using namespace PMTest;

namespace
{
enum class Length { belowHalf, betweenHalfAndN, severalPartitions };

struct ReferenceCase
{
    int fftSize;        // 0: zero latency with declared block zeroLatencyBlock
    int outs, ins;
    bool oneToOne;
    Length length;
};

constexpr int zeroLatencyBlock = 256;

std::string caseName (const ReferenceCase& c)
{
    const char* len[] = { "short", "mid", "long" };
    return (c.fftSize == 0 ? std::string ("zeroLatency") : "N" + std::to_string (c.fftSize)) + "_"
           + std::to_string (c.outs) + "x" + std::to_string (c.ins) + (c.oneToOne ? "_oneToOne_" : "_multi_")
           + len[(int) c.length];
}

std::vector<ReferenceCase> allCases()
{
    std::vector<ReferenceCase> cases;
    for (const int fft : { 0, 1024, 2048, 4096, 8192 })
        for (const auto& shape : { std::pair<int, int> { 1, 1 }, { 2, 3 }, { 4, 4 } })
        {
            if (shape.first == 4 && fft > 2048)
                continue;  // the square case is covered at the smaller sizes; the reference is O(n^2)
            for (const bool oneToOne : { false, true })
                for (const auto length : { Length::belowHalf, Length::betweenHalfAndN, Length::severalPartitions })
                    cases.push_back ({ fft, shape.first, shape.second, oneToOne, length });
        }
    return cases;
}

class ConvolverReference : public ::testing::TestWithParam<ReferenceCase>
{
};
} // namespace

// The engine's output is the matrix convolution of its input, times 4, exactly N/2 samples late,
// for every FFT size, block length, matrix shape, layout and impulse-response length. The error
// allowed is float rounding: 2e-6 x sqrt(L x inputs) for signals and IRs of amplitude 1, about
// 30 times the float epsilon of each output sample's magnitude.
TEST_P (ConvolverReference, MatchesDirectConvolution)
{
    const ReferenceCase c = GetParam();
    const int n = c.fftSize == 0 ? 2 * zeroLatencyBlock : c.fftSize;
    const int h = n / 2;
    const size_t irLength = c.length == Length::belowHalf         ? size_t (h / 2 + 3)
                            : c.length == Length::betweenHalfAndN ? size_t (h + h / 2 + 1)
                                                                  : size_t (n + h / 2 + 5);
    const Matrix m = randomMatrix (c.outs, c.ins, irLength, 1000 + (unsigned) n);
    Channels x;
    for (int i = 0; i < c.ins; ++i)
        x.push_back (randomSignal (size_t (2 * h + 77), 50 + (unsigned) i));
    const auto ref = referenceOutput (m, x, c.oneToOne);

    TempFolder tmp;
    const auto file = tmp.path ("m.wav");
    ASSERT_TRUE (c.oneToOne ? writeDiagonalFile (file, m) : writeMultiFile (file, m));

    std::vector<int> blocks = { h, h / 2, h / 4 };
    if (c.fftSize == 0)
        blocks = { h };
    for (const int block : blocks)
    {
        SCOPED_TRACE ("block " + std::to_string (block));
        FixedProperties p;
        p.numInputs = c.ins;
        p.numOutputs = c.outs;
        p.fft = c.fftSize == 0 ? 1024 : c.fftSize;
        p.zeroLatencyOn = c.fftSize == 0;
        p.blockLength = c.fftSize == 0 ? zeroLatencyBlock : block;
        p.matrixMode = c.oneToOne ? 2 : 1;
        Convolver cv;
        cv.create (p);
        ASSERT_EQ (cv.input.length, (std::uint64_t) n);
        ASSERT_GT (cv.setFilterMatrix (file, c.ins, c.outs), 0);
        ASSERT_TRUE (settle (cv, c.ins, c.outs, (size_t) block));

        const size_t total = x[0].size() + irLength + (size_t) h + 64;
        const auto y = runEngine (cv, x, c.outs, total, [block] { return (size_t) block; });
        const double tol = 2e-6 * std::sqrt (double (irLength) * (c.oneToOne ? 1 : c.ins));
        for (int o = 0; o < c.outs; ++o)
            for (size_t t = 0; t < total; ++t)
            {
                // Before the latency only rounding noise of the FFT may appear.
                const size_t s = t - (size_t) h;
                const double expected = t >= (size_t) h && s < ref[(size_t) o].size() ? 4.0 * ref[(size_t) o][s] : 0.0;
                ASSERT_NEAR (y[(size_t) o][t], expected, 4.0 * tol)
                    << "output " << o << " sample " << t << " (latency " << h << ")";
            }
    }
}

INSTANTIATE_TEST_SUITE_P (Engine, ConvolverReference, ::testing::ValuesIn (allCases()),
                          [] (const auto& info) { return caseName (info.param); });

// Blocks that do not divide N/2, and blocks whose length changes from call to call, are cut at
// the partition boundaries and give the same exact result.
TEST (ConvolverBlocks, IrregularAndChangingBlockLengths)
{
    const Matrix m = randomMatrix (2, 2, 1500, 77);
    Channels x = { randomSignal (3000, 1), randomSignal (3000, 2) };
    const auto ref = referenceOutput (m, x, false);
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), m));

    struct Run { const char* name; int declared; std::vector<size_t> pattern; };
    const Run runs[] = {
        { "441 of 512", 441, { 441 } },
        { "varying", 512, { 512, 100, 1, 333, 64, 512, 7 } },
        { "one sample", 512, { 1 } },
    };
    for (const auto& r : runs)
    {
        SCOPED_TRACE (r.name);
        FixedProperties p;
        p.fft = 1024;
        p.blockLength = r.declared;
        Convolver cv;
        cv.create (p);
        ASSERT_GT (cv.setFilterMatrix (tmp.path ("m.wav"), 2, 2), 0);
        ASSERT_TRUE (settle (cv, 2, 2, 512));
        size_t k = 0;
        const auto y = runEngine (cv, x, 2, 5200, [&] { return r.pattern[k++ % r.pattern.size()]; });
        for (size_t o = 0; o < 2; ++o)
            for (size_t t = 0; t + 512 < 5200; ++t)
                ASSERT_NEAR (y[o][t + 512], t < ref[o].size() ? 4.0 * ref[o][t] : 0.0, 4.0 * 2e-6 * std::sqrt (3000.0))
                    << "output " << o << " sample " << t;
    }
}

// Zero latency with a block that is not a power of two: every size is rounded up to the next
// power of two, so the engine runs with N = 2 x 512 for blocks of 480 and 441, and reports it.
TEST (ConvolverBlocks, ZeroLatencyRoundsOddBlocksUpToAPowerOfTwo)
{
    const Matrix m = randomMatrix (1, 1, 700, 3);
    Channels x = { randomSignal (2000, 9) };
    const auto ref = referenceOutput (m, x, false);
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), m));
    for (const int block : { 480, 441, 1000 })
    {
        SCOPED_TRACE (block);
        FixedProperties p;
        p.numInputs = p.numOutputs = 1;
        p.zeroLatencyOn = true;
        p.blockLength = block;
        const int n = 2 * PropertiesBase::roundUpToPowerOfTwo (block);
        EXPECT_EQ (p.engineFftSize(), n);
        Convolver cv;
        cv.create (p);
        EXPECT_EQ (cv.input.length, (std::uint64_t) n);
        EXPECT_EQ (cv.activeFilter()->fftSize, n);
        ASSERT_GT (cv.setFilterMatrix (tmp.path ("m.wav"), 1, 1), 0);
        ASSERT_TRUE (settle (cv, 1, 1, (size_t) block));
        const auto y = runEngine (cv, x, 1, 4000, [block] { return (size_t) block; });
        for (size_t t = 0; t + (size_t) n / 2 < 4000; ++t)
            ASSERT_NEAR (y[0][t + (size_t) n / 2], t < ref[0].size() ? 4.0 * ref[0][t] : 0.0, 1e-4) << t;
    }
}
