#include "PMPropertiesBase.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace PM
{
namespace
{
int currentValue (const juce::RangedAudioParameter* p)
{
    return p != nullptr ? juce::roundToInt (p->convertFrom0to1 (p->getValue())) : 0;
}
} // namespace

int PropertiesBase::inputs() const
{
    return currentValue (inputsParameter);
}

int PropertiesBase::outputs() const
{
    return currentValue (outputsParameter);
}

int PropertiesBase::fftSize() const
{
    if (auto* choice = dynamic_cast<juce::AudioParameterChoice*> (fftSizeParameter))
        return choice->getCurrentChoiceName().getIntValue();
    return minimumFftSize;
}

bool PropertiesBase::setFftSize (int size)
{
    if (size < minimumFftSize || minimumFftSize <= 0)
        return false;
    int k = 0;
    long long s = minimumFftSize;
    while (s < size)
    {
        s *= 2;
        ++k;
    }
    if (s != size)
        return false;
    if (auto* choice = dynamic_cast<juce::AudioParameterChoice*> (fftSizeParameter))
    {
        if (k >= choice->choices.size())
            return false;
        if (k != choice->getIndex())
            *choice = k;
    }
    return true;
}

int PropertiesBase::roundUpToPowerOfTwo (int n) noexcept
{
    int p = 1;
    while (p < n && p < (1 << 30))
        p <<= 1;
    return p;
}

int PropertiesBase::engineInputs() const
{
    return juce::jlimit (1, 64, inputs());
}

int PropertiesBase::engineOutputs() const
{
    return juce::jlimit (1, 64, activeOutputs());
}

int PropertiesBase::engineFftSize() const
{
    int block = samplesPerBlock();
    if (block <= 0)
        block = 512;
    const int requested = zeroLatency() ? 2 * block : fftSize();
    return juce::jlimit (64, 1 << 20, roundUpToPowerOfTwo (requested));
}
} // namespace PM
