#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <thread>

using namespace PM;
using namespace PMTest;

namespace
{
FixedProperties config (int ins, int outs, int fft, int block)
{
    FixedProperties p;
    p.numInputs = ins;
    p.numOutputs = outs;
    p.fft = fft;
    p.blockLength = block;
    return p;
}

struct Engine
{
    std::shared_ptr<CaptureLogger> log = std::make_shared<CaptureLogger>();
    Convolver cv;
    explicit Engine (const FixedProperties& p)
    {
        cv.setLogger (log);
        cv.create (p);
    }
};

double maxAbs (const std::vector<float>& v, size_t from, size_t to)
{
    double m = 0;
    for (size_t t = from; t < to && t < v.size(); ++t)
        m = std::max (m, (double) std::fabs (v[t]));
    return m;
}
} // namespace

// A matrix change while audio runs: before the swap the old matrix is heard, during the one-block
// crossfade the ramps mix old and new, and afterwards the full convolution with the new matrix,
// including the tail of everything played before the change.
TEST (ConvolverChange, CrossfadesFromOldToNewMatrix)
{
    for (const int block : { 512, 256, 300 })
    {
        SCOPED_TRACE ("block " + std::to_string (block));
        const int h = 512;
        // Equal lengths: nothing rebuilds the incoming output stage, so only clearing it keeps old tails out.
        const Matrix a = randomMatrix (2, 2, 2600, 11), b = randomMatrix (2, 2, 2600, 12);
        TempFolder tmp;
        ASSERT_TRUE (writeMultiFile (tmp.path ("a.wav"), a));
        ASSERT_TRUE (writeMultiFile (tmp.path ("b.wav"), b));
        Engine e (config (2, 2, 1024, block));
        // A first matrix heard with noise leaves its tail in the filter that B will be loaded into.
        ASSERT_TRUE (writeMultiFile (tmp.path ("d.wav"), randomMatrix (2, 2, 2600, 13)));
        ASSERT_GT (e.cv.setFilterMatrix (tmp.path ("d.wav"), 2, 2), 0);
        ASSERT_TRUE (settle (e.cv, 2, 2, (size_t) block));
        const auto noise = (size_t) block * 10;
        runEngine (e.cv, { randomSignal (noise, 7), randomSignal (noise, 8) }, 2, noise, [block] { return (size_t) block; });
        ASSERT_GT (e.cv.setFilterMatrix (tmp.path ("a.wav"), 2, 2), 0);
        ASSERT_TRUE (settle (e.cv, 2, 2, (size_t) block));

        const size_t total = 20000;
        Channels x = { randomSignal (total, 3), randomSignal (total, 4) };
        const auto refA = referenceOutput (a, x, false), refB = referenceOutput (b, x, false);

        // Request the change after 6000 samples and note where the swap happens.
        size_t t = 0, swapAt = 0;
        int bId = 0;
        const int oldId = e.cv.activeFilter()->id;
        Channels y (2, std::vector<float> (total));
        while (t < total)
        {
            if (t >= 6000 && bId == 0)
            {
                bId = e.cv.setFilterMatrix (tmp.path ("b.wav"), 2, 2);
                ASSERT_GT (bId, 0);
                ASSERT_NE (bId, oldId);
            }
            const size_t n = std::min ((size_t) block, total - t);
            Channels slice = { std::vector<float> (x[0].begin() + (long) t, x[0].begin() + (long) (t + n)),
                               std::vector<float> (x[1].begin() + (long) t, x[1].begin() + (long) (t + n)) };
            const auto out = runEngine (e.cv, slice, 2, n, [n] { return n; });
            for (size_t o = 0; o < 2; ++o)
                std::copy (out[o].begin(), out[o].end(), y[o].begin() + (long) t);
            t += n;
            if (swapAt == 0 && e.cv.activeFilter()->id == bId)
                swapAt = t;
        }
        ASSERT_GT (swapAt, 6000u);
        // The incoming filter ran one partition per 512 samples, as many as B has (6).
        EXPECT_GE (swapAt - 6000, (size_t) 5 * h);
        EXPECT_FALSE (e.cv.changeInProgress());

        const auto& ramp = e.cv.activeFilter()->output.crossfadeIn;
        const size_t fade = ramp.length;
        EXPECT_EQ (fade, (size_t) block);
        const double tol = 4.0 * 2e-6 * std::sqrt (2.0 * 2600);
        for (size_t o = 0; o < 2; ++o)
            for (size_t k = (size_t) h; k < total; ++k)
            {
                const double va = 4.0 * refA[o][k - (size_t) h], vb = 4.0 * refB[o][k - (size_t) h];
                double expected = k < swapAt ? va : vb;
                if (k >= swapAt && k < swapAt + fade)
                    expected = ramp[k - swapAt] * vb + (1.0 - ramp[k - swapAt]) * va;
                ASSERT_NEAR (y[o][k], expected, tol + 1e-6 * std::fabs (va - vb))
                    << "output " << o << " sample " << k << " (swap at " << swapAt << ")";
            }
    }
}

