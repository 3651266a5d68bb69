#pragma once

// JUCE's integer, choice and boolean parameters with host automation switched off: hosts do
// not offer them for automation; they change from the editor, the processor or a saved state.

#include <juce_audio_processors/juce_audio_processors.h>

namespace PM
{
class NoAutoParameterInt : public juce::AudioParameterInt
{
public:
    using juce::AudioParameterInt::AudioParameterInt;
    ~NoAutoParameterInt() override = default;
    bool isAutomatable() const override { return false; }
    NoAutoParameterInt& operator= (int newValue)
    {
        juce::AudioParameterInt::operator= (newValue);
        return *this;
    }
};

class NoAutoParameterChoice : public juce::AudioParameterChoice
{
public:
    using juce::AudioParameterChoice::AudioParameterChoice;
    ~NoAutoParameterChoice() override = default;
    bool isAutomatable() const override { return false; }
    NoAutoParameterChoice& operator= (int newIndex)
    {
        juce::AudioParameterChoice::operator= (newIndex);
        return *this;
    }
};

class NoAutoParameterBool : public juce::AudioParameterBool
{
public:
    using juce::AudioParameterBool::AudioParameterBool;
    ~NoAutoParameterBool() override = default;
    bool isAutomatable() const override { return false; }
    NoAutoParameterBool& operator= (bool newValue)
    {
        juce::AudioParameterBool::operator= (newValue);
        return *this;
    }
};
} // namespace PM
