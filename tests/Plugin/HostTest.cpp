// The built pelmarkmt.vst3 loaded through JUCE's own VST3 hosting, as a host would load it.

#include "Engine/EngineHarness.h"
#include "MessageLoop.h"

#include <juce_audio_processors/juce_audio_processors.h>
// JUCE's own VST3 channel mapping, as the reference for the order hosts number channels in.
#define JUCE_VST3HEADERS_INCLUDE_HEADERS_ONLY 1
#include <juce_audio_processors/format_types/juce_VST3Headers.h>
#include <juce_audio_processors/utilities/juce_FlagCache.h>
#include <juce_audio_processors/format_types/juce_VST3Common.h>

#include <gtest/gtest.h>

using namespace PMTest;

namespace
{
std::unique_ptr<juce::AudioPluginInstance> loadPlugin (juce::PluginDescription* described = nullptr, double rate = 48000,
                                                       int block = 512)
{
    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, juce::File (PM_BUNDLE_PATH).getFullPathName());
    if (types.isEmpty())
        return nullptr;
    if (described != nullptr)
        *described = *types[0];
    juce::String error;
    auto instance = format.createInstanceFromDescription (*types[0], rate, block, error);
    EXPECT_TRUE (error.isEmpty()) << error;
    return instance;
}


juce::AudioProcessorParameter* parameter (juce::AudioPluginInstance& p, const juce::String& name)
{
    for (auto* q : p.getParameters())
        if (q->getName (64) == name)
            return q;
    return nullptr;
}

/** Normalised value of an integer parameter 1..64. */
float countValue (int n)
{
    return float (n - 1) / 63.0f;
}

/** Runs silent 512-sample blocks (the plug-in's timer runs between them). */
void runSilence (juce::AudioPluginInstance& p, int blocks)
{
    juce::AudioBuffer<float> buffer (64, 512);
    juce::MidiBuffer midi;
    for (int b = 0; b < blocks; ++b)
    {
        buffer.clear();
        p.processBlock (buffer, midi);
        if (b % 8 == 0)
            pump (1);
    }
}

/** A state of p with changes applied to the plug-in's own XML. The host keeps the plug-in's
    state (JUCE's binary XML, possibly followed by the wrapper's private data) in base64 inside
    its IComponent element; the edit is made there. */
juce::MemoryBlock editedState (juce::AudioPluginInstance& p, const std::function<void (juce::XmlElement&)>& edit)
{
    juce::MemoryBlock state;
    p.getStateInformation (state);
    auto hostXml = juce::AudioProcessor::getXmlFromBinary (state.getData(), (int) state.getSize());
    auto* component = hostXml != nullptr ? hostXml->getChildByName ("IComponent") : nullptr;
    if (component == nullptr)
    {
        ADD_FAILURE() << "no IComponent state";
        return state;
    }
    juce::MemoryBlock own;
    own.fromBase64Encoding (component->getAllSubText());
    auto xml = juce::AudioProcessor::getXmlFromBinary (own.getData(), (int) own.getSize());
    EXPECT_NE (xml, nullptr);
    const auto ownSize = 8 + (size_t) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (own.getData(), 4)) + 1;
    edit (*xml);
    juce::MemoryBlock edited;
    juce::AudioProcessor::copyXmlToBinary (*xml, edited);
    if (own.getSize() > ownSize)
        edited.append (juce::addBytesToPointer (own.getData(), ownSize), own.getSize() - ownSize);
    component->deleteAllTextElements();
    component->addTextElement (edited.toBase64Encoding());
    juce::MemoryBlock out;
    juce::AudioProcessor::copyXmlToBinary (*hostXml, out);
    return out;
}

void setParam (juce::XmlElement& xml, const juce::String& id, double value)
{
    for (auto* child : xml.getChildIterator())
        if (child->getStringAttribute ("id") == id)
            child->setAttribute ("value", value);
}
} // namespace