// A load requested while the previous change is still being carried out waits for it, then
// goes ahead; the result is the last matrix, never a mix of half-built filters.
TEST (ConvolverChange, LoadDuringChangeWaitsForItThenApplies)
{
    const Matrix a = randomMatrix (1, 1, 900, 1), b = randomMatrix (1, 1, 4000, 2), c = randomMatrix (1, 1, 1200, 3);
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("a.wav"), a));
    ASSERT_TRUE (writeMultiFile (tmp.path ("b.wav"), b));
    ASSERT_TRUE (writeMultiFile (tmp.path ("c.wav"), c));
    Engine e (config (1, 1, 1024, 128));
    ASSERT_GT (e.cv.setFilterMatrix (tmp.path ("a.wav"), 1, 1), 0);
    ASSERT_TRUE (settle (e.cv, 1, 1, 128));

    const int bId = e.cv.setFilterMatrix (tmp.path ("b.wav"), 1, 1);
    ASSERT_GT (bId, 0);
    Channels silence = { {} };
    runEngine (e.cv, silence, 1, 1024, [] { return (size_t) 128; });  // now warming: 8 partitions to go
    ASSERT_TRUE (e.cv.changeInProgress());
    ASSERT_EQ (e.cv.changePending.load(), 2);

    auto load = std::async (std::launch::async, [&] { return e.cv.setFilterMatrix (tmp.path ("c.wav"), 1, 1); });
    int cId = 0;
    bool sawB = false;
    for (int i = 0; i < 20000 && cId == 0; ++i)
    {
        runEngine (e.cv, silence, 1, 128, [] { return (size_t) 128; });
        sawB = sawB || e.cv.activeFilter()->id == bId;
        if (load.wait_for (std::chrono::milliseconds (0)) == std::future_status::ready)
            cId = load.get();
    }
    ASSERT_GT (cId, 0);
    EXPECT_TRUE (sawB);
    ASSERT_TRUE (settle (e.cv, 1, 1, 128));
    EXPECT_EQ (e.cv.activeFilter()->id, cId);

    Channels x = { randomSignal (3000, 5) };
    const auto ref = referenceOutput (c, x, false);
    const auto y = runEngine (e.cv, x, 1, 5000, [] { return (size_t) 128; });
    for (size_t t = 512; t < 5000; ++t)
        ASSERT_NEAR (y[0][t], t - 512 < ref[0].size() ? 4.0 * ref[0][t - 512] : 0.0, 1e-3) << t;
}

