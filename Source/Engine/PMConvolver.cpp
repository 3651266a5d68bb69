#include "PMConvolver.h"

#include "Files/PMSoundFile.h"
#include "PMLogLine.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace PM
{
std::atomic<int> Convolver::ms_filterIdCounter { 400 };

/** Writes the audio path's queued events to the log, off the audio thread. */
class Convolver::LogDrain : public juce::Thread
{
public:
    explicit LogDrain (Convolver& c) : juce::Thread ("PMLogDrain"), owner (c) {}
    void run() override
    {
        while (! threadShouldExit())
        {
            wait (100);
            owner.drainLog();
        }
    }

private:
    Convolver& owner;
};

Convolver::Convolver() = default;

Convolver::~Convolver()
{
    destroy();
    if (drain != nullptr)
        drain->stopThread (2000);
    drainLog();
}

void Convolver::setLogger (std::shared_ptr<juce::Logger> newLogger)
{
    std::lock_guard<std::mutex> lock (loggerMutex);
    logger = std::move (newLogger);
}

std::shared_ptr<juce::Logger> Convolver::getLogger() const
{
    std::lock_guard<std::mutex> lock (loggerMutex);
    return logger;
}

void Convolver::log (const juce::String& line) const
{
    logLine (getLogger().get(), line);
}

void Convolver::create (const PropertiesBase& properties)
{
    destroy();
    const int n = properties.engineFftSize();
    input.create ((unsigned long) properties.engineInputs(), (unsigned long) n);
    input.writePos = (std::uint64_t) n / 2;

    // A change pending for the old pair would swap to an empty filter of the new one.
    changePending = 0;
    swapPrepared = false;
    crossfadeRequested = false;
    crossfadeReady = false;
    fadePosition = 0;

    filters.reset (new FilterMT[2]);
    filters[0].create (this, properties, ms_filterIdCounter.fetch_add (1));
    filters[1].create (this, properties, ms_filterIdCounter.fetch_add (1));
    filters[0].other = &filters[1];
    filters[1].other = &filters[0];
    log ("Created new multi threaded filtering engine (FFT size: " + juce::String (n) + ").");

    if (drain == nullptr)
    {
        drain = std::make_unique<LogDrain> (*this);
        drain->startThread();
    }
}

void Convolver::recreateKeepingMatrix (const PropertiesBase& properties)
{
    if (filters == nullptr)
    {
        create (properties);
        return;
    }
    waitForWorkersIdle (200);
    FilterMT& source = changePending.load() != 0 ? *inactiveFilter() : *activeFilter();
    SquareArrayOfIrSpectrum kept;
    source.irMatrix.move (kept);
    const juce::String path = source.filePath;
    create (properties);
    FilterMT& active = *activeFilter();
    if (kept.rows == active.numOutputs && kept.cols == active.numInputs)
    {
        kept.move (active.irMatrix);
        active.filePath = path;
        active.alignAndStoreDFTs (1.0f);
    }
}

void Convolver::update (const PropertiesBase& properties)
{
    if (filters == nullptr || ! activeFilter()->isEqual (properties))
        create (properties);
}

void Convolver::destroy()
{
    filters.reset();
}

void Convolver::process (const float** inputs, int numIn, float** outputs, int numOut, unsigned long n) noexcept
{
    samplesProcessed.fetch_add ((std::int64_t) n, std::memory_order_relaxed);
    if (processing.exchange (true, std::memory_order_acquire))
    {
        Dsp::clearChannels (outputs, numOut, 0, n);
        if (status.exchange (statusOverrun) != statusOverrun)
            logQueue.push ({ LogQueue::Event::overrun, 0, (std::int64_t) n, 0 });
        return;
    }
    if (filters == nullptr || n == 0 || n > (unsigned long) std::numeric_limits<int>::max())
    {
        Dsp::clearChannels (outputs, numOut, 0, n);
        processing.store (false, std::memory_order_release);
        return;
    }

    int expected = 1;
    if (! swapPrepared.load() && changePending.compare_exchange_strong (expected, 2))
        prepareForSwap();

    activeFilter()->process (inputs, numIn, outputs, numOut, (int) n);

    if (changePending.load() == 2 && crossfadeReady.load())
    {
        swap();
        changePending.exchange (0);
    }
    processing.store (false, std::memory_order_release);
}

void Convolver::prepareForSwap() noexcept
{
    if (swapPrepared.load())
        return;
    crossfadeRequested = true;
    crossfadeReady = false;
    swapPrepared = true;
    fadePosition = 0;
    // The incoming output holds the full convolution once the incoming filter has run as many
    // partitions as its impulse responses have.
    activeFilter()->changeCountdown = std::max (1, inactiveFilter()->numPartitions);
}

void Convolver::swap() noexcept
{
    activeIndex.store (activeIndex.load() ^ 1);
    swapPrepared = false;
}

void Convolver::setGain (float linearGain) noexcept
{
    if (filters == nullptr)
        return;
    filters[0].outputGain.store (linearGain, std::memory_order_relaxed);
    filters[1].outputGain.store (linearGain, std::memory_order_relaxed);
}

void Convolver::setMutedSamplesCounter (int samples) noexcept
{
    mutedSamples = samples >= 0 ? samples : (int) (input.length / 2);
}

bool Convolver::changeInProgress() const noexcept
{
    return changePending.load() != 0 || crossfadeRequested.load();
}

bool Convolver::workersBusy() const noexcept
{
    return filters != nullptr && (filters[0].threadsStillBusy() || filters[1].threadsStillBusy());
}

void Convolver::waitForWorkersIdle (int pollMicroseconds) const
{
    while (workersBusy())
        std::this_thread::sleep_for (std::chrono::microseconds (pollMicroseconds));
}

Convolver::Claim Convolver::claimInactiveFilter()
{
    if (matrixLoading.exchange (1) == 1)
    {
        log ("Cannot load new matrix. Filter change in progress.");
        return Claim::refused;
    }
    using Clock = std::chrono::steady_clock;
    std::int64_t lastSamples = samplesProcessed.load();
    auto lastProgress = Clock::now();
    for (;;)
    {
        int pending = 1;
        if (changePending.compare_exchange_strong (pending, 0))
            return Claim::reclaimed;  // the audio thread had not started it: the filter is ours again
        if (changePending.load() == 0 && ! crossfadeRequested.load() && ! inactiveFilter()->threadsStillBusy())
            return Claim::fresh;

        const std::int64_t now = samplesProcessed.load();
        if (now != lastSamples)
        {
            lastSamples = now;
            lastProgress = Clock::now();
        }
        else if (Clock::now() - lastProgress > std::chrono::milliseconds (stalledAudioTimeoutMs))
        {
            matrixLoading.exchange (0);
            log ("Cannot load new matrix. Filter change in progress.");
            return Claim::refused;
        }
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
}

int Convolver::setFilterMatrix (const juce::String& path, int inputs, int outputs)
{
    const std::int64_t t0 = samplesProcessed.load();
    if (filters == nullptr)
        return 0;
    const Claim claim = claimInactiveFilter();
    if (claim == Claim::refused)
        return -1;

    FilterMT& target = *inactiveFilter();
    const juce::String previousPath = target.filePath;
    unsigned long length = 0;
    try
    {
        length = target.loadFromFile (path, inputs, outputs);
        if (length != 0)
            target.alignAndStoreDFTs (1.0f);
    }
    catch (const std::bad_alloc&)
    {
        log ("Not enough memory to load " + path + ".");
        length = 0;
    }
    if (length == 0)
    {
        if (claim == Claim::reclaimed)
        {
            // The refused file never touched the matrix that was waiting: let it go ahead.
            target.filePath = previousPath;
            changePending.exchange (1);
        }
        matrixLoading.exchange (0);
        return 0;
    }

    log ("matrix loaded in " + juce::String (samplesProcessed.load() - t0) + "/1024 blocks from " + juce::String (t0)
         + " sample");
    requestChange();
    return target.id;
}

FilterMT* Convolver::beginCellEdit()
{
    const Claim claim = claimInactiveFilter();
    if (claim == Claim::refused)
        return nullptr;
    FilterMT* target = inactiveFilter();
    // A change the audio thread had not started already holds the earlier edits: build on it.
    if (claim == Claim::fresh)
    {
        activeFilter()->irMatrix.copyTimeDomainDataTo (target->irMatrix, nullptr);
        target->filePath = activeFilter()->filePath;
    }
    return target;
}

IrSpectrum* Convolver::finishCellEdit (FilterMT& target, IrSpectrum* cell)
{
    try
    {
        target.irMatrix.findMaxMin();
        target.alignAndStoreDFTs (1.0f);
    }
    catch (const std::bad_alloc&)
    {
        log ("Not enough memory to transform the matrix.");
        matrixLoading.exchange (0);
        return nullptr;
    }
    requestChange();
    return cell;
}

void Convolver::requestChange()
{
    changePending.exchange (1);
    matrixLoading.exchange (0);
}

IrSpectrum* Convolver::loadFilterMatrixItem (const juce::String& path, int row, int column)
{
    if (filters == nullptr)
        return nullptr;
    FilterMT& target = *inactiveFilter();
    if (row < 0 || column < 0 || row >= target.irMatrix.rows || column >= target.irMatrix.cols)
        return nullptr;

    SoundFile file (path, SFM_READ);
    juce::String problem;
    if (file.getFP() == nullptr)
        problem = "Cannot open " + path + ": " + juce::String::fromUTF8 (file.errorText);
    else if (! file.isMono())
        problem = path + " has " + juce::String (file.info.channels) + " channels; a cell takes a mono file.";
    else if (juce::String why; ! file.readAllChecked (why))
        problem = path + ": " + why;
    if (problem.isNotEmpty())
    {
        log (problem);
        return nullptr;
    }

    FilterMT* editTarget = beginCellEdit();
    if (editTarget == nullptr)
        return nullptr;
    IrSpectrum* cell = editTarget->irMatrix.cell (row, column);
    cell->set (file);
    return finishCellEdit (*editTarget, cell);
}

IrSpectrum* Convolver::copyFilterMatrixItem (int srcRow, int srcColumn, int dstRow, int dstColumn)
{
    if (filters == nullptr)
        return nullptr;
    const SquareArrayOfIrSpectrum& shape = inactiveFilter()->irMatrix;
    auto inside = [&shape] (int r, int c) { return r >= 0 && c >= 0 && r < shape.rows && c < shape.cols; };
    if (! inside (srcRow, srcColumn) || ! inside (dstRow, dstColumn))
        return nullptr;
    FilterMT* target = beginCellEdit();
    if (target == nullptr)
        return nullptr;
    IrSpectrum* destination = target->irMatrix.cell (dstRow, dstColumn);
    destination->set (*target->irMatrix.cell (srcRow, srcColumn));
    return finishCellEdit (*target, destination);
}

FilterMT* Convolver::filterWithID (int filterId)
{
    if (filters == nullptr)
        return nullptr;
    for (int i = 0; i < 2; ++i)
        if (filters[i].id == filterId)
            return &filters[i];
    return activeFilter();
}

const FilterMT* Convolver::filterWithID (int filterId) const
{
    return const_cast<Convolver*> (this)->filterWithID (filterId);
}

void Convolver::drainLog()
{
    LogQueue::Entry e;
    while (logQueue.pop (e))
    {
        juce::String line;
        switch (e.event)
        {
            case LogQueue::Event::workersStillBusy:
                line = "BAD! Still " + juce::String (e.value) + " thread(s) working...";
                break;
            case LogQueue::Event::overrun:
                line = "Audio call overrun: a block of " + juce::String (e.value)
                       + " samples arrived while the previous one was still being processed.";
                break;
            case LogQueue::Event::blockTooLong:
                line = "Host block of " + juce::String (e.value) + " samples is longer than half the FFT size ("
                       + juce::String (e.limit) + "); output muted.";
                break;
            case LogQueue::Event::workersTimedOut:
                line = "Filter " + juce::String (e.filterId) + ": workers did not finish within a second; block of "
                       + juce::String (e.value) + " samples muted.";
                break;
        }
        log (line);
    }
    if (const auto lost = logQueue.takeDropped())
        log (juce::String ((juce::int64) lost) + " audio-path log event(s) dropped.");
}
} // namespace PM
