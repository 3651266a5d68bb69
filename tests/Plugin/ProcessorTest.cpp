#include "Engine/EngineHarness.h"
#include "PluginHarness.h"

#include <gtest/gtest.h>

#include <thread>

using namespace PMTest;

TEST (Processor, OutputGainFollowsTheDecibelParameter)
{
    PMAudioProcessor p;
    for (const auto& c : { std::make_pair (6.0f, 1.995f), std::make_pair (-24.0f, 0.0631f) })
    {
        param (p, "WGAIN").setValueNotifyingHost ((c.first + 24.0f) / 48.0f);
        p.updateParameters();
        EXPECT_NEAR (p.convolver.activeFilter()->outputGain.load(), c.second, 1e-3f) << c.first;
    }
}

TEST (Processor, ChannelCountsRebuildTheEngine)
{
    PMAudioProcessor p;
    const int before = p.convolver.activeFilter()->id;
    gUpdateMatrixLayout = false;
    setCount (p, "INS", 3);
    EXPECT_NE (p.convolver.activeFilter()->id, before);
    EXPECT_EQ (p.convolver.activeFilter()->numInputs, 3);
    EXPECT_EQ (p.convolver.input.rows, 3u);
    EXPECT_TRUE (gUpdateMatrixLayout.load());
    setCount (p, "OUTS", 5);
    EXPECT_EQ (p.convolver.activeFilter()->numOutputs, 5);
    EXPECT_EQ (p.convolver.activeFilter()->threadsCount(), 5);
    EXPECT_TRUE (logText (p).contains ("Requested new inputs -> 3"));
    EXPECT_TRUE (logText (p).contains ("Requested new outputs -> 5"));
}

// FFT size and zero latency rebuild the engine around the playing matrix, and the latency the
// host is told follows.
TEST (Processor, FftSizeAndZeroLatencyKeepTheMatrix)
{
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), randomMatrix (2, 2, 3000, 4)));
    PMAudioProcessor p;
    p.prepareToPlay (48000, 256);
    ASSERT_GT (p.loadAndParseAudioFile (tmp.path ("m.wav")), 0);
    play (p, 20, 256);
    ASSERT_FALSE (p.convolver.changeInProgress());
    const float sample = p.convolver.activeFilter()->irMatrix.cell (1, 0)->timeData[2999];
    ASSERT_NE (sample, 0.0f);

    auto check = [&] (int fft, int latency)
    {
        const auto& f = *p.convolver.activeFilter();
        EXPECT_EQ (f.fftSize, fft);
        EXPECT_EQ (p.getLatencySamples(), latency);
        EXPECT_EQ (f.irMatrix.cell (1, 0)->timeData.length, 3000u);
        EXPECT_EQ (f.irMatrix.cell (1, 0)->timeData[2999], sample);
        EXPECT_EQ (f.numPartitions, (3000 + fft / 2 - 1) / (fft / 2));
        EXPECT_EQ (f.filePath, tmp.path ("m.wav"));
    };
    param (p, "FFTSIZE").setValueNotifyingHost (2.0f / 3.0f);  // 4096
    check (4096, 2048);
    param (p, "ZeroLatency").setValueNotifyingHost (1.0f);
    check (512, 256);
    const int id = p.convolver.activeFilter()->id;
    param (p, "ZeroLatency").setValueNotifyingHost (1.0f);  // already on: nothing to rebuild
    EXPECT_EQ (p.convolver.activeFilter()->id, id);
    param (p, "ZeroLatency").setValueNotifyingHost (0.0f);
    check (4096, 2048);
    EXPECT_EQ (occurrences (logText (p), "Requested zeroLatency on (fftSize -> 512)"), 1);
}

TEST (Processor, OneToOneNeedsEqualCountsAndFallsBackToMulti)
{
    PMAudioProcessor p;
    setCount (p, "OUTS", 4);
    param (p, "MODE").setValueNotifyingHost (1.0f);  // One-to-One
    EXPECT_EQ (p.properties.mode(), 1);
    EXPECT_EQ (p.convolver.filters[0].mode.load(), 1);
    EXPECT_TRUE (logText (p).contains ("New mode selected -> 1"));
    EXPECT_FALSE (logText (p).contains ("New mode selected -> 2"));
    setCount (p, "OUTS", 2);
    param (p, "MODE").setValueNotifyingHost (1.0f);
    EXPECT_EQ (p.properties.mode(), 2);
    EXPECT_EQ (p.convolver.filters[1].mode.load(), 2);
}

