#pragma once

#include <juce_core/juce_core.h>

namespace PM
{
/** Writes one line to a given logger. juce::Logger keeps logMessage protected (it expects the
    process-wide logger), while every instance of this plug-in writes to its own file. */
inline void logLine (juce::Logger* logger, const juce::String& line)
{
    struct Access : juce::Logger
    {
        static void write (juce::Logger& l, const juce::String& s) { (l.*(&Access::logMessage)) (s); }
    };
    if (logger != nullptr)
        Access::write (*logger, line);
}
} // namespace PM
