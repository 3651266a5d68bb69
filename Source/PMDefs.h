#pragma once

// Constants shared across the subsystems: product identity and the identifiers of the
// persistent properties kept in the plug-in's state tree.

#include <juce_core/juce_core.h>

namespace PM
{
constexpr const char* productName = "pelmarkmt";
constexpr const char* productVersion = "6.297.0";

namespace PropertyIds
{
inline const juce::Identifier monoLastPath { "MonoLastPath" };
inline const juce::Identifier multiLastPath { "MultiLastPath" };
inline const juce::Identifier oneToOneLastPath { "OneToOneLastPath" };
inline const juce::Identifier dropDownList { "DropDownList" };
inline const juce::Identifier guiSize { "GuiSize" };
inline const juce::Identifier samplesPerBlock { "SamplesPerBlock" };
inline const juce::Identifier sampleRate { "SampleRate" };
inline const juce::Identifier filterAutoreloadPeriod { "FilterAutoreloadPeriod" };
} // namespace PropertyIds

namespace ParameterIds
{
constexpr const char* inputs = "INS";
constexpr const char* outputs = "OUTS";
constexpr const char* gain = "WGAIN";
constexpr const char* fftSize = "FFTSIZE";
constexpr const char* mode = "MODE";
constexpr const char* zeroLatency = "ZeroLatency";
constexpr const char* autoreload = "FilterAutoreload";
} // namespace ParameterIds

/** Matrix modes: the MODE choice index. */
enum MatrixMode
{
    modeMono = 0,
    modeMulti = 1,
    modeOneToOne = 2
};
} // namespace PM