TEST (Host, SeesTheNameParametersAndSixtyFourChannelsOnEachBus)
{
    juce::PluginDescription d;
    auto p = loadPlugin (&d);
    ASSERT_NE (p, nullptr);
    EXPECT_EQ (d.name, "pelmarkmt");
    EXPECT_EQ (d.manufacturerName, "ostra");
    EXPECT_EQ (d.version, "6.297.0");
    EXPECT_TRUE (d.category.contains ("Fx")) << d.category;
    EXPECT_FALSE (d.isInstrument);
    EXPECT_EQ (p->getName(), "pelmarkmt");
    EXPECT_EQ (p->getBusCount (true), 1);
    EXPECT_EQ (p->getBusCount (false), 1);
    EXPECT_EQ (p->getTotalNumInputChannels(), 64);
    EXPECT_EQ (p->getTotalNumOutputChannels(), 64);
    EXPECT_EQ (p->getBus (true, 0)->getName(), "Input64");
    EXPECT_EQ (p->getBus (false, 0)->getName(), "Output64");

    struct Expected { const char* id; const char* name; bool automatable; float defaultValue; const char* lowest; const char* highest; };
    const Expected expected[] = {
        { "INS", "Inputs", false, countValue (2), "1", "64" },
        { "OUTS", "Outputs", false, countValue (2), "1", "64" },
        { "WGAIN", "Output Gain", true, 0.5f, "-24", "24" },
        { "FFTSIZE", "FFT:", false, 0.0f, "1024", "8192" },
        { "MODE", "Mode", false, 0.5f, "Mono", "One-to-One" },
        { "ZeroLatency", "Enables zero-latency", false, 0.0f, "Off", "On" },
        { "FilterAutoreload", "Autoreload current matrix", false, 0.0f, "Off", "On" },
    };
    // The wrapper adds its own bypass parameter after ours.
    ASSERT_EQ (p->getParameters().size(), 8);
    EXPECT_EQ (p->getParameters()[7]->getName (64), "Bypass");
    for (int i = 0; i < 7; ++i)
    {
        const auto& e = expected[i];
        SCOPED_TRACE (e.id);
        auto* q = p->getParameters()[i];
        auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*> (q);
        ASSERT_NE (hosted, nullptr);
        // VST3 parameter ids are the hashes of the string ids (top bit cleared).
        const auto hash = (juce::uint32) juce::String (e.id).hashCode() & 0x7fffffffu;
        EXPECT_EQ (hosted->getParameterID(), juce::String (hash));
        EXPECT_EQ (q->getName (64), e.name);
        EXPECT_EQ (q->isAutomatable(), e.automatable);
        EXPECT_NEAR (q->getDefaultValue(), e.defaultValue, 1e-5f);
        EXPECT_TRUE (q->getText (0.0f, 64).startsWithIgnoreCase (e.lowest)) << q->getText (0.0f, 64);
        EXPECT_TRUE (q->getText (1.0f, 64).startsWithIgnoreCase (e.highest)) << q->getText (1.0f, 64);
    }
}

// The latency follows the FFT size, including a change the host makes while it processes.
TEST (Host, ReportsLatencyOfHalfTheFftSize)
{
    auto p = loadPlugin();
    ASSERT_NE (p, nullptr);
    p->prepareToPlay (48000, 512);
    EXPECT_EQ (p->getLatencySamples(), 512);
    parameter (*p, "FFT:")->setValueNotifyingHost (1.0f / 3.0f);  // 2048
    for (int i = 0; i < 40 && p->getLatencySamples() != 1024; ++i)
        runSilence (*p, 4), pump (20);
    EXPECT_EQ (p->getLatencySamples(), 1024);
    parameter (*p, "Enables zero-latency")->setValueNotifyingHost (1.0f);
    for (int i = 0; i < 40 && p->getLatencySamples() != 512; ++i)
        runSilence (*p, 4), pump (20);
    EXPECT_EQ (p->getLatencySamples(), 512);
    p->releaseResources();
}

