#pragma once

// Runs the JUCE message loop for a while from a test. runDispatchLoopUntil exists only with
// modal loops allowed, which the plug-in build switches off; this is its Linux body.

#include <juce_events/juce_events.h>

namespace juce
{
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace PMTest
{
inline void pump (int milliseconds)
{
    const auto end = juce::Time::currentTimeMillis() + milliseconds;
    do
    {
        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (1);
    } while (juce::Time::currentTimeMillis() < end);
}
} // namespace PMTest
