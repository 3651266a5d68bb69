#pragma once

// The object the host creates for each plug-in instance: owns the configuration, the engine,
// the matrix file watcher and the instance's log. processBlock runs on the audio thread and only
// reads parameter values, calls the engine and sets atomics; everything that rebuilds the engine
// or touches files runs on the message thread (parameter changes arriving on another thread are
// handed to the message thread through the processor's 100 ms timer).

#include "Engine/PMConvolver.h"
#include "PMChannelLayout.h"
#include "PMFilterReloader.h"
#include "PMProperties.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>

/** Process-wide editor flags: raised by the processors, read and cleared by the editor. */
extern std::atomic<int> gNeedsGuiUpdate;
extern std::atomic<bool> gUpdateFileInfo;
extern std::atomic<bool> gUpdateMatrixLayout;
extern std::atomic<bool> gUpdateForModeChange;

class PMAudioProcessor : public juce::AudioProcessor,
                         public juce::ChangeBroadcaster,
                         public juce::MessageListener,
                         public juce::AudioProcessorParameter::Listener,
                         public juce::Timer
{
public:
    /** Parameter indices, in the order the parameters are created. */
    enum ParameterIndex
    {
        inputsIndex = 0,
        outputsIndex,
        gainIndex,
        fftSizeIndex,
        modeIndex,
        zeroLatencyIndex,
        autoreloadIndex
    };

    PMAudioProcessor();
    ~PMAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int samplesPerBlock) override;
    void releaseResources() override {}
    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;
    void timerCallback() override;
    void parameterValueChanged (int parameterIndex, float newValue) override;
    void parameterGestureChanged (int, bool) override {}
    void handleMessage (const juce::Message& message) override;
    void numChannelsChanged() override;

    /** Loads a whole matrix file into the engine: the new filter's id, 0 when the file cannot be
        used, -1 when a matrix change in progress refused it. */
    int loadAndParseAudioFile (juce::String path);
    /** Rebuilds the engine for the current configuration with processing suspended, keeping
        the newest matrix if asked (FFT size, zero latency, block length) or not (channel counts). */
    void updateConvolver (bool keepMatrix);
    void updateParameters();
    void startReloader (juce::File& file);
    void stopReloader();

    /** The instance's log file. */
    juce::File getLogFile() const { return logger != nullptr ? logger->getLogFile() : juce::File(); }
    /** The engine status latched by the audio callback (0 when none). */
    int latchedStatus() const { return engineStatus.load(); }

    static std::atomic<int> ms_instanceNumber;

    PM::Properties properties;
    std::atomic<bool> hasProcessed { false };
    std::atomic<bool> isProcessing { false };
    bool reloadPending = false;
    bool zeroLatencyActive = false;
    std::atomic<int> engineStatus { 0 };
    std::atomic<int> requestedFftSize { 0 };
    bool statusSeen = false;
    PM::FilterReloader reloader;
    PM::Convolver convolver;
    std::shared_ptr<juce::FileLogger> logger;

private:
    static BusesProperties buses();
    void react (int parameterIndex);
    void waitWhileProcessing() const;
    void reportLatency();
    void log (const juce::String& line);
    void showAlert (const juce::String& title, const juce::String& text);

    std::atomic<unsigned> deferredReactions { 0 };
    bool statusHandled = false;
    std::array<int, PM::ChannelLayout::maxChannels> inputOrder {};
    std::array<int, PM::ChannelLayout::maxChannels> outputOrder {};
    std::array<const float*, PM::ChannelLayout::maxChannels> inputPointers {};
    std::array<float*, PM::ChannelLayout::maxChannels> outputPointers {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PMAudioProcessor)
};
