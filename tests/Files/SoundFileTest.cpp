#include "Files/PMSoundFile.h"
#include "TestUtils.h"

#include <gtest/gtest.h>

using namespace PM;

TEST (SoundFile, ReadsAndDeinterleavesChannels)
{
    PMTest::TempFolder tmp;
    const auto path = tmp.path ("stereo.wav");
    ASSERT_TRUE (PMTest::writeSoundFile (path, { { 1, 2, 3 }, { -1, -2, -3 } }));

    SoundFile f (path, SFM_READ);
    ASSERT_NE (f.getFP(), nullptr);
    EXPECT_EQ (f.path.getFullPathName(), path);
    f.createSamplesBlock();
    EXPECT_EQ (f.readPCMSamples(), 3);
    ArrayOfArrays<float> rows;
    rows.create (2, 3);
    f.deinterleave (rows);
    EXPECT_EQ (std::vector<float> (rows.row (0), rows.row (0) + 3), (std::vector<float> { 1, 2, 3 }));
    EXPECT_EQ (std::vector<float> (rows.row (1), rows.row (1) + 3), (std::vector<float> { -1, -2, -3 }));
    const auto lines = f.retrieveSoundFileInfo();
    ASSERT_EQ (lines.size(), 5);
    EXPECT_TRUE (lines[0].containsIgnoreCase ("WAV")) << lines[0];
    EXPECT_EQ (lines[2], "samples: 3");
    EXPECT_EQ (lines[3], "Fs: 48000");
    EXPECT_EQ (lines[4], "stereo");
}

TEST (SoundFile, WritesInterleavedBlockWithTags)
{
    PMTest::TempFolder tmp;
    const auto path = tmp.path ("six.wav");
    {
        SoundFile out;
        out.info.samplerate = 44100;
        out.info.channels = 6;
        out.info.format = SF_FORMAT_WAVEX | SF_FORMAT_FLOAT;
        ASSERT_NE (out.open (path, SFM_WRITE), nullptr);
        EXPECT_EQ (out.setTag (SF_STR_SOFTWARE, "pelmarkmt"), 0);
        out.info.frames = 100;
        out.createSamplesBlock();
        EXPECT_EQ (out.samples.length, 600u);
        ArrayOfArrays<float> rows;
        rows.create (6, 100);
        for (int c = 0; c < 6; ++c)
            rows.row ((size_t) c)[10] = float (c + 1);
        out.interleave (rows, 100);
        EXPECT_EQ (out.writePCMSamples (-1), 100);
    }
    SoundFile in (path, SFM_READ);
    ASSERT_NE (in.getFP(), nullptr);
    EXPECT_EQ (in.info.frames, 100);
    EXPECT_TRUE (juce::String (in.getTag (SF_STR_SOFTWARE)).startsWith ("pelmarkmt"));  // the library appends its name
    EXPECT_EQ (in.retrieveSoundFileInfo()[4], "6 channels");
    in.readPCMSamples();
    EXPECT_EQ (in.samples[10 * 6 + 5], 6.0f);
}

TEST (SoundFile, MonoBlockIsTheChannel)
{
    PMTest::TempFolder tmp;
    const auto path = tmp.path ("mono.wav");
    ASSERT_TRUE (PMTest::writeSoundFile (path, { { 0.5f, -0.5f, 0.25f } }));
    SoundFile f (juce::File (path), SFM_READ);
    ASSERT_TRUE (f.isMono());
    EXPECT_TRUE (f.samplerateIs (48000));
    EXPECT_EQ (f.readPCMSamples(), 3);  // sizes the block itself
    EXPECT_EQ (f.samples[2], 0.25f);
    EXPECT_EQ (f.retrieveSoundFileInfo()[4], "mono");
}

// Files that are not sound files at all, or are cut short, open as null with the library's
// message; nothing is read and nothing crashes.
TEST (SoundFile, BadFilesOpenAsNullWithMessage)
{
    PMTest::TempFolder tmp;
    const auto good = tmp.path ("good.wav");
    ASSERT_TRUE (PMTest::writeSoundFile (good, { PMTest::randomSignal (1000, 3) }));
    juce::MemoryBlock bytes;
    ASSERT_TRUE (juce::File (good).loadFileAsData (bytes));

    tmp.dir.getChildFile ("x.wav").replaceWithText ("this is not audio at all\n");
    tmp.dir.getChildFile ("header.wav").replaceWithData (bytes.getData(), 20);
    tmp.dir.getChildFile ("empty.wav").create();
    tmp.dir.getChildFile ("folder.wav").createDirectory();

    for (const char* name : { "missing.wav", "x.wav", "header.wav", "empty.wav", "folder.wav" })
    {
        SCOPED_TRACE (name);
        SoundFile f;
        EXPECT_EQ (f.open (tmp.path (name), SFM_READ), nullptr);
        const juce::String text (f.errorText);
        EXPECT_TRUE (text.isNotEmpty());
        EXPECT_TRUE (text.matchesWildcard ("* [*]", false)) << text;
        EXPECT_EQ (f.readPCMSamples(), 0);
        EXPECT_EQ (f.writePCMSamples (-1), 0);
        f.createSamplesBlock();
        EXPECT_EQ (f.samples.data, nullptr);
    }

    // Cut inside the sample data: the header is whole, so it opens with the frames that exist.
    tmp.dir.getChildFile ("cut.wav").replaceWithData (bytes.getData(), bytes.getSize() - 400);
    SoundFile cut (tmp.path ("cut.wav"), SFM_READ);
    ASSERT_NE (cut.getFP(), nullptr);
    EXPECT_LT (cut.info.frames, 1000);
    EXPECT_EQ (cut.readPCMSamples(), cut.info.frames);
}

TEST (SoundFile, ZeroFramesAllocateNothingAndOpenWithoutPathKeepsFile)
{
    PMTest::TempFolder tmp;
    const auto path = tmp.path ("zero.wav");
    ASSERT_TRUE (PMTest::writeSoundFile (path, { {} }));
    SoundFile f (path, SFM_READ);
    ASSERT_NE (f.getFP(), nullptr);
    EXPECT_EQ (f.info.frames, 0);
    f.createSamplesBlock();
    EXPECT_EQ (f.samples.data, nullptr);
    EXPECT_EQ (f.readPCMSamples(), 0);

    SoundFile g;
    EXPECT_EQ (g.open (SFM_READ), nullptr);  // no path set
    g.setFilePath (tmp.path ("missing.wav"));
    EXPECT_EQ (g.open (SFM_READ), nullptr);

    SoundFile sized;
    sized.info.frames = 100;
    sized.createSamplesBlock (4);
    EXPECT_EQ (sized.info.channels, 4);
    EXPECT_EQ (sized.samples.length, 400u);
    EXPECT_EQ (sized.samples[399], 0.0f);
}

TEST (SoundFile, DurationText)
{
    char out[32];
    SoundFile::calculateSndDuration (out, 48000, 96000);
    EXPECT_STREQ (out, "00:00:02");
    SoundFile::calculateSndDuration (out, 1000, 3700 * 1000);
    EXPECT_STREQ (out, "01:01:40");
    SoundFile::calculateSndDuration (out, 0, 5);
    EXPECT_STREQ (out, "00:00:00");
}
