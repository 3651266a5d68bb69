#include "Engine/PMIrBuffers.h"
#include "TestUtils.h"

#include <gtest/gtest.h>

using namespace PM;

// Every length L > 0 gets ceil(L / (N/2)) partitions, so no sample of an impulse response is lost.
TEST (IrSpectrum, PartitionRuleCoversEverySample)
{
    struct Case { int length; int fftSize; int partitions; };
    const Case cases[] = { { 1, 1024, 1 }, { 512, 1024, 1 }, { 513, 1024, 2 }, { 700, 1024, 2 },
                           { 1024, 1024, 2 }, { 1025, 1024, 3 }, { 48000, 2048, 47 }, { 3, 2, 3 } };
    for (const auto& c : cases)
    {
        IrSpectrum ir (0, 0);
        ir.alloc (c.fftSize, c.length);
        EXPECT_EQ (ir.partitions, c.partitions) << "L=" << c.length << " N=" << c.fftSize;
        EXPECT_EQ (ir.partitionLength, (std::uint64_t) c.fftSize / 2);
        EXPECT_EQ (ir.spectra.count, (std::uint64_t) c.partitions);
    }
    IrSpectrum fresh (0, 0);
    fresh.alloc (1024, 0);  // length 0 keeps the construction state
    EXPECT_EQ (fresh.partitions, 1);
    EXPECT_EQ (fresh.partitionLength, 0u);
}

// Each partition's spectrum, transformed back, is exactly its slice of the impulse response.
TEST (IrSpectrum, PartitionSpectraHoldTheirSlicesScaledByGain)
{
    const int n = 1024, h = n / 2;
    FftSpec fftSpec (n, 0);
    const auto samples = PMTest::randomSignal (700, 5);
    IrSpectrum ir (0, 0);
    ir.set (samples.data(), (unsigned long) samples.size());
    ir.process (700, fftSpec, 0.5f);
    ASSERT_EQ (ir.partitions, 2);
    std::vector<float> back (n);
    for (int p = 0; p < 2; ++p)
    {
        Dsp::fftInverseToReal (fftSpec.setup, ir.spectra[(size_t) p].split(), back.data());
        for (int t = 0; t < n; ++t)
        {
            const int src = p * h + t;
            const float expected = (t < h && src < 700) ? 0.5f * samples[(size_t) src] : 0.0f;
            ASSERT_NEAR (back[(size_t) t] / (2.0f * n), expected, 1e-5f) << "partition " << p << " sample " << t;
        }
    }
}

TEST (IrSpectrum, UnitImpulseGivesFlatSpectrumOfTwo)
{
    FftSpec fftSpec (1024, 0);
    for (const float gain : { 1.0f, 0.5f })
    {
        IrSpectrum ir (0, 0);
        ir.makeDelta (1024, 0);
        ir.process (1024, fftSpec, gain);
        ASSERT_EQ (ir.partitions, 2);
        for (int k = 0; k < 512; ++k)
        {
            ASSERT_FLOAT_EQ (ir.spectra.realAt (0, k), 2.0f * gain) << k;
            ASSERT_FLOAT_EQ (ir.spectra.imagAt (0, k), k == 0 ? 2.0f * gain : 0.0f) << k;
            ASSERT_EQ (ir.spectra.realAt (1, k), 0.0f);
            ASSERT_EQ (ir.spectra.imagAt (1, k), 0.0f);
        }
    }
    IrSpectrum empty (0, 0);
    empty.process (3000, fftSpec, 1.0f);
    EXPECT_EQ (empty.partitions, 6);
    EXPECT_EQ (empty.spectra.realAt (5, 3), 0.0f);
}

TEST (SquareArrayOfIrSpectrum, AlignPadsToTheLongestAndKeepsLoadedState)
{
    SquareArrayOfIrSpectrum m;
    m.create (1, 3, 0, 1024);
    m.cell (0, 0)->makeDelta (100, 99);
    m.cell (0, 1)->makeDelta (300, 5);
    EXPECT_EQ (m.align(), 300u);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ (m.cell (0, c)->timeData.length, 300u);
    EXPECT_EQ (m.cell (0, 0)->timeData[99], 1.0f);
    EXPECT_EQ (m.cell (0, 0)->timeData[299], 0.0f);
    EXPECT_FALSE (m.cell (0, 2)->loaded);
    EXPECT_FALSE (m.isFilled());

    SquareArrayOfIrSpectrum none;
    EXPECT_EQ (none.align(), 0u);
    EXPECT_TRUE (none.isFilled());
}

TEST (SquareArrayOfIrSpectrum, ExtremesCopyAndMove)
{
    SquareArrayOfIrSpectrum a, b;
    a.create (2, 3, 0, 1024);
    b.create (2, 3, 0, 1024);
    const float v[] = { 0.5f, -0.25f };
    a.cell (0, 0)->set (v, 2);
    a.findMaxMin();
    EXPECT_EQ (a.maxValue, 0.5f);
    EXPECT_EQ (a.minValue, -0.25f);
    EXPECT_EQ (a.absMax(), 0.5f);
    EXPECT_EQ (a.absMin(), 0.25f);

    a.cell (1, 2)->setFilePath (juce::File ("/tmp/x.wav"));
    a.gain = 0.75f;
    unsigned long length = 0;
    a.copyTimeDomainDataTo (b, &length);
    EXPECT_EQ (length, 2u);
    EXPECT_TRUE (b.isFilled());
    EXPECT_EQ (b.cell (0, 0)->timeData[1], -0.25f);
    EXPECT_EQ (b.cell (1, 2)->file, juce::File ("/tmp/x.wav"));
    EXPECT_EQ (b.gain, 0.75f);

    IrSpectrum* moved = a.cell (0, 0);
    a.move (b);
    EXPECT_EQ (a.cells, nullptr);
    EXPECT_EQ (a.rows, 0);
    EXPECT_EQ (b.cell (0, 0), moved);
    a.destroy();  // nothing left to free
}