// A host block longer than N/2 is answered with silence and status 0x5002, and the processor
// moves to an FFT size that fits within the timer's period (a power of two for odd blocks too).
TEST (Processor, LongHostBlockSelectsALargerFftSize)
{
    struct Case { float fftChoice; int block; int expectedFft; };
    for (const Case c : { Case { 1.0f / 3.0f, 2048, 4096 }, Case { 0.0f, 1500, 4096 } })
    {
        SCOPED_TRACE (c.block);
        PM::FftSpec planned (c.expectedFft, 0);  // the FFT plans exist already: time the reaction only
        PMAudioProcessor p;
        param (p, "FFTSIZE").setValueNotifyingHost (c.fftChoice);
        juce::AudioBuffer<float> buffer (64, c.block);
        for (int ch = 0; ch < 64; ++ch)
            juce::FloatVectorOperations::fill (buffer.getWritePointer (ch), 1.0f, c.block);
        processOne (p, buffer);
        EXPECT_EQ (buffer.getMagnitude (0, 0, c.block), 0.0f);
        EXPECT_EQ (p.latchedStatus(), 0x5002);
        const auto start = juce::Time::getMillisecondCounter();
        while (p.properties.fftSize() != c.expectedFft && juce::Time::getMillisecondCounter() - start < 3000)
            pump (5);
        EXPECT_EQ (p.properties.fftSize(), c.expectedFft);
        // One 100 ms timer tick plus the rebuild, which sanitizers slow down a good deal.
        EXPECT_LE (juce::Time::getMillisecondCounter() - start, 1000u);
        play (p, 4, c.block);
        EXPECT_EQ (p.latchedStatus(), 0);
    }
}

// Hosts deliver parameter changes on their audio thread: nothing is rebuilt there; the
// reaction happens on the message thread at the next tick of the processor's timer.
TEST (Processor, ChangesFromAnotherThreadReactOnTheMessageThread)
{
    PMAudioProcessor p;
    const int before = p.convolver.activeFilter()->id;
    std::thread audio ([&] { setCount (p, "INS", 6); });
    audio.join();
    EXPECT_EQ (p.convolver.activeFilter()->id, before);
    EXPECT_EQ (p.properties.inputs(), 6);
    pump (250);
    EXPECT_EQ (p.convolver.activeFilter()->numInputs, 6);
}

// A watched matrix file rewritten by another program is loaded again, once.
TEST (Processor, AutoReloadLoadsARewrittenFileOnce)
{
    TempFolder tmp;
    const auto file = tmp.path ("watched.wav");
    ASSERT_TRUE (writeMultiFile (file, randomMatrix (2, 2, 500, 1)));
    PMAudioProcessor p;
    p.properties.setFilterAutoreloadPeriod (50);
    param (p, "FilterAutoreload").setValueNotifyingHost (1.0f);
    ASSERT_GT (p.loadAndParseAudioFile (file), 0);
    EXPECT_TRUE (p.reloader.isThreadRunning());
    play (p, 8);

    const auto b = randomMatrix (2, 2, 700, 2);
    ASSERT_TRUE (writeMultiFile (file, b));
    juce::File (file).setLastModificationTime (juce::Time::getCurrentTime() + juce::RelativeTime::seconds (5));
    const auto start = juce::Time::getMillisecondCounter();
    while (occurrences (logText (p), "matrix loaded in") < 2 && juce::Time::getMillisecondCounter() - start < 5000)
        play (p, 8);
    for (int i = 0; i < 60; ++i)  // another 1.5 s: no second reload of the same change
        play (p, 8), pump (20);
    EXPECT_EQ (occurrences (logText (p), "matrix loaded in"), 2);
    EXPECT_EQ (p.convolver.activeFilter()->irMatrix.cell (1, 1)->timeData.length, 700u);
    EXPECT_EQ (p.convolver.activeFilter()->irMatrix.cell (1, 1)->timeData[0], b[1][1][0]);
    p.stopReloader();
    EXPECT_FALSE (p.reloader.isThreadRunning());
}

