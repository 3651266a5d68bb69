#pragma once

// The plug-in's whole configuration: the seven host parameters, the persistent properties kept
// as attributes of the parameter tree "PARAMETERS" (saved with the host's project), and the
// engine configuration read by the convolver. Message thread only; the audio thread reads just
// parameter values (INS, OUTS, WGAIN), which JUCE keeps as atomics.

#include "Engine/PMPropertiesBase.h"
#include "PMDefs.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace PM
{
class Properties : public PropertiesBase
{
    const int blockSizeAtConstruction;  // initialised before the state that uses it

public:
    /** Builds the parameters and the state on processor; call inside its constructor. */
    explicit Properties (juce::AudioProcessor& processor);
    ~Properties() override = default;

    int samplesPerBlock() const override;
    int sampleRate() const override;
    int mode() const override;
    bool zeroLatency() const override;

    void setSamplesPerBlock (int samples);
    void setSampleRate (float rate);
    juce::String lastSelectedPath() const;
    void setLastSelectedPath (int forMode, const juce::String& path);
    juce::String lastDirectory() const;
    std::pair<int, int> guiSize() const;
    int filterAutoreloadPeriod() const;
    void setFilterAutoreloadPeriod (int milliseconds);
    juce::StringArray dropDownList() const;
    void setDropDownList (const juce::StringArray& list);
    void removeFromDropDownList (const juce::String& entry);
    /** Entries joined by line feeds; returns the number of separators. Lists of fewer than two
        entries encode as the empty text. */
    static int arrayToString (const juce::StringArray& list, juce::String& out);

    /** The minimum FFT size: the size the first FFTSIZE choice stands for. */
    int minimumFft() const { return minimumFftSize; }
    float outputGainDb() const;
    bool autoreloadOn() const;

    juce::AudioProcessorValueTreeState state;
    juce::RangedAudioParameter* autoreloadParameter = nullptr;

    /** A saved state made safe to apply: parameter values that are not finite numbers are
        dropped (the parameter keeps its value) and the host's run-time facts (block length,
        sample rate) stay as the host set them, not as the project remembered them. */
    juce::ValueTree sanitisedState (const juce::ValueTree& restored) const;

private:
    static juce::StringArray fftSizeChoices (int blockSize);
    static juce::AudioProcessorValueTreeState::ParameterLayout createParameters (int blockSize);
};
} // namespace PM
