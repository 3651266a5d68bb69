#include "Engine/PMIrBuffers.h"
#include "TestUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace PM;

namespace
{
std::vector<float> ramp (size_t n, float start)
{
    std::vector<float> v (n);
    for (size_t i = 0; i < n; ++i)
        v[i] = start + float (i);
    return v;
}

std::vector<float> cellData (const SquareArrayOfIrSpectrum& m, int r, int c)
{
    const auto& t = m.cell (r, c)->timeData;
    return std::vector<float> (t.data, t.data + t.length);
}

std::vector<float> slice (const std::vector<float>& v, size_t from, size_t n)
{
    return std::vector<float> (v.begin() + (long) from, v.begin() + (long) (from + n));
}
} // namespace

TEST (MatrixLoader, MultiLayoutSplitsEachChannelIntoInputs)
{
    PMTest::TempFolder tmp;
    for (const size_t frames : { size_t (3000), size_t (3001) })
    {
        const auto ch0 = ramp (frames, 0.0f), ch1 = ramp (frames, -5000.0f);
        const auto path = tmp.path ("multi" + juce::String ((int) frames) + ".wav");
        ASSERT_TRUE (PMTest::writeSoundFile (path, { ch0, ch1 }));
        SquareArrayOfIrSpectrum m;
        m.create (2, 2, 0, 1024);
        ASSERT_EQ (m.loadFromFile (path, true, 2, 2), 1500u);
        EXPECT_EQ (cellData (m, 0, 0), slice (ch0, 0, 1500));
        EXPECT_EQ (cellData (m, 0, 1), slice (ch0, 1500, 1500));
        EXPECT_EQ (cellData (m, 1, 0), slice (ch1, 0, 1500));
        EXPECT_EQ (cellData (m, 1, 1), slice (ch1, 1500, 1500));
        EXPECT_TRUE (m.isFilled());
        EXPECT_EQ (m.maxValue, 2999.0f);
        EXPECT_EQ (m.minValue, -5000.0f);
        EXPECT_EQ (m.cell (1, 1)->file.getFullPathName(), path);
    }
}

TEST (MatrixLoader, OneToOneLayoutsFillOnlyTheDiagonal)
{
    PMTest::TempFolder tmp;
    const auto single = ramp (4096, 1.0f);
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("single.wav"), { single }));
    SquareArrayOfIrSpectrum m;
    m.create (4, 4, 0, 1024);
    m.cell (0, 1)->makeDelta (3, 1);
    ASSERT_EQ (m.loadFromFile (tmp.path ("single.wav"), false, 4, 4), 1024u);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ (cellData (m, k, k), slice (single, (size_t) k * 1024, 1024));
    EXPECT_EQ (cellData (m, 0, 1), (std::vector<float> { 0, 1, 0 }));  // untouched
    EXPECT_FALSE (m.cell (2, 3)->loaded);

    PMTest::Channels four;
    for (int c = 0; c < 4; ++c)
        four.push_back (ramp (500, float (c * 1000)));
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("four.wav"), four));
    // Tags never decide the layout; the mode does.
    ASSERT_EQ (m.loadFromFile (tmp.path ("four.wav"), false, 4, 4), 500u);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ (cellData (m, k, k), four[(size_t) k]);

    // Loading the same file again reuses every written cell's block.
    const float* before = m.cell (2, 2)->timeData.data;
    ASSERT_EQ (m.loadFromFile (tmp.path ("four.wav"), false, -1, -1), 500u);
    EXPECT_EQ (m.cell (2, 2)->timeData.data, before);
}

// Input the layouts cannot hold is refused with a reason, and the matrix is left as it was.
TEST (MatrixLoader, RefusesFilesItCannotReadWithoutTouchingTheMatrix)
{
    PMTest::TempFolder tmp;
    auto nan = ramp (64, 0.0f);
    nan[17] = std::numeric_limits<float>::quiet_NaN();
    auto inf = ramp (64, 0.0f);
    inf[3] = std::numeric_limits<float>::infinity();
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("mono.wav"), { ramp (64, 0.0f) }));
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("short.wav"), { { 1 }, { 2 } }));
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("zero.wav"), { {}, {} }));
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("nan.wav"), { nan, ramp (64, 0.0f) }));
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("inf.wav"), { ramp (64, 0.0f), inf }));
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("two.wav"), { ramp (64, 0.0f), ramp (64, 0.0f) }));
    tmp.dir.getChildFile ("text.wav").replaceWithText ("no audio here");

    struct Case { const char* file; bool multi; int ins; int outs; const char* reason; };
    const Case cases[] = {
        { "missing.wav", true, 2, 2, "Cannot open" },
        { "text.wav", true, 2, 2, "Cannot open" },
        { "mono.wav", true, 2, 2, "channel" },          // Multi needs one channel per output
        { "two.wav", false, 3, 3, "channels" },         // One-to-One multichannel needs 3
        { "short.wav", true, 2, 2, "too few" },         // 1 frame for 2 inputs
        { "zero.wav", false, 2, 2, "too few" },
        { "nan.wav", true, 2, 2, "NaN" },
        { "inf.wav", false, 2, 2, "NaN" },
        { "two.wav", true, 2, 4, "cannot load" },       // more outputs than the matrix has rows
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.file);
        SquareArrayOfIrSpectrum m;
        m.create (3, 3, 0, 1024);
        m.cell (0, 0)->makeDelta (2, 0);
        juce::String why;
        EXPECT_EQ (m.loadFromFile (tmp.path (c.file), c.multi, c.ins, c.outs, &why), 0u);
        EXPECT_TRUE (why.containsIgnoreCase (c.reason)) << why;
        EXPECT_EQ (cellData (m, 0, 0), (std::vector<float> { 1, 0 }));
        EXPECT_FALSE (m.cell (1, 1)->loaded);
    }
}

// A single-channel One-to-One file with more outputs than inputs only has segments for the
// cells that exist on both sides; nothing is read past the file or written past the matrix.
TEST (MatrixLoader, OneToOneWithUnequalCountsStaysInsideFileAndMatrix)
{
    PMTest::TempFolder tmp;
    const auto single = ramp (300, 0.0f);
    ASSERT_TRUE (PMTest::writeSoundFile (tmp.path ("single.wav"), { single }));
    SquareArrayOfIrSpectrum m;
    m.create (4, 3, 0, 1024);  // 4 outputs, 3 inputs
    ASSERT_EQ (m.loadFromFile (tmp.path ("single.wav"), false, 3, 4), 100u);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ (cellData (m, k, k), slice (single, (size_t) k * 100, 100));
    for (int c = 0; c < 3; ++c)
        EXPECT_FALSE (m.cell (3, c)->loaded);
}
