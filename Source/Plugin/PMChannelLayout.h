#pragma once

// The plug-in's 64-channel buses and the order of their channels. A bus of
// AudioChannelSet::discreteChannels (64) reaches VST3 hosts as 63 speakers (two of JUCE's
// discrete channels land on one speaker bit), so each bus is made of 64 channel types that cover
// the 64 VST3 speaker bits one to one. JUCE orders a buffer by channel type, hosts number the
// channels by speaker bit; the two orders differ from channel 20 on, so the processor maps host
// channel n (the n-th speaker bit) to the JUCE buffer channel that carries it.

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>

namespace PM
{
struct ChannelLayout
{
    static constexpr int maxChannels = 64;

    /** The 64-channel set of the Input64 and Output64 buses. */
    static juce::AudioChannelSet sixtyFourChannels();

    /** The VST3 speaker bit JUCE's VST3 wrapper gives a channel type of set; -1 if none. */
    static int speakerBit (const juce::AudioChannelSet& set, juce::AudioChannelSet::ChannelType type);

    /** order[n] = the buffer channel of set that carries host channel n (channels numbered by
        speaker bit, as VST3 hosts number them); the identity beyond the set's size. */
    static std::array<int, maxChannels> hostToBufferOrder (const juce::AudioChannelSet& set);
};
} // namespace PM
