#include "PMVersion.h"

namespace PM
{
namespace
{
juce::String stamp()
{
    const auto now = juce::Time::getCurrentTime();
    return juce::String (now.getYear() - 2013) + "." + juce::String (now.getDayOfYear() + 1);
}
} // namespace

juce::String Version::getShortString()
{
    return "bd. " + stamp();
}

juce::String Version::getLongString()
{
    return "build " + stamp();
}
} // namespace PM
