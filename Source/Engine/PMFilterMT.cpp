#include "PMFilterMT.h"

#include "PMConvolver.h"

#include <algorithm>
#include <chrono>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
 #include <immintrin.h>
#endif

namespace PM
{
namespace
{
inline void cpuRelax() noexcept
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}
} // namespace

FilterMT::~FilterMT()
{
    FilterMT::destroy();
}

void FilterMT::create (Convolver* owner, const PropertiesBase& properties, int filterId)
{
    Filter::create (owner, properties, filterId);
    pool.create (this);
    pool.start();
}

bool FilterMT::alignAndStoreDFTs (float gain)
{
    const bool changed = Filter::alignAndStoreDFTs (gain);
    if (changed)
    {
        pool.update();
        pool.start();
    }
    return changed;
}

void FilterMT::destroy()
{
    pool.destroy();
    Filter::destroy();
}

void FilterMT::convolverLog (LogQueue::Event event, std::int64_t value, std::int64_t limit) noexcept
{
    if (convolver != nullptr)
        convolver->logQueue.push ({ event, id, value, limit });
}

bool FilterMT::waitForWorkers() const noexcept
{
    auto busy = [this] { return pool.isBusy() || (other != nullptr && other->pool.isBusy()); };
    if (! busy())
        return true;
    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 1;; ++i)
    {
        if (! busy())
            return true;
        cpuRelax();
        if ((i & 1023u) == 0)
        {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds (1))
                return false;
            // Give the workers the core on a machine with fewer cores than threads.
            std::this_thread::yield();
        }
    }
}

void FilterMT::transformInput() noexcept
{
    const auto h = (std::size_t) halfSize;
    for (std::uint64_t ch = 0; ch < input->rows; ++ch)
    {
        float* row = input->row (ch);
        Dsp::fftForwardFromReal (fft.setup, row, input->spectra[(std::size_t) ch].split());
        Dsp::copy (row + h, row, h);
    }
    input->writePos = h;
}

void FilterMT::driveIncomingFilter() noexcept
{
    Convolver& cv = *convolver;
    FilterMT& incoming = *other;
    // No zeroing of the whole ring: the swap waits for as many partitions as the ring has
    // segments, and each rotation clears the segment it moves to the end, so every segment is
    // cleared before it collects its first contribution and nothing older is ever heard.
    incoming.output.rotateLeftWriteBuffer (true);
    incoming.workerGain = incoming.scale;
    incoming.pool.signalAndWait();
    if (! cv.crossfadeReady.load() && changeCountdown-- <= 1)
        cv.crossfadeReady = true;
}

void FilterMT::process (const float** inputs, int numIn, float** outputs, int numOut, int n) noexcept
{
    Convolver& cv = *convolver;
    if (n <= 0)
        return;
    if ((int) output.rows < numOutputs || (int) output.blockLength != n)
        samplesPerBlock = n;
    if (n > halfSize)
    {
        Dsp::clearChannels (outputs, numOut, 0, (std::size_t) n);
        if (cv.status.exchange (Convolver::statusBlockTooLong) != Convolver::statusBlockTooLong)
            convolverLog (LogQueue::Event::blockTooLong, n, halfSize);
        return;
    }

    float gain = outputGain.load (std::memory_order_relaxed);
    if (cv.mutedSamples.load (std::memory_order_relaxed) > 0)
    {
        cv.mutedSamples.fetch_sub (n, std::memory_order_relaxed);
        gain = 1.0e-6f;
    }
    workerGain = scale;

    const int outs = std::min (numOut, numOutputs);

    // A crossfade starts in the first call after the swap; this call's boundaries may set
    // crossfadeReady for the next call, so it is read once here.
    bool fading = cv.crossfadeRequested.load() && cv.crossfadeReady.load();
    const auto fadeLength = (unsigned long) output.blockLength;
    const auto h = (unsigned long) halfSize;
    unsigned long done = 0;
    while (done < (unsigned long) n)
    {
        if (! waitForWorkers())
        {
            Dsp::clearChannels (outputs, numOut, done, (std::size_t) n - done);
            cv.status = Convolver::statusOverrun;
            convolverLog (LogQueue::Event::workersTimedOut, n, 0);
            break;
        }
        // Blocks that do not divide N/2 are cut at the partition boundary; input and output
        // advance together, so the position in the window is also the position in the segment.
        const auto pos = (unsigned long) (input->writePos - h);
        const unsigned long chunk = std::min ((unsigned long) n - done, h - pos);
        input->append (inputs, (unsigned long) std::max (numIn, 0), done, chunk);

        if (fading)
        {
            const unsigned long m = std::min (chunk, fadeLength - (unsigned long) cv.fadePosition);
            output.crossfadeAndFeedOutput (outputs, (unsigned long) outs, done, pos, m, other->output,
                                           (unsigned long) cv.fadePosition, gain);
            if (m < chunk)
                output.feedOutput (outputs, (unsigned long) outs, done + m, pos + m, chunk - m, gain);
            cv.fadePosition += m;
            if (cv.fadePosition >= fadeLength)
            {
                cv.fadePosition = 0;
                cv.crossfadeReady = false;
                cv.crossfadeRequested = false;
                fading = false;
            }
        }
        else
        {
            output.feedOutput (outputs, (unsigned long) outs, done, pos, chunk, gain);
        }
        done += chunk;

        if (input->full)
        {
            transformInput();
            output.rotateLeftWriteBuffer (true);
            if (cv.crossfadeRequested.load())
                driveIncomingFilter();
            pool.signalAndWait();
        }
    }
    // Channels the engine does not drive get silence rather than whatever the buffer held; only
    // now, since with buffers shared in place they may have been inputs of this block.
    if (numOut > outs)
        Dsp::clearChannels (outputs + outs, numOut - outs, 0, (std::size_t) n);
}
} // namespace PM
