#include "PMCondVars.h"

#include "PMFilterMT.h"

#include <thread>

#if defined(__linux__)
 #include <climits>
 #include <linux/futex.h>
 #include <sys/syscall.h>
 #include <unistd.h>
#endif

namespace PM
{
// ---------------------------------------------------------------------------------------------
std::uint32_t ConditionVariable::waitWhile (std::uint32_t seen) noexcept
{
    std::uint32_t now = gen.load (std::memory_order_acquire);
    while (now == seen)
    {
        sleepers.fetch_add (1, std::memory_order_seq_cst);
#if defined(__linux__)
        // Sleeps only if the generation still equals seen, atomically with the check.
        syscall (SYS_futex, reinterpret_cast<std::uint32_t*> (&gen), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
#else
        gen.wait (seen, std::memory_order_acquire);
#endif
        sleepers.fetch_sub (1, std::memory_order_seq_cst);
        now = gen.load (std::memory_order_acquire);
    }
    return now;
}

void ConditionVariable::broadcast() noexcept
{
    gen.fetch_add (1, std::memory_order_seq_cst);
    if (sleepers.load (std::memory_order_seq_cst) > 0)
    {
#if defined(__linux__)
        syscall (SYS_futex, reinterpret_cast<std::uint32_t*> (&gen), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
#else
        gen.notify_all();
#endif
    }
}

// ---------------------------------------------------------------------------------------------
std::atomic<int> FilterWorker::ms_nWorkerId { 0 };

FilterWorker::FilterWorker() : juce::Thread ("PMFilterWorker_" + juce::String (ms_nWorkerId.fetch_add (1)))
{
}

FilterWorker::FilterWorker (FilterMT* owner) : FilterWorker()
{
    create (owner);
}

FilterWorker::~FilterWorker()
{
    stopThread (5000);
}

void FilterWorker::create (FilterMT* owner)
{
    destroy();
    filter = owner;
    pool = &owner->pool;
    readOwner();
}

void FilterWorker::update()
{
    readOwner();
}

void FilterWorker::readOwner()
{
    numInputs = filter->numInputs;
    fftSize = filter->fftSize;
    halfSize = filter->halfSize;
    numPartitions = filter->numPartitions;
    irMatrix = &filter->irMatrix;
    output = &filter->output;
    scratch = &filter->scratch;
    scratchChannels = scratch->getArrayOfWritePointers();
    accumulator.create ((unsigned long) halfSize);
    product.create ((unsigned long) halfSize);
    fft.create (fftSize, 0);
    job = numPartitions == 1 ? &FilterWorker::singlePartitionBlockMult : &FilterWorker::multiPartitionBlockMult;
}

void FilterWorker::destroy()
{
    fft.destroy();
    filter = nullptr;
    pool = nullptr;
    numInputs = fftSize = halfSize = numPartitions = 0;
    irMatrix = nullptr;
    output = nullptr;
    scratch = nullptr;
    scratchChannels = nullptr;
    gain = 1.0f;
    job = nullptr;
}

void FilterWorker::run()
{
    std::uint32_t seen = pool->condition.generation();
    pool->passBadge();
    for (;;)
    {
        pool->waitingCount.fetch_add (1);
        seen = pool->condition.waitWhile (seen);
        if (threadShouldExit())
            break;
        (this->*job) (scratchChannels);
        pool->notify();
    }
}

void FilterWorker::accumulateChannel (int o, int k, float* scratchRow) noexcept
{
    const std::size_t h = (std::size_t) halfSize;
    const auto& inputSpectra = filter->input->spectra;
    if (filter->mode.load (std::memory_order_relaxed) == 2)
    {
        // One-to-One: output o hears input o only; without such an input it stays silent.
        if (o >= numInputs)
            return;
        Dsp::complexMultiply (inputSpectra[(std::size_t) o].split(), irMatrix->cell (o, o)->spectra[(std::size_t) k].split(),
                              accumulator.split(), h);
    }
    else
    {
        // Sum over the inputs in the frequency domain: one inverse transform per channel.
        Dsp::clear (accumulator.real, h);
        Dsp::clear (accumulator.imag, h);
        for (int i = 0; i < numInputs; ++i)
            Dsp::complexMultiplyAccumulate (inputSpectra[(std::size_t) i].split(),
                                            irMatrix->cell (o, i)->spectra[(std::size_t) k].split(),
                                            accumulator.split(), h);
    }
    Dsp::fftInverseToReal (fft.setup, accumulator.split(), scratchRow);
    // Overlap-save: only the second half of the window is valid output.
    Dsp::scaleAccumulate (scratchRow + h, gain, output->getWriteBuffer ((unsigned long) o, (unsigned long) k), h);
}

void FilterWorker::singlePartitionBlockMult (float* const* channels)
{
    for (int o = pool->getChannelToProcess(); o >= 0; o = pool->getChannelToProcess())
        accumulateChannel (o, 0, channels[o]);
}

void FilterWorker::multiPartitionBlockMult (float* const* channels)
{
    for (int o = pool->getChannelToProcess(); o >= 0; o = pool->getChannelToProcess())
        for (int k = 0; k < numPartitions; ++k)
            accumulateChannel (o, k, channels[o]);
}

// ---------------------------------------------------------------------------------------------
void FilterWorkersPool::create (FilterMT* filter)
{
    owner = filter;
    update();
}

void FilterWorkersPool::update()
{
    exit();
    const auto n = (std::size_t) std::max (owner->numOutputs, 0);
    channelCounter.store ((int) n);
    if (n == workerCount && created == 1)
    {
        for (std::size_t w = 0; w < workerCount; ++w)
            workers[w].update();
        return;
    }
    delete[] workers;
    workers = nullptr;
    workerCount = 0;
    created = 1;
    if (n == 0)
        return;
    workers = new FilterWorker[n];
    workerCount = n;
    for (std::size_t w = 0; w < n; ++w)
        workers[w].create (owner);
}

void FilterWorkersPool::start()
{
    waitingCount.store (0);
    startedCount.store (0);
    // A dispatch that an earlier exit() cut short may have left counts behind.
    busyCount.store (0);
    channelCounter.store (0);
    for (std::size_t w = 0; w < workerCount; ++w)
        workers[w].startThread (juce::Thread::Priority::highest);
    int expected = (int) workerCount;
    while (! startedCount.compare_exchange_weak (expected, 0))
    {
        expected = (int) workerCount;
        std::this_thread::yield();
    }
}

void FilterWorkersPool::signalAndWait() noexcept
{
    int expected = 0;
    if (! busyCount.compare_exchange_strong (expected, (int) workerCount))
    {
        owner->convolverLog (LogQueue::Event::workersStillBusy, expected, 0);
        return;
    }
    const float workerGain = owner->workerGain;
    for (std::size_t w = 0; w < workerCount; ++w)
        workers[w].gain = workerGain;
    waitingCount.store (0);
    channelCounter.store (owner->numOutputs);
    condition.broadcast();
}

void FilterWorkersPool::exit()
{
    if (workers == nullptr)
        return;
    for (std::size_t w = 0; w < workerCount; ++w)
        workers[w].signalThreadShouldExit();
    condition.broadcast();
    for (std::size_t w = 0; w < workerCount; ++w)
        workers[w].waitForThreadToExit (5000);
}

void FilterWorkersPool::destroy()
{
    if (workers == nullptr)
        return;
    exit();
    delete[] workers;
    workers = nullptr;
    workerCount = 0;
    created = 0;
}
} // namespace PM
