// main() for the plug-in tests: a JUCE message manager for the whole run (the processor's timer,
// messages and JUCE's plug-in hosting need one), and logs written to a temporary folder.

#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main (int argc, char** argv)
{
    const auto logs = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("pmlogs", "");
    logs.createDirectory();
    setenv ("HOME", logs.getFullPathName().toRawUTF8(), 1);  // JUCE puts logs under ~/.config
    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        ::testing::InitGoogleTest (&argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (std::getenv ("PM_KEEP_TEST_LOGS") != nullptr)
        std::printf ("plug-in logs kept in %s\n", logs.getFullPathName().toRawUTF8());
    else
        logs.deleteRecursively();
    return result;
}
