#include "PluginHarness.h"

#include <gtest/gtest.h>

using namespace PMTest;

TEST (Properties, FreshInstanceDefaults)
{
    PMAudioProcessor p;
    auto& props = p.properties;
    auto* fft = dynamic_cast<juce::AudioParameterChoice*> (props.state.getParameter ("FFTSIZE"));
    ASSERT_NE (fft, nullptr);
    EXPECT_EQ (fft->choices, juce::StringArray ({ "1024", "2048", "4096", "8192" }));
    EXPECT_EQ (fft->getIndex(), 0);
    EXPECT_EQ (props.minimumFft(), 1024);
    EXPECT_EQ (props.fftSize(), 1024);
    EXPECT_EQ (props.mode(), 1);
    EXPECT_EQ (props.lastSelectedPath(), juce::String());
    EXPECT_EQ (props.guiSize(), std::make_pair (1024, 850));
    EXPECT_EQ (props.samplesPerBlock(), 512);
    EXPECT_EQ (props.filterAutoreloadPeriod(), 1000);
    EXPECT_EQ (props.sampleRate(), 0);  // the host has not prepared the processor yet
    EXPECT_EQ (props.inputs(), 2);
    EXPECT_EQ (props.outputs(), 2);
    EXPECT_FALSE (props.zeroLatency());

    EXPECT_EQ (p.getName(), "pelmarkmt");
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getProgramName (0), juce::String());
    EXPECT_EQ (p.getLatencySamples(), 512);
}

TEST (Properties, FftSizeSelectionIsTheInverseOfTheChoiceList)
{
    PMAudioProcessor p;
    auto& props = p.properties;
    struct Case { int size; bool accepted; int index; };
    for (const Case c : { Case { 1024, true, 0 }, Case { 8192, true, 3 }, Case { 512, false, 3 }, Case { 3000, false, 3 },
                          Case { 16384, false, 3 }, Case { 2048, true, 1 } })
    {
        EXPECT_EQ (props.setFftSize (c.size), c.accepted) << c.size;
        EXPECT_EQ (dynamic_cast<juce::AudioParameterChoice*> (props.state.getParameter ("FFTSIZE"))->getIndex(), c.index) << c.size;
    }
    EXPECT_EQ (props.fftSize(), 2048);
    setCount (p, "OUTS", 7);
    EXPECT_EQ (props.activeOutputs(), 7);
    param (p, "ZeroLatency").setValueNotifyingHost (1.0f);
    EXPECT_TRUE (props.zeroLatency());
}

TEST (Properties, PathsListsAndTheirEncoding)
{
    PMAudioProcessor p;
    auto& props = p.properties;
    props.setLastSelectedPath (1, "/data/rooms/hall.wav");
    EXPECT_EQ (props.lastSelectedPath(), "/data/rooms/hall.wav");
    EXPECT_EQ (props.lastDirectory(), "/data/rooms");
    props.setLastSelectedPath (3, "/nowhere.wav");
    props.setLastSelectedPath (0, "/mono.wav");
    EXPECT_EQ (props.lastSelectedPath(), "/data/rooms/hall.wav");

    juce::String text;
    EXPECT_EQ (PM::Properties::arrayToString ({}, text), 0);
    EXPECT_EQ (PM::Properties::arrayToString ({ "one" }, text), 0);
    EXPECT_EQ (text, juce::String());
    EXPECT_EQ (PM::Properties::arrayToString ({ "one", "two", "three" }, text), 2);
    EXPECT_EQ (text, "one\ntwo\nthree");

    props.setDropDownList ({ "only" });
    EXPECT_TRUE (props.dropDownList().isEmpty());
    props.setDropDownList ({ "one", "two", "three" });
    EXPECT_EQ (props.dropDownList(), juce::StringArray ({ "one", "two", "three" }));
    props.removeFromDropDownList ("two");
    props.removeFromDropDownList ("three");
    EXPECT_TRUE (props.dropDownList().isEmpty());  // one entry left encodes as empty

    props.setFilterAutoreloadPeriod (250);
    EXPECT_EQ (props.filterAutoreloadPeriod(), 250);
    props.setFilterAutoreloadPeriod (-3);
    EXPECT_EQ (props.filterAutoreloadPeriod(), 1000);
}

TEST (Properties, VersionText)
{
    const auto now = juce::Time::getCurrentTime();
    const juce::String expected = juce::String (now.getYear() - 2013) + "." + juce::String (now.getDayOfYear() + 1);
    EXPECT_EQ (PM::Version::getShortString(), "bd. " + expected);
    EXPECT_EQ (PM::Version::getLongString(), "build " + expected);
}
