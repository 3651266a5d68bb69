// The entry the plug-in wrapper calls for every new instance.

#include "PMProcessor.h"

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new PMAudioProcessor();
}