TEST (Host, StateRoundTrip)
{
    auto a = loadPlugin();
    ASSERT_NE (a, nullptr);
    const float values[] = { countValue (5), countValue (3), 0.75f, 2.0f / 3.0f, 0.0f, 0.0f, 1.0f };
    for (int i = 0; i < 7; ++i)
        a->getParameters()[i]->setValueNotifyingHost (values[i]);
    pump (250);
    juce::MemoryBlock state;
    a->getStateInformation (state);

    auto b = loadPlugin();
    ASSERT_NE (b, nullptr);
    b->setStateInformation (state.getData(), (int) state.getSize());
    pump (250);
    for (int i = 0; i < 7; ++i)
        EXPECT_NEAR (b->getParameters()[i]->getValue(), values[i], 1e-4f) << i;
}

// A restored state names a Multi matrix file; it is loaded once audio runs, and the host then
// hears the matrix convolution at level 4 and the latency the plug-in reports.
TEST (Host, RestoredMatrixIsLoadedAndConvolves)
{
    TempFolder tmp;
    const Matrix m = randomMatrix (3, 2, 1500, 31);
    ASSERT_TRUE (writeMultiFile (tmp.path ("m.wav"), m));
    auto p = loadPlugin();
    ASSERT_NE (p, nullptr);
    const auto state = editedState (*p, [&] (juce::XmlElement& xml)
    {
        setParam (xml, "INS", 2);
        setParam (xml, "OUTS", 3);
        xml.setAttribute ("MultiLastPath", tmp.path ("m.wav"));
    });
    p->setStateInformation (state.getData(), (int) state.getSize());
    p->prepareToPlay (48000, 512);
    const int latency = p->getLatencySamples();
    ASSERT_EQ (latency, 512);
    runSilence (*p, 1);
    pump (300);             // the timer's deferred reload
    runSilence (*p, 100);   // the change, then the half second of muting after the rebuild

    Channels x = { randomSignal (4096, 1, 0.5f), randomSignal (4096, 2, 0.5f) };
    const auto ref = referenceOutput (m, x, false);
    juce::AudioBuffer<float> buffer (64, 512);
    juce::MidiBuffer midi;
    Channels y (3);
    for (int b = 0; b < 16; ++b)
    {
        buffer.clear();
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < 512; ++k)
            {
                const size_t t = (size_t) (b * 512 + k);
                buffer.setSample (c, k, t < x[(size_t) c].size() ? x[(size_t) c][t] : 0.0f);
            }
        p->processBlock (buffer, midi);
        for (int o = 0; o < 3; ++o)
            y[(size_t) o].insert (y[(size_t) o].end(), buffer.getReadPointer (o), buffer.getReadPointer (o) + 512);
        for (int c = 3; c < 64; ++c)
            ASSERT_EQ (buffer.getMagnitude (c, 0, 512), 0.0f) << "undriven output " << c;
    }
    for (size_t o = 0; o < 3; ++o)
        for (size_t t = (size_t) latency; t < y[o].size(); ++t)
        {
            const size_t s = t - (size_t) latency;
            ASSERT_NEAR (y[o][t], s < ref[o].size() ? 4.0 * ref[o][s] : 0.0, 1e-3) << "output " << o << " sample " << t;
        }
}