// Edits made before the audio thread has taken up the previous one build on it; a refused file
// leaves the waiting change in place; with audio stalled in the middle of a change a new load
// is refused with a clear log line instead of hanging.
TEST (ConvolverChange, PendingEditsAccumulateAndStalledAudioRefuses)
{
    TempFolder tmp;
    ASSERT_TRUE (writeSoundFile (tmp.path ("one.wav"), { { 1.0f } }));
    ASSERT_TRUE (writeSoundFile (tmp.path ("half.wav"), { { 0.0f, 0.5f } }));
    Engine e (config (2, 1, 1024, 512));
    ASSERT_NE (e.cv.loadFilterMatrixItem (tmp.path ("one.wav"), 0, 0), nullptr);
    ASSERT_NE (e.cv.loadFilterMatrixItem (tmp.path ("half.wav"), Cell (0, 1)), nullptr);  // builds on the first
    EXPECT_EQ (e.cv.setFilterMatrix (tmp.path ("missing.wav"), 2, 1), 0);
    EXPECT_EQ (e.cv.changePending.load(), 1);  // the edits still wait
    ASSERT_TRUE (settle (e.cv, 2, 1, 512));
    const auto* m = &e.cv.activeFilter()->irMatrix;
    EXPECT_EQ (m->cell (0, 0)->timeData[0], 1.0f);
    EXPECT_EQ (m->cell (0, 1)->timeData[1], 0.5f);

    ASSERT_NE (e.cv.copyFilterMatrixItem (Cell (0, 1), Cell (0, 0)), nullptr);
    ASSERT_TRUE (settle (e.cv, 2, 1, 512));
    EXPECT_EQ (e.cv.activeFilter()->irMatrix.cell (0, 0)->timeData[1], 0.5f);

    // A long matrix takes ten partitions to warm up; audio stops after the first.
    ASSERT_TRUE (writeMultiFile (tmp.path ("big.wav"), randomMatrix (1, 2, 5000, 9)));
    ASSERT_GT (e.cv.setFilterMatrix (tmp.path ("big.wav"), 2, 1), 0);
    runEngine (e.cv, { {}, {} }, 1, 512, [] { return (size_t) 512; });
    ASSERT_EQ (e.cv.changePending.load(), 2);
    e.cv.stalledAudioTimeoutMs = 50;
    EXPECT_EQ (e.cv.setFilterMatrix (tmp.path ("big.wav"), 2, 1), -1);
    EXPECT_EQ (e.cv.loadFilterMatrixItem (tmp.path ("one.wav"), 0, 0), nullptr);
    EXPECT_TRUE (e.log->contains ("Cannot load new matrix. Filter change in progress."));
    ASSERT_TRUE (settle (e.cv, 2, 1, 512));
    EXPECT_GT (e.cv.setFilterMatrix (tmp.path ("big.wav"), 2, 1), 0);
}

TEST (ConvolverChange, SecondWholeMatrixLoadIsRefusedWhileOneIsLoading)
{
    TempFolder tmp;
    ASSERT_TRUE (writeMultiFile (tmp.path ("a.wav"), randomMatrix (2, 2, 100, 1)));
    Engine e (config (2, 2, 1024, 512));
    e.cv.matrixLoading = 1;
    EXPECT_EQ (e.cv.setFilterMatrix (tmp.path ("a.wav"), 2, 2), -1);
    EXPECT_TRUE (e.log->contains ("Cannot load new matrix. Filter change in progress."));
    e.cv.matrixLoading = 0;
    EXPECT_EQ (e.cv.setFilterMatrix (tmp.path ("nothing.wav"), 2, 2), 0);
    EXPECT_TRUE (e.log->contains ("Cannot load matrix file"));
    const int id = e.cv.setFilterMatrix (tmp.path ("a.wav"), 2, 2);
    EXPECT_EQ (id, e.cv.inactiveFilter()->id);
    EXPECT_TRUE (e.log->contains ("matrix loaded in "));
    ASSERT_TRUE (settle (e.cv, 2, 2, 512));
    EXPECT_EQ (e.cv.filterWithID (id), e.cv.activeFilter());
}

