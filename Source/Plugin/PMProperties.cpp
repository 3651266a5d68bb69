#include "PMProperties.h"

#include "PMCustomParameters.h"

namespace PM
{
namespace
{
int blockOrDefault (int block)
{
    return block > 0 ? block : 512;
}
} // namespace

juce::StringArray Properties::fftSizeChoices (int blockSize)
{
    juce::StringArray choices;
    for (long long size = 2LL * blockOrDefault (blockSize);; size *= 2)
    {
        choices.add (juce::String (size));
        if (size >= 8192)
            break;
    }
    return choices;
}

juce::AudioProcessorValueTreeState::ParameterLayout Properties::createParameters (int blockSize)
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;
    layout.add (std::make_unique<NoAutoParameterInt> (juce::ParameterID { ParameterIds::inputs, 1 }, "Inputs", 1, 64, 2,
                                                      juce::AudioParameterIntAttributes().withLabel ("Ins:")));
    layout.add (std::make_unique<NoAutoParameterInt> (juce::ParameterID { ParameterIds::outputs, 1 }, "Outputs", 1, 64, 2,
                                                      juce::AudioParameterIntAttributes().withLabel ("Outs:")));
    layout.add (std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { ParameterIds::gain, 1 }, "Output Gain",
                                                             juce::NormalisableRange<float> (-24.0f, 24.0f), 0.0f));
    layout.add (std::make_unique<NoAutoParameterChoice> (juce::ParameterID { ParameterIds::fftSize, 1 }, "FFT:",
                                                         fftSizeChoices (blockSize), 0));
    layout.add (std::make_unique<NoAutoParameterChoice> (juce::ParameterID { ParameterIds::mode, 1 }, "Mode",
                                                         juce::StringArray { "Mono", "Multi", "One-to-One" }, 1));
    layout.add (std::make_unique<NoAutoParameterBool> (juce::ParameterID { ParameterIds::zeroLatency, 1 },
                                                       "Enables zero-latency", false));
    layout.add (std::make_unique<NoAutoParameterBool> (juce::ParameterID { ParameterIds::autoreload, 1 },
                                                       "Autoreload current matrix", false));
    return layout;
}

Properties::Properties (juce::AudioProcessor& processor)
    : blockSizeAtConstruction (processor.getBlockSize()),
      state (processor, nullptr, "PARAMETERS", createParameters (blockSizeAtConstruction))
{
    minimumFftSize = 2 * blockOrDefault (blockSizeAtConstruction);
    inputsParameter = state.getParameter (ParameterIds::inputs);
    outputsParameter = state.getParameter (ParameterIds::outputs);
    outputGainParameter = state.getParameter (ParameterIds::gain);
    fftSizeParameter = state.getParameter (ParameterIds::fftSize);
    modeParameter = state.getParameter (ParameterIds::mode);
    zeroLatencyParameter = state.getParameter (ParameterIds::zeroLatency);
    autoreloadParameter = state.getParameter (ParameterIds::autoreload);
}

int Properties::samplesPerBlock() const
{
    const int block = state.state.getProperty (PropertyIds::samplesPerBlock, 512);
    return block;
}

int Properties::sampleRate() const
{
    const double rate = state.state.getProperty (PropertyIds::sampleRate, 48000.0);
    return std::isfinite (rate) ? (int) rate : 0;
}

int Properties::mode() const
{
    return juce::roundToInt (modeParameter->convertFrom0to1 (modeParameter->getValue()));
}

bool Properties::zeroLatency() const
{
    return zeroLatencyParameter->getValue() >= 0.5f;
}

float Properties::outputGainDb() const
{
    return outputGainParameter->convertFrom0to1 (outputGainParameter->getValue());
}

bool Properties::autoreloadOn() const
{
    return autoreloadParameter->getValue() >= 0.5f;
}

void Properties::setSamplesPerBlock (int samples)
{
    state.state.setProperty (PropertyIds::samplesPerBlock, samples, nullptr);
}

void Properties::setSampleRate (float rate)
{
    state.state.setProperty (PropertyIds::sampleRate, rate, nullptr);
}

namespace
{
const juce::Identifier* lastPathSlot (int forMode)
{
    switch (forMode)
    {
        case modeMono: return &PropertyIds::monoLastPath;
        case modeMulti: return &PropertyIds::multiLastPath;
        case modeOneToOne: return &PropertyIds::oneToOneLastPath;
        default: return nullptr;
    }
}
} // namespace

juce::String Properties::lastSelectedPath() const
{
    const auto* slot = lastPathSlot (mode());
    return slot != nullptr ? state.state.getProperty (*slot, juce::String()).toString() : juce::String();
}

void Properties::setLastSelectedPath (int forMode, const juce::String& path)
{
    if (const auto* slot = lastPathSlot (forMode))
        state.state.setProperty (*slot, path, nullptr);
}

juce::String Properties::lastDirectory() const
{
    const auto path = lastSelectedPath();
    const int cut = path.lastIndexOfChar (juce::File::getSeparatorChar());
    return cut >= 0 ? path.substring (0, cut) : path;
}

std::pair<int, int> Properties::guiSize() const
{
    const int packed = state.state.getProperty (PropertyIds::guiSize, 67109714);
    return { packed >> 16, packed & 0xFFFF };
}

int Properties::filterAutoreloadPeriod() const
{
    const int period = state.state.getProperty (PropertyIds::filterAutoreloadPeriod, 1000);
    // A period from a damaged state must not make the watcher spin or sleep for ever.
    return juce::isPositiveAndBelow (period, 3600001) && period >= 10 ? period : 1000;
}

void Properties::setFilterAutoreloadPeriod (int milliseconds)
{
    state.state.setProperty (PropertyIds::filterAutoreloadPeriod, milliseconds, nullptr);
}

juce::StringArray Properties::dropDownList() const
{
    const auto text = state.state.getProperty (PropertyIds::dropDownList, juce::String()).toString();
    if (text.isEmpty())
        return {};
    return juce::StringArray::fromLines (text);
}

void Properties::setDropDownList (const juce::StringArray& list)
{
    juce::String text;
    if (arrayToString (list, text) > 0)
        state.state.setProperty (PropertyIds::dropDownList, text, nullptr);
}

void Properties::removeFromDropDownList (const juce::String& entry)
{
    auto list = dropDownList();
    if (list.isEmpty())
        return;
    list.removeString (entry, false);
    juce::String text;
    arrayToString (list, text);
    state.state.setProperty (PropertyIds::dropDownList, text, nullptr);
}

int Properties::arrayToString (const juce::StringArray& list, juce::String& out)
{
    out = {};
    if (list.size() < 2)
        return 0;
    out = list.joinIntoString ("\n");
    return list.size() - 1;
}

juce::ValueTree Properties::sanitisedState (const juce::ValueTree& restored) const
{
    juce::ValueTree tree = restored.createCopy();
    for (int i = tree.getNumChildren(); --i >= 0;)
    {
        auto child = tree.getChild (i);
        if (! child.hasType ("PARAM"))
            continue;
        const auto& value = child.getProperty ("value");
        const double v = value;
        if (! child.hasProperty ("value") || ! std::isfinite (v)
            || (value.isString() && ! value.toString().trim().containsOnly ("0123456789+-.eE")))
            tree.removeChild (i, nullptr);
    }
    for (const auto* id : { &PropertyIds::samplesPerBlock, &PropertyIds::sampleRate })
    {
        if (state.state.hasProperty (*id))
            tree.setProperty (*id, state.state.getProperty (*id), nullptr);
        else
            tree.removeProperty (*id, nullptr);
    }
    return tree;
}
} // namespace PM
