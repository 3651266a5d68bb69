#pragma once

// The one view of the configuration that the engine reads: channel counts, FFT size, host block
// length, sample rate, matrix mode and the zero-latency switch. The plug-in implements it on its
// parameters; tools and tests use FixedProperties. Read on the message (control) thread only.

namespace juce
{
class RangedAudioParameter;
}

namespace PM
{
class PropertiesBase
{
public:
    virtual ~PropertiesBase() = default;

    virtual int inputs() const;
    virtual int outputs() const;
    /** The label of the FFT-size choice, read as a decimal integer. */
    virtual int fftSize() const;
    virtual int activeOutputs() const { return outputs(); }
    /** Host block length; 0 when the host has not announced one (the engine then uses 512). */
    virtual int samplesPerBlock() const = 0;
    virtual int sampleRate() const = 0;
    /** 0 Mono, 1 Multi, 2 One-to-One. */
    virtual int mode() const = 0;
    virtual bool zeroLatency() const = 0;
    /** Selects the FFT-size choice for size (minimum x 2^k); false when size is not on the list. */
    virtual bool setFftSize (int size);

    /** The FFT size the engine builds for this configuration: 2 x the block in zero-latency
        mode, else fftSize(); rounded up to a power of two between 64 and 2^20. */
    int engineFftSize() const;
    /** The channel counts the engine builds for: inputs() and activeOutputs() within 1 .. 64. */
    int engineInputs() const;
    int engineOutputs() const;
    static int roundUpToPowerOfTwo (int n) noexcept;

protected:
    int minimumFftSize = 1024;
    juce::RangedAudioParameter* inputsParameter = nullptr;
    juce::RangedAudioParameter* outputsParameter = nullptr;
    juce::RangedAudioParameter* modeParameter = nullptr;
    juce::RangedAudioParameter* fftSizeParameter = nullptr;
    juce::RangedAudioParameter* zeroLatencyParameter = nullptr;
    juce::RangedAudioParameter* outputGainParameter = nullptr;
};

/** A configuration held in plain values, for the tools, the benchmark and the tests. */
class FixedProperties : public PropertiesBase
{
public:
    int numInputs = 2;
    int numOutputs = 2;
    int fft = 1024;
    int blockLength = 512;
    int rate = 48000;
    int matrixMode = 1;
    bool zeroLatencyOn = false;

    int inputs() const override { return numInputs; }
    int outputs() const override { return numOutputs; }
    int fftSize() const override { return fft; }
    int samplesPerBlock() const override { return blockLength; }
    int sampleRate() const override { return rate; }
    int mode() const override { return matrixMode; }
    bool zeroLatency() const override { return zeroLatencyOn; }
    bool setFftSize (int size) override
    {
        if (size < 64 || (size & (size - 1)) != 0)
            return false;
        fft = size;
        return true;
    }
};
} // namespace PM
