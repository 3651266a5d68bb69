#pragma once

// Drives a PMAudioProcessor in-process as a host wrapper would: blocks under the processor's
// callback lock, the message loop pumped between them.

#include "Plugin/PMProcessor.h"
#include "Plugin/PMVersion.h"

#include "MessageLoop.h"

namespace PMTest
{
/** One block through the processor, the way the VST3 wrapper calls it. */
inline void processOne (PMAudioProcessor& p, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    const juce::ScopedLock lock (p.getCallbackLock());
    if (p.isSuspended())
        buffer.clear();
    else
        p.processBlock (buffer, midi);
}

/** Blocks of n samples filled with value on every channel; the message loop runs every 8. */
inline void play (PMAudioProcessor& p, int blocks, int n = 512, float value = 0.0f)
{
    juce::AudioBuffer<float> buffer (64, n);
    for (int b = 0; b < blocks; ++b)
    {
        for (int c = 0; c < 64; ++c)
            juce::FloatVectorOperations::fill (buffer.getWritePointer (c), value, n);
        processOne (p, buffer);
        if (b % 8 == 7)
            pump (1);
    }
}

inline juce::AudioProcessorParameter& param (PMAudioProcessor& p, const char* id)
{
    return *p.properties.state.getParameter (id);
}

inline void setCount (PMAudioProcessor& p, const char* id, int n)
{
    param (p, id).setValueNotifyingHost (float (n - 1) / 63.0f);
}

inline juce::String logText (const PMAudioProcessor& p)
{
    return p.getLogFile().loadFileAsString();
}

inline int occurrences (const juce::String& text, const juce::String& what)
{
    int count = 0;
    for (int i = text.indexOf (what); i >= 0; i = text.indexOf (i + 1, what))
        ++count;
    return count;
}
} // namespace PMTest
