#include "PMChannelLayout.h"

#include <algorithm>
#include <vector>

namespace PM
{
namespace
{
using CS = juce::AudioChannelSet;

// Channel types in the order of the VST3 speaker bits they stand for (bit 0 first), as JUCE's
// VST3 wrapper translates them. Bits 50 to 63 have no named speaker; the wrapper gives them to
// the discrete channel types from discreteChannel0 + 23 on.
const CS::ChannelType namedSpeakers[] = {
    CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurround, CS::rightSurround, CS::leftCentre,
    CS::rightCentre, CS::centreSurround, CS::leftSurroundSide, CS::rightSurroundSide, CS::topMiddle,
    CS::topFrontLeft, CS::topFrontCentre, CS::topFrontRight, CS::topRearLeft, CS::topRearCentre,
    CS::topRearRight, CS::LFE2, CS::discreteChannel0, CS::ambisonicACN0, CS::ambisonicACN1, CS::ambisonicACN2,
    CS::ambisonicACN3, CS::topSideLeft, CS::topSideRight, CS::leftSurroundRear, CS::rightSurroundRear,
    CS::bottomFrontLeft, CS::bottomFrontCentre, CS::bottomFrontRight, CS::proximityLeft, CS::proximityRight,
    CS::bottomSideLeft, CS::bottomSideRight, CS::bottomRearLeft, CS::bottomRearCentre, CS::bottomRearRight,
    CS::ambisonicACN4, CS::ambisonicACN5, CS::ambisonicACN6, CS::ambisonicACN7, CS::ambisonicACN8,
    CS::ambisonicACN9, CS::ambisonicACN10, CS::ambisonicACN11, CS::ambisonicACN12, CS::ambisonicACN13,
    CS::ambisonicACN14, CS::ambisonicACN15,
};
constexpr int firstUnnamedBit = 50;

// Layouts the wrapper translates by a fixed table instead of by speaker bit: their channel types
// listed in the host's order.
const std::initializer_list<CS::ChannelType> tableLayouts[] = {
    { CS::left, CS::right, CS::centre },
    { CS::left, CS::right, CS::surround },
    { CS::left, CS::right, CS::centre, CS::surround },
    { CS::left, CS::right, CS::centre, CS::leftSurround, CS::rightSurround },
    { CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurround, CS::rightSurround },
    { CS::left, CS::right, CS::centre, CS::leftSurround, CS::rightSurround, CS::centreSurround },
    { CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurround, CS::rightSurround, CS::centreSurround },
    { CS::left, CS::right, CS::leftSurround, CS::rightSurround, CS::leftSurroundSide, CS::rightSurroundSide },
    { CS::left, CS::right, CS::LFE, CS::leftSurround, CS::rightSurround, CS::leftSurroundSide, CS::rightSurroundSide },
    { CS::left, CS::right, CS::centre, CS::leftSurroundRear, CS::rightSurroundRear, CS::leftSurroundSide, CS::rightSurroundSide },
    { CS::left, CS::right, CS::centre, CS::leftSurround, CS::rightSurround, CS::leftCentre, CS::rightCentre },
    { CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurroundRear, CS::rightSurroundRear, CS::leftSurroundSide, CS::rightSurroundSide },
    { CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurround, CS::rightSurround, CS::leftCentre, CS::rightCentre },
    { CS::left, CS::right, CS::leftSurround, CS::rightSurround },
    { CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurround, CS::rightSurround, CS::topFrontLeft, CS::topFrontRight, CS::topRearLeft, CS::topRearRight },
    { CS::left, CS::right, CS::centre, CS::leftSurround, CS::rightSurround, CS::topFrontLeft, CS::topFrontRight, CS::topRearLeft, CS::topRearRight },
    { CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurroundRear, CS::rightSurroundRear, CS::leftSurroundSide, CS::rightSurroundSide, CS::topSideLeft, CS::topSideRight },
    { CS::left, CS::right, CS::centre, CS::leftSurroundRear, CS::rightSurroundRear, CS::leftSurroundSide, CS::rightSurroundSide, CS::topSideLeft, CS::topSideRight },
    { CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurroundRear, CS::rightSurroundRear, CS::leftSurroundSide, CS::rightSurroundSide, CS::topFrontLeft, CS::topFrontRight, CS::topRearLeft, CS::topRearRight },
    { CS::left, CS::right, CS::centre, CS::leftSurroundRear, CS::rightSurroundRear, CS::leftSurroundSide, CS::rightSurroundSide, CS::topFrontLeft, CS::topFrontRight, CS::topRearLeft, CS::topRearRight },
    { CS::left, CS::right, CS::centre, CS::LFE, CS::leftSurroundRear, CS::rightSurroundRear, CS::leftSurroundSide, CS::rightSurroundSide, CS::topFrontLeft, CS::topFrontRight, CS::topRearLeft, CS::topRearRight, CS::topSideLeft, CS::topSideRight },
    { CS::left, CS::right, CS::centre, CS::leftSurroundRear, CS::rightSurroundRear, CS::leftSurroundSide, CS::rightSurroundSide, CS::topFrontLeft, CS::topFrontRight, CS::topRearLeft, CS::topRearRight, CS::topSideLeft, CS::topSideRight },
    { CS::wideLeft, CS::wideRight, CS::centre, CS::LFE, CS::leftSurroundRear, CS::rightSurroundRear, CS::left, CS::right, CS::leftSurroundSide, CS::rightSurroundSide, CS::topFrontLeft, CS::topFrontRight, CS::topRearLeft, CS::topRearRight, CS::topSideLeft, CS::topSideRight },
    { CS::wideLeft, CS::wideRight, CS::centre, CS::leftSurroundRear, CS::rightSurroundRear, CS::left, CS::right, CS::leftSurroundSide, CS::rightSurroundSide, CS::topFrontLeft, CS::topFrontRight, CS::topRearLeft, CS::topRearRight, CS::topSideLeft, CS::topSideRight },
};
constexpr int unnamedBitOffset = 33;  // wrapper: bit = (type - discreteChannel0 - 6) + 33
} // namespace

juce::AudioChannelSet ChannelLayout::sixtyFourChannels()
{
    juce::Array<CS::ChannelType> types;
    for (const auto t : namedSpeakers)
        types.add (t);
    for (int bit = firstUnnamedBit; bit < maxChannels; ++bit)
        types.add ((CS::ChannelType) ((int) CS::discreteChannel0 + 6 + bit - unnamedBitOffset));
    return CS::channelSetWithChannels (types);
}

int ChannelLayout::speakerBit (const juce::AudioChannelSet& set, juce::AudioChannelSet::ChannelType type)
{
    // A lone centre channel is the mono speaker.
    if (type == CS::centre && set == CS::mono())
        return 19;
    for (int bit = 0; bit < firstUnnamedBit; ++bit)
        if (namedSpeakers[bit] == type)
            return bit;
    const int bit = (int) type - (int) CS::discreteChannel0 - 6 + unnamedBitOffset;
    return bit >= firstUnnamedBit && bit < maxChannels ? bit : -1;
}

std::array<int, ChannelLayout::maxChannels> ChannelLayout::hostToBufferOrder (const juce::AudioChannelSet& set)
{
    std::array<int, maxChannels> order {};
    for (int n = 0; n < maxChannels; ++n)
        order[(size_t) n] = n;
    for (const auto& table : tableLayouts)
    {
        if (CS::channelSetWithChannels (table) != set)
            continue;
        int n = 0;
        for (const auto type : table)
            order[(size_t) n++] = set.getChannelIndexForType (type);
        return order;
    }
    const auto types = set.getChannelTypes();
    std::vector<std::pair<int, int>> byBit;  // (speaker bit, buffer channel)
    for (int j = 0; j < types.size() && j < maxChannels; ++j)
    {
        const int bit = speakerBit (set, types[j]);
        if (bit < 0)
            return order;  // a type the wrapper does not place by bit: keep the buffer's order
        byBit.emplace_back (bit, j);
    }
    std::sort (byBit.begin(), byBit.end());
    for (size_t n = 0; n < byBit.size(); ++n)
        order[n] = byBit[n].second;
    return order;
}
} // namespace PM
