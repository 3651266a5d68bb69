#pragma once

// One matrix of impulse responses in partitioned form, convolving host blocks with it: uniformly
// partitioned overlap-save with an output-side delay line. Filter holds the data and the
// single-threaded operations; FilterMT (the one concrete filter) adds the worker pool and the
// block processing. create/update/alignAndStoreDFTs/loadFromFile/destroy run on the message
// thread on a filter whose workers are idle; process runs on the audio thread.

#include "PMFftSpec.h"
#include "PMIrBuffers.h"
#include "PMStreamBuffers.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include <atomic>
#include <memory>

namespace PM
{
class Convolver;
class FilterMT;
class PropertiesBase;

class Filter
{
public:
    int id = 1;
    int numInputs = 1;
    int numOutputs = 1;
    int irLength = 1024;
    int fftSize = 2048;
    int halfSize = 1024;
    std::atomic<int> samplesPerBlock { 512 };   // also recorded by the audio thread
    std::atomic<int> mode { 1 };
    int sampleRate = 48000;
    float scale = 1.0f / 2048.0f;
    SquareArrayOfIrSpectrum irMatrix;
    juce::String filePath;
    FftSpec fft;
    InputDataBuffer* input = nullptr;
    OutputDataBuffer output;
    juce::AudioBuffer<float> scratch;
    int numPartitions = 1;
    std::atomic<float> outputGain { 1.0f };
    float workerGain = 1.0f;
    Convolver* convolver = nullptr;
    FilterMT* other = nullptr;
    int changeCountdown = 0;
    std::shared_ptr<juce::Logger> logger;

    Filter() = default;
    virtual ~Filter() = default;
    Filter (const Filter&) = delete;

    virtual void process (const float** inputs, int numIn, float** outputs, int numOut, int n) noexcept = 0;
    /** Aligns and transforms the matrix; rebuilds the output stage when needed. True exactly
        when the partition count changed. */
    virtual bool alignAndStoreDFTs (float gain);
    virtual void update();
    virtual int threadsCount() const { return 1; }
    virtual void create (Convolver* owner, const PropertiesBase& properties, int filterId);
    virtual void destroy();

    /** Loads a whole matrix file into irMatrix (layout by mode); 0 on failure (logged). */
    unsigned long loadFromFile (const juce::String& path, int inputs, int outputs);
    /** True when the configuration would build this filter again as it is. */
    bool isEqual (const PropertiesBase& properties) const;
    void resetFilterChangeCountdown() noexcept;

protected:
    void rebuildOutputStage();
    void log (const juce::String& line) const;
};
} // namespace PM
