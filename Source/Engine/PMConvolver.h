#pragma once

// The engine's facade: a pair of filters sharing one input buffer. A new or edited matrix is
// built in the inactive filter on the message thread and marked pending; the audio thread runs
// the incoming filter beside the active one until its output holds the full convolution, swaps
// the two, and crossfades over one block. Also carries the audio path's status code, the mute
// counter and the output gain.
//
// Threads: process/prepareForSwap/swap on the audio thread; create/update/destroy on the message
// thread with audio suspended; matrix loads and cell edits on the message thread while audio
// runs (they wait for a change in progress to finish, and are refused if audio has stalled).

#include "PMFilterMT.h"
#include "PMLogQueue.h"
#include "PMPropertiesBase.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace PM
{
class Convolver
{
public:
    static constexpr int statusOverrun = 0x5001;
    static constexpr int statusBlockTooLong = 0x5002;
    static constexpr int statusBadSampleRate = 0x5003;

    static std::atomic<int> ms_filterIdCounter;

    std::unique_ptr<FilterMT[]> filters;
    std::atomic<std::size_t> activeIndex { 0 };
    std::atomic<bool> processing { false };
    std::atomic<int> matrixLoading { 0 };
    /** 0 idle, 1 a new matrix waits in the inactive filter, 2 the audio thread is carrying it out. */
    std::atomic<int> changePending { 0 };
    std::atomic<bool> swapPrepared { false };
    std::atomic<int> mutedSamples { 0 };
    std::atomic<int> status { 0 };
    std::atomic<bool> crossfadeReady { false };
    std::atomic<bool> crossfadeRequested { false };
    std::atomic<std::int64_t> samplesProcessed { 0 };
    InputDataBuffer input;
    LogQueue logQueue;
    /** Samples of the crossfade already played (audio thread). */
    std::uint64_t fadePosition = 0;

    Convolver();
    virtual ~Convolver();
    Convolver (const Convolver&) = delete;

    void setLogger (std::shared_ptr<juce::Logger> newLogger);
    std::shared_ptr<juce::Logger> getLogger() const;

    void create (const PropertiesBase& properties);
    /** create() that carries the newest matrix (the one waiting to be faded in, if a change is
        under way) over into the new active filter, transformed for the new FFT size. Message
        thread, audio suspended. */
    void recreateKeepingMatrix (const PropertiesBase& properties);
    void update (const PropertiesBase& properties);
    void destroy();

    /** One host block, audio thread. Channels beyond numIn are silent inputs; only numOut
        outputs are written. */
    void process (const float** inputs, int numIn, float** outputs, int numOut, unsigned long n) noexcept;

    void setGain (float linearGain) noexcept;
    void setMutedSamplesCounter (int samples) noexcept;

    /** Loads a whole matrix file into the inactive filter and requests the change. Returns the
        filter's id, 0 when the file cannot be loaded, -1 when refused (a change in progress). */
    int setFilterMatrix (const juce::String& path, int inputs, int outputs);
    /** Loads one mono file into cell (row, column) of the next matrix; null on failure. */
    IrSpectrum* loadFilterMatrixItem (const juce::String& path, int row, int column);
    IrSpectrum* loadFilterMatrixItem (const juce::String& path, const Cell& cell)
    {
        return loadFilterMatrixItem (path, cell.row, cell.column);
    }
    /** The destination cell takes the source cell's impulse response; null when refused. */
    IrSpectrum* copyFilterMatrixItem (int srcRow, int srcColumn, int dstRow, int dstColumn);
    IrSpectrum* copyFilterMatrixItem (const Cell& src, const Cell& dst)
    {
        return copyFilterMatrixItem (src.row, src.column, dst.row, dst.column);
    }

    FilterMT* filterWithID (int filterId);
    const FilterMT* filterWithID (int filterId) const;
    FilterMT* activeFilter() const noexcept { return filters ? &filters[activeIndex.load()] : nullptr; }
    FilterMT* inactiveFilter() const noexcept { return filters ? &filters[activeIndex.load() ^ 1] : nullptr; }

    void prepareForSwap() noexcept;
    void swap() noexcept;
    virtual bool checkSampleRate (int) { return true; }

    /** True while a matrix change is pending or being carried out. */
    bool changeInProgress() const noexcept;
    /** True while any worker of either filter is still on its last job. */
    bool workersBusy() const noexcept;
    /** Offline drivers only (never the audio thread): sleeps in steps of pollMicroseconds until
        no worker is busy, so that process() finds the previous partition done without spinning. */
    void waitForWorkersIdle (int pollMicroseconds = 20) const;
    /** Writes the queued audio-path events to the log (done by the drain thread every 100 ms). */
    void drainLog();
    void log (const juce::String& line) const;

    /** How long a load or edit waits for audio to move on before it refuses (ms). */
    int stalledAudioTimeoutMs = 500;

private:
    enum class Claim { fresh, reclaimed, refused };
    /** Takes the inactive filter for the message thread: waits while a change is carried out,
        takes back a change the audio thread has not started, refuses when audio has stalled. */
    Claim claimInactiveFilter();
    /** Claims the inactive filter for a cell edit and gives it the matrix to edit; null if refused. */
    FilterMT* beginCellEdit();
    IrSpectrum* finishCellEdit (FilterMT& target, IrSpectrum* cell);
    /** Marks the (claimed, complete) inactive filter as the next matrix and releases the claim. */
    void requestChange();

    class LogDrain;
    std::unique_ptr<LogDrain> drain;
    mutable std::mutex loggerMutex;
    std::shared_ptr<juce::Logger> logger;
};
} // namespace PM
