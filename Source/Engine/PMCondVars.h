#pragma once

// The worker pool of one filter: one thread per output channel, woken once per partition by the
// audio thread. The dispatch allocates nothing and takes no lock: a generation counter with a
// futex wake tells parked workers that a job is there, so a wake-up can be neither lost (a worker
// that has not parked yet sees the new generation) nor invented (a spurious return from the wait
// finds the generation unchanged and waits again). Control operations (create, update, start,
// exit, destroy) run on the message thread while the owner filter is not processing.

#include "PMFftSpec.h"
#include "PMTypes.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>

namespace PM
{
class FilterMT;
class FilterWorkersPool;
class SquareArrayOfIrSpectrum;
class OutputDataBuffer;

/** The workers' wake-up point: waiters sleep until the generation moves on. */
class ConditionVariable
{
public:
    ConditionVariable() = default;
    ConditionVariable (const ConditionVariable&) = delete;

    std::uint32_t generation() const noexcept { return gen.load (std::memory_order_acquire); }
    /** Blocks while the generation equals seen; returns the generation it then finds. */
    std::uint32_t waitWhile (std::uint32_t seen) noexcept;
    /** Moves the generation on and wakes every waiter. Lock-free; one system call at most. */
    void broadcast() noexcept;

private:
    std::atomic<std::uint32_t> gen { 0 };
    std::atomic<int> sleepers { 0 };
};

class FilterWorker : public juce::Thread
{
public:
    using Job = void (FilterWorker::*) (float* const*);

    static std::atomic<int> ms_nWorkerId;

    FilterMT* filter = nullptr;
    FilterWorkersPool* pool = nullptr;
    int numInputs = 0;
    int fftSize = 0;
    int halfSize = 0;
    int numPartitions = 0;
    FftSpec fft;
    ComplexVector accumulator;
    ComplexVector product;
    SquareArrayOfIrSpectrum* irMatrix = nullptr;
    OutputDataBuffer* output = nullptr;
    juce::AudioBuffer<float>* scratch = nullptr;
    /** The scratch rows, taken once on the control thread: asking the buffer for them from
        several workers at once would race on its clear flag. */
    float* const* scratchChannels = nullptr;
    float gain = 1.0f;
    Job job = nullptr;

    FilterWorker();
    explicit FilterWorker (FilterMT* owner);
    ~FilterWorker() override;

    void create (FilterMT* owner);
    void update();
    void destroy();
    void run() override;

    /** Sums over inputs of X_i x H(o, i, 0); one inverse transform per channel. */
    void singlePartitionBlockMult (float* const* channels);
    /** The same for every partition k, added into the segment played k partitions later. */
    void multiPartitionBlockMult (float* const* channels);

private:
    void readOwner();
    void accumulateChannel (int o, int k, float* scratchRow) noexcept;
};

class FilterWorkersPool
{
public:
    FilterMT* owner = nullptr;
    std::uint64_t created = 0;
    std::size_t workerCount = 0;
    FilterWorker* workers = nullptr;
    std::atomic<int> startedCount { 0 };
    std::atomic<int> waitingCount { 0 };
    std::atomic<int> busyCount { 0 };
    ConditionVariable condition;
    std::atomic<int> channelCounter { 0 };

    FilterWorkersPool() = default;
    ~FilterWorkersPool() { destroy(); }
    FilterWorkersPool (const FilterWorkersPool&) = delete;

    void create (FilterMT* filter);
    /** Stops the threads and makes the workers match the owner's configuration. */
    void update();
    /** Starts every worker and returns once all of them run. */
    void start();
    /** The dispatch, audio thread: wakes every worker unless the last job is unfinished (then
        a log event is queued and this partition is skipped). Never blocks. */
    void signalAndWait() noexcept;
    /** Stops every worker thread; workers finish the job they are in first. */
    void exit();
    void stop() { exit(); }
    void destroy();

    bool isBusy() const noexcept { return busyCount.load (std::memory_order_acquire) > 0; }

    // Worker-side steps of the protocol.
    void passBadge() noexcept { startedCount.fetch_add (1); }
    void notify() noexcept { busyCount.fetch_sub (1, std::memory_order_acq_rel); }
    int getChannelToProcess() noexcept { return channelCounter.fetch_sub (1) - 1; }
};
} // namespace PM
