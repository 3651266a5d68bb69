#include "Engine/PMStreamBuffers.h"

#include <gtest/gtest.h>

using namespace PM;

TEST (OutputDataBuffer, CreateBuildsSilentRingAndExactRamps)
{
    OutputDataBuffer out;
    out.create (2, 3, 512, 128);
    EXPECT_EQ (out.rows, 2u);
    EXPECT_EQ (out.length, 1536u);
    EXPECT_EQ (out.segmentOrder[0], 0);
    EXPECT_EQ (out.segmentOrder[2], 2);
    EXPECT_EQ (out.crossfadeIn[0], 0.0f);
    EXPECT_FLOAT_EQ (out.crossfadeIn[1], 1.0f / 127.0f);
    EXPECT_EQ (out.crossfadeIn[127], 1.0f);
    EXPECT_EQ (out.crossfadeOut[0], 1.0f);
    EXPECT_EQ (out.shortFadeIn.length, 32u);
    EXPECT_EQ (out.shortFadeOut[31], 0.0f);
}

TEST (OutputDataBuffer, PlaysBlocksThenRotatesAndClearsThePlayedSegment)
{
    OutputDataBuffer out;
    out.create (2, 3, 512, 128);
    for (std::uint64_t i = 0; i < out.rows * out.length; ++i)
        out.data[i] = float (i);
    std::vector<float> a (128), b (128);
    float* chans[] = { a.data(), b.data() };
    for (int call = 0; call < 4; ++call)
    {
        out.feedOutput (chans, 0.5f);
        EXPECT_EQ (a[0], 0.5f * float (call * 128));
        EXPECT_EQ (b[5], 0.5f * float (1536 + call * 128 + 5));
    }
    EXPECT_EQ (out.readPos, 0u);

    out.rotateLeftWriteBuffer (true);
    EXPECT_EQ (out.segmentOrder[0], 1);
    EXPECT_EQ (out.segmentOrder[2], 0);
    EXPECT_EQ (out.getWriteBuffer (1, 2), out.data + 1536);
    EXPECT_EQ (out.data[1536 + 511], 0.0f);
    EXPECT_EQ (out.data[1536 + 512], float (1536 + 512));  // segment 1 untouched
    out.rotateLeftWriteBuffer (false);
    EXPECT_EQ (out.segmentOrder[0], 2);
    EXPECT_NE (out.data[1024], 0.0f);

    std::fill (a.begin(), a.end(), 7.0f);
    out.feedOutputWithSilence (chans);
    EXPECT_EQ (a[64], 0.0f);
    EXPECT_EQ (out.readPos, 0u);

    OutputDataBuffer single;
    single.create (1, 1, 64, 64);
    single.data[3] = 1.0f;
    single.rotateLeftWriteBuffer (true);
    EXPECT_EQ (single.segmentOrder[0], 0);
    EXPECT_EQ (single.data[3], 0.0f);
}

TEST (OutputDataBuffer, CrossfadeMixesWithTheRamps)
{
    OutputDataBuffer in, old;
    in.create (1, 1, 128, 128);
    old.create (1, 1, 128, 128);
    std::fill (in.data, in.data + 128, 1.0f);
    std::fill (old.data, old.data + 128, 1.0f);
    std::vector<float> y (128);
    float* chans[] = { y.data() };
    in.crossfadeAndFeedOutput (chans, old, 2.0f);
    for (int n = 0; n < 128; ++n)
        ASSERT_NEAR (y[(size_t) n], 2.0f, 1e-6f);
    std::fill (old.data, old.data + 128, 0.0f);
    in.crossfadeAndFeedOutput (chans, old, 2.0f);
    for (int n = 0; n < 128; ++n)
        ASSERT_NEAR (y[(size_t) n], 2.0f * in.crossfadeIn[(size_t) n], 1e-6f);
}

TEST (OutputDataBuffer, ShortFadeOutTouchesOnlyTheLast32SamplesOfTheBlock)
{
    OutputDataBuffer out;
    out.create (1, 1, 512, 128);
    std::fill (out.data, out.data + 512, 1.0f);
    out.applyShortFadeOut();
    EXPECT_EQ (out.data[95], 1.0f);
    EXPECT_EQ (out.data[96], 1.0f);
    EXPECT_EQ (out.data[127], 0.0f);
    EXPECT_EQ (out.data[128], 1.0f);
}

TEST (InputDataBuffer, AppendsFillWindowsAndMissingChannelsAreSilent)
{
    InputDataBuffer in (2, 1024);
    EXPECT_EQ (in.spectra.count, 2u);
    EXPECT_EQ (in.spectra[0].length, 512u);
    in.writePos = 512;
    std::vector<float> ones (512, 1.0f);
    const float* chans[] = { ones.data() };
    in.append (chans, 1, 0, 512);
    EXPECT_TRUE (in.full);
    EXPECT_EQ (in.writePos, 0u);
    EXPECT_EQ (in.row (0)[1023], 1.0f);
    EXPECT_EQ (in.row (1)[1023], 0.0f);

    in.writePos = 512;
    for (int k = 0; k < 4; ++k)
    {
        in.append (chans, 1, 0, 128);
        EXPECT_EQ (in.full, k == 3);
    }
    in.writePos = 1000;
    in.append (chans, 1, 0, 512);  // cut at the end of the rows
    EXPECT_TRUE (in.full);
    float copied[4];
    in.copy (0, 1020, copied, 4);
    EXPECT_EQ (copied[3], 1.0f);
}