// Hosts that are not built on JUCE number channels by VST3 speaker bit; JUCE's buffer is ordered
// by channel type. Host channel n must be engine channel n: with cell (n, n) = n + 1 and every
// other cell 0, output n is (n + 1) x 4 x input n, which a permuted channel would break.
TEST (Host, ChannelNOfTheHostIsChannelNOfTheEngine)
{
    const int count = 24;
    TempFolder tmp;
    Matrix m ((size_t) count, std::vector<std::vector<float>> ((size_t) count, std::vector<float> (1, 0.0f)));
    for (int n = 0; n < count; ++n)
        m[(size_t) n][(size_t) n][0] = float (n + 1);
    ASSERT_TRUE (writeMultiFile (tmp.path ("diag.wav"), m));
    auto p = loadPlugin();
    ASSERT_NE (p, nullptr);
    const auto state = editedState (*p, [&] (juce::XmlElement& xml)
    {
        setParam (xml, "INS", count);
        setParam (xml, "OUTS", count);
        xml.setAttribute ("MultiLastPath", tmp.path ("diag.wav"));
    });
    p->setStateInformation (state.getData(), (int) state.getSize());
    p->prepareToPlay (48000, 512);
    runSilence (*p, 1);
    pump (300);
    runSilence (*p, 100);

    const juce::ChannelMapping hostOrder (p->getBus (true, 0)->getCurrentLayout());
    juce::AudioBuffer<float> buffer (64, 512);
    juce::MidiBuffer midi;
    for (int b = 0; b < 3; ++b)
    {
        buffer.clear();
        for (int v = 0; v < 64; ++v)
            juce::FloatVectorOperations::fill (buffer.getWritePointer (hostOrder.getJuceChannelForVst3Channel (v)), 0.01f, 512);
        p->processBlock (buffer, midi);
    }
    for (int v = 0; v < 64; ++v)
    {
        const float expected = v < count ? 4.0f * 0.01f * float (v + 1) : 0.0f;
        EXPECT_NEAR (buffer.getSample (hostOrder.getJuceChannelForVst3Channel (v), 300), expected, 1e-4f) << "host channel " << v;
    }
}

// Damaged or hostile saved state: restore what can be restored, never crash, keep processing.
TEST (Host, GarbageStateRestoresWhatItCan)
{
    TempFolder tmp;
    tmp.dir.getChildFile ("folder.wav").createDirectory();
    tmp.dir.getChildFile ("text.wav").replaceWithText ("not audio");
    auto p = loadPlugin();
    ASSERT_NE (p, nullptr);
    p->prepareToPlay (44100, 512);

    juce::Random rng (5);
    std::vector<juce::MemoryBlock> states;
    for (int k = 0; k < 8; ++k)
    {
        juce::MemoryBlock junk ((size_t) rng.nextInt ({ 1, 4000 }));
        rng.fillBitsRandomly (junk.getData(), junk.getSize());
        states.push_back (junk);
    }
    juce::MemoryBlock wrongTag;
    juce::AudioProcessor::copyXmlToBinary (juce::XmlElement ("SOMETHINGELSE"), wrongTag);
    states.push_back (wrongTag);
    for (const auto* path : { "missing.wav", "folder.wav", "text.wav" })
        states.push_back (editedState (*p, [&] (juce::XmlElement& xml)
        {
            setParam (xml, "INS", 1e9);
            setParam (xml, "OUTS", -7);
            for (auto* child : xml.getChildIterator())
                if (child->getStringAttribute ("id") == "WGAIN")
                    child->setAttribute ("value", "not a number");
                else if (child->getStringAttribute ("id") == "FFTSIZE")
                    child->removeAttribute ("value");
            xml.setAttribute ("MultiLastPath", tmp.path (path));
            xml.setAttribute ("SamplesPerBlock", 1 << 30);
            xml.setAttribute ("FilterAutoreloadPeriod", -5);
            xml.setAttribute ("GuiSize", "zzz");
        }));
    for (auto& s : states)
    {
        p->setStateInformation (s.getData(), (int) s.getSize());
        runSilence (*p, 2);
        pump (150);
        runSilence (*p, 2);
    }
    p->setStateInformation (nullptr, 0);
    EXPECT_NEAR (p->getParameters()[0]->getValue(), 1.0f, 1e-5f);  // 1e9 inputs: clamped to 64
    EXPECT_NEAR (p->getParameters()[1]->getValue(), 0.0f, 1e-5f);  // -7 outputs: clamped to 1
    EXPECT_TRUE (std::isfinite (p->getParameters()[2]->getValue()));
    juce::AudioBuffer<float> buffer (64, 256);
    juce::MidiBuffer midi;
    buffer.clear();
    p->processBlock (buffer, midi);
    EXPECT_EQ (p->getLatencySamples(), 512);
}