// Bad matrix files leave the playing matrix playing.
TEST (ConvolverChange, BadFilesKeepThePreviousMatrixPlaying)
{
    TempFolder tmp;
    const Matrix a = randomMatrix (2, 2, 300, 4);
    ASSERT_TRUE (writeMultiFile (tmp.path ("a.wav"), a));
    tmp.dir.getChildFile ("text.wav").replaceWithText ("not audio");
    ASSERT_TRUE (writeSoundFile (tmp.path ("mono.wav"), { randomSignal (600, 1) }));
    auto nan = randomSignal (600, 2);
    nan[10] = std::nanf ("");
    ASSERT_TRUE (writeSoundFile (tmp.path ("nan.wav"), { nan, nan }));
    Engine e (config (2, 2, 1024, 512));
    const int id = e.cv.setFilterMatrix (tmp.path ("a.wav"), 2, 2);
    ASSERT_TRUE (settle (e.cv, 2, 2, 512));
    ASSERT_TRUE (writeSoundFile (tmp.path ("nanmono.wav"), { nan }));
    for (const char* bad : { "text.wav", "mono.wav", "nan.wav", "missing.wav" })
        EXPECT_EQ (e.cv.setFilterMatrix (tmp.path (bad), 2, 2), 0) << bad;
    for (const char* bad : { "text.wav", "nan.wav", "nanmono.wav", "missing.wav" })  // a cell takes a mono file
        EXPECT_EQ (e.cv.loadFilterMatrixItem (tmp.path (bad), 0, 0), nullptr) << bad;
    EXPECT_FALSE (e.cv.changeInProgress());
    EXPECT_EQ (e.cv.activeFilter()->id, id);
    EXPECT_EQ (e.log->all().size() >= 8, true);
    Channels x = { randomSignal (1000, 1), randomSignal (1000, 2) };
    const auto ref = referenceOutput (a, x, false);
    const auto y = runEngine (e.cv, x, 2, 2000, [] { return (size_t) 512; });
    for (size_t t = 512; t < 2000; ++t)
        ASSERT_NEAR (y[1][t], t - 512 < ref[1].size() ? 4.0 * ref[1][t - 512] : 0.0, 1e-3);
}

TEST (ConvolverStatus, BlockTooLongAndOverrunGiveSilenceAndACode)
{
    Engine e (config (1, 1, 1024, 512));
    std::vector<float> buf (513, 1.0f);
    float* ch[] = { buf.data() };
    for (int i = 0; i < 3; ++i)
    {
        e.cv.process (const_cast<const float**> (ch), 1, ch, 1, 513);
        EXPECT_EQ (e.cv.status.load(), Convolver::statusBlockTooLong);
        EXPECT_EQ (maxAbs (buf, 0, 513), 0.0);
        std::fill (buf.begin(), buf.end(), 1.0f);
    }
    e.cv.drainLog();
    EXPECT_TRUE (e.log->contains ("Host block of 513 samples is longer than half the FFT size (512)"));

    e.cv.status = 0;
    e.cv.processing = true;  // another call is inside the engine
    e.cv.process (const_cast<const float**> (ch), 1, ch, 1, 256);
    EXPECT_EQ (e.cv.status.load(), Convolver::statusOverrun);
    EXPECT_EQ (maxAbs (buf, 0, 256), 0.0);
    EXPECT_TRUE (e.cv.processing.load());  // still the other call's
    e.cv.processing = false;
}