TEST (Processor, TwoInstancesShareOnlyTheEditorFlags)
{
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), randomMatrix (2, 2, 100, 1)));
    PMAudioProcessor a, b;
    EXPECT_NE (a.getLogFile(), b.getLogFile());
    EXPECT_TRUE (a.getLogFile().existsAsFile());
    EXPECT_TRUE (b.getLogFile().existsAsFile());
    const int na = a.getLogFile().getFileName().fromFirstOccurrenceOf ("pelmarkmt_", false, false).getIntValue();
    const int nb = b.getLogFile().getFileName().fromFirstOccurrenceOf ("pelmarkmt_", false, false).getIntValue();
    EXPECT_EQ (nb, na + 1);
    EXPECT_TRUE (logText (a).contains ("This is pelmarkmt version 6.297.0 - Build of "));
    EXPECT_NE (a.convolver.activeFilter(), b.convolver.activeFilter());

    ASSERT_GT (a.loadAndParseAudioFile (tmp.path ("m.wav")), 0);
    play (a, 8);
    EXPECT_TRUE (a.convolver.activeFilter()->irMatrix.isFilled());
    EXPECT_FALSE (b.convolver.activeFilter()->irMatrix.isFilled());
    EXPECT_TRUE (logText (a).contains ("matrix loaded in"));
    EXPECT_FALSE (logText (b).contains ("matrix loaded in"));
    setCount (b, "INS", 4);
    EXPECT_EQ (a.convolver.activeFilter()->numInputs, 2);
}

// Parameter changes fired from the message thread while an audio thread processes blocks of
// changing length, at three sample rates: no deadlock, no crash, no garbage in the output.
TEST (Processor, RapidChangesWhileAudioRuns)
{
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), randomMatrix (2, 2, 2000, 9)));
    for (const double rate : { 44100.0, 48000.0, 96000.0 })
    {
        SCOPED_TRACE (rate);
        PMAudioProcessor p;
        p.prepareToPlay (rate, 512);
        ASSERT_GT (p.loadAndParseAudioFile (tmp.path ("m.wav")), 0);
        std::atomic<bool> running { true }, garbage { false };
        std::thread audio ([&]
        {
            juce::Random rng (1);
            juce::AudioBuffer<float> buffer (64, 1024);
            while (running)
            {
                const int n = rng.nextInt ({ 16, 1025 });
                buffer.setSize (64, n, false, false, true);
                for (int c = 0; c < 64; ++c)
                    for (int k = 0; k < n; ++k)
                        buffer.setSample (c, k, rng.nextFloat() - 0.5f);
                processOne (p, buffer);
                for (int c = 0; c < 64; ++c)
                    for (int k = 0; k < n; ++k)
                        if (! std::isfinite (buffer.getSample (c, k)) || std::abs (buffer.getSample (c, k)) > 1.0e4f)
                            garbage = true;
            }
        });
        juce::Random rng (2);
        for (int i = 0; i < 40; ++i)
        {
            switch (rng.nextInt (5))
            {
                case 0: setCount (p, "INS", rng.nextInt ({ 1, 9 })); break;
                case 1: setCount (p, "OUTS", rng.nextInt ({ 1, 9 })); break;
                case 2: param (p, "FFTSIZE").setValueNotifyingHost ((float) rng.nextInt (4) / 3.0f); break;
                case 3: param (p, "ZeroLatency").setValueNotifyingHost (rng.nextBool() ? 1.0f : 0.0f); break;
                default: param (p, "MODE").setValueNotifyingHost ((float) rng.nextInt (3) / 2.0f); break;
            }
            pump (10);
        }
        running = false;
        audio.join();
        EXPECT_FALSE (garbage.load());
        EXPECT_NE (p.convolver.filters, nullptr);
    }
}
