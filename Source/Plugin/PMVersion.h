#pragma once

#include <juce_core/juce_core.h>

namespace PM
{
/** The build text the editor shows: "bd. " or "build " + (year - 2013) + "." + day of year. */
class Version
{
public:
    static juce::String getShortString();
    static juce::String getLongString();
};
} // namespace PM