TEST (ConvolverStatus, MuteCounterGainAndFilterIds)
{
    TempFolder tmp;
    ASSERT_TRUE (writeSoundFile (tmp.path ("delta.wav"), { { 1.0f } }));
    Engine e (config (1, 1, 1024, 512));
    const int first = e.cv.filters[0].id;
    EXPECT_EQ (e.cv.filters[1].id, first + 1);
    e.cv.create (config (1, 1, 1024, 512));
    EXPECT_EQ (e.cv.filters[0].id, first + 2);
    EXPECT_EQ (e.cv.filters[1].id, first + 3);
    EXPECT_EQ (e.cv.filterWithID (first), e.cv.activeFilter());
    EXPECT_GE (first, 400);

    ASSERT_GT (e.cv.setFilterMatrix (tmp.path ("delta.wav"), 1, 1), 0);
    ASSERT_TRUE (settle (e.cv, 1, 1, 512));
    Channels ones = { std::vector<float> (512 * 6, 1.0f) };
    runEngine (e.cv, ones, 1, 1024, [] { return (size_t) 512; });  // steady output of 4

    e.cv.setMutedSamplesCounter (1500);
    const int expectedCounter[] = { 988, 476, -36 };
    for (int b = 0; b < 4; ++b)
    {
        const auto y = runEngine (e.cv, ones, 1, 512, [] { return (size_t) 512; });
        if (b < 3)
        {
            EXPECT_EQ (e.cv.mutedSamples.load(), expectedCounter[b]);
            EXPECT_NEAR (y[0][100], 4e-6, 1e-9);
        }
        else
        {
            EXPECT_NEAR (y[0][100], 4.0, 1e-5);
        }
    }
    e.cv.setGain (0.5f);
    EXPECT_NEAR (runEngine (e.cv, ones, 1, 512, [] { return (size_t) 512; })[0][7], 2.0, 1e-5);
    e.cv.create (config (1, 1, 2048, 512));
    e.cv.setMutedSamplesCounter (-1);
    EXPECT_EQ (e.cv.mutedSamples.load(), 1024);
    e.cv.setMutedSamplesCounter (0);
    EXPECT_EQ (e.cv.mutedSamples.load(), 0);
}

// One-to-One mode hears only the diagonal of a full matrix; a matrix of zero-length responses
// plays silence; inputs the host does not supply count as silence and outputs it did not ask
// for are not written.
TEST (ConvolverModes, DiagonalOnlyZeroLengthMatrixAndMissingChannels)
{
    TempFolder tmp;
    const Matrix m = randomMatrix (2, 2, 400, 8);
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), m));
    Engine e (config (2, 2, 1024, 512));
    ASSERT_GT (e.cv.setFilterMatrix (tmp.path ("m.wav"), 2, 2), 0);
    ASSERT_TRUE (settle (e.cv, 2, 2, 512));
    e.cv.filters[0].mode = 2;
    e.cv.filters[1].mode = 2;
    Channels x = { randomSignal (1000, 1), randomSignal (1000, 2) };
    auto ref = referenceOutput (m, x, true);
    auto y = runEngine (e.cv, x, 2, 2000, [] { return (size_t) 512; });
    for (size_t o = 0; o < 2; ++o)
        for (size_t t = 512; t < 2000; ++t)
            ASSERT_NEAR (y[o][t], t - 512 < ref[o].size() ? 4.0 * ref[o][t - 512] : 0.0, 1e-3);

    // Only input 0 supplied and only output 0 requested.
    e.cv.filters[0].mode = 1;
    e.cv.filters[1].mode = 1;
    Channels onlyFirst = { x[0] };
    ref = referenceOutput (m, onlyFirst, false);
    y = runEngine (e.cv, onlyFirst, 1, 2000, [] { return (size_t) 512; });
    for (size_t t = 1024; t < 2000; ++t)
        ASSERT_NEAR (y[0][t], t - 512 < ref[0].size() ? 4.0 * ref[0][t - 512] : 0.0, 1e-3);

    ASSERT_TRUE (writeSoundFile (tmp.path ("empty.wav"), { {} }));
    Engine z (config (1, 1, 1024, 512));
    ASSERT_NE (z.cv.loadFilterMatrixItem (tmp.path ("empty.wav"), 0, 0), nullptr);
    ASSERT_TRUE (settle (z.cv, 1, 1, 512));
    EXPECT_EQ (z.cv.activeFilter()->irLength, 0);
    const auto silent = runEngine (z.cv, { randomSignal (3000, 1) }, 1, 3000, [] { return (size_t) 512; });
    EXPECT_EQ (maxAbs (silent[0], 0, 3000), 0.0);
}

// Many small partitions through a pool of four workers: every dispatch wakes every worker, no
// wake-up is lost (the audio thread would wait for ever) and every channel is done once.
TEST (ConvolverWorkers, ThousandsOfDispatchesStayExact)
{
    TempFolder tmp;
    const Matrix m = randomMatrix (4, 1, 100, 21);
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), m));
    Engine e (config (1, 4, 64, 32));
    ASSERT_GT (e.cv.setFilterMatrix (tmp.path ("m.wav"), 1, 4), 0);
    ASSERT_TRUE (settle (e.cv, 1, 4, 32));
    Channels x = { randomSignal (160000, 4) };
    const auto ref = referenceOutput (m, x, false);
    const auto y = runEngine (e.cv, x, 4, 160000, [] { return (size_t) 32; });
    EXPECT_EQ (e.cv.status.load(), 0);
    for (size_t o = 0; o < 4; ++o)
        for (size_t t = 32; t < 160000; ++t)
            ASSERT_NEAR (y[o][t], 4.0 * ref[o][t - 32], 1e-4) << o << " " << t;
    e.cv.drainLog();
    EXPECT_FALSE (e.log->contains ("BAD!"));
}

TEST (ConvolverWorkers, DispatchWhileBusyIsLoggedAndSkipped)
{
    Engine e (config (1, 2, 1024, 512));
    FilterWorkersPool& pool = e.cv.activeFilter()->pool;
    ASSERT_EQ (pool.workerCount, 2u);
    pool.busyCount = 1;
    pool.signalAndWait();
    EXPECT_EQ (pool.busyCount.load(), 1);
    e.cv.drainLog();
    EXPECT_TRUE (e.log->contains ("BAD! Still 1 thread(s) working..."));
    pool.busyCount = 0;
}

TEST (ConvolverWorkers, PoolUpdateKeepsOrRenewsWorkers)
{
    FilterMT f;
    f.numOutputs = 2;
    f.pool.create (&f);
    ASSERT_EQ (f.pool.workerCount, 2u);
    const juce::String name = f.pool.workers[1].getThreadName();
    f.pool.update();
    EXPECT_EQ (f.pool.workers[1].getThreadName(), name);
    f.numOutputs = 3;
    f.pool.update();
    ASSERT_EQ (f.pool.workerCount, 3u);
    EXPECT_NE (f.pool.workers[1].getThreadName(), name);
    EXPECT_GT (f.pool.workers[0].getThreadName().fromLastOccurrenceOf ("_", false, false).getIntValue(),
               name.fromLastOccurrenceOf ("_", false, false).getIntValue());

    FilterMT none;
    none.numOutputs = 0;
    none.pool.create (&none);
    none.pool.start();
    none.pool.signalAndWait();
    EXPECT_EQ (none.pool.busyCount.load(), 0);
}

// Buffers shared in place: an output channel beyond the matrix rows is also an input of the
// block; it is read first and silenced afterwards.
TEST (ConvolverModes, ExtraOutputsAreSilencedAfterTheirInputIsRead)
{
    TempFolder tmp;
    const Matrix m = { { { 1.0f }, { 2.0f } } };  // one output: input 0 + 2 x input 1
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), m));
    Engine e (config (2, 1, 1024, 512));
    ASSERT_GT (e.cv.setFilterMatrix (tmp.path ("m.wav"), 2, 1), 0);
    ASSERT_TRUE (settle (e.cv, 2, 1, 512));
    Channels x = { randomSignal (1024, 1), randomSignal (1024, 2) };
    const auto y = runEngine (e.cv, x, 2, 2048, [] { return (size_t) 512; });
    for (size_t t = 512; t < 1536; ++t)
        ASSERT_NEAR (y[0][t], 4.0 * (x[0][t - 512] + 2.0 * x[1][t - 512]), 1e-4) << t;
    EXPECT_EQ (maxAbs (y[1], 0, 2048), 0.0);
}
