#include "PMProcessor.h"

#include "Engine/PMLogLine.h"

#include <iostream>
#include <thread>

std::atomic<int> gNeedsGuiUpdate { 0 };
std::atomic<bool> gUpdateFileInfo { false };
std::atomic<bool> gUpdateMatrixLayout { false };
std::atomic<bool> gUpdateForModeChange { false };

std::atomic<int> PMAudioProcessor::ms_instanceNumber { 0 };

namespace
{
/** Holds the message manager lock unless the calling thread already runs (or holds) the message
    loop. On Linux, JUCE's VST3 wrapper runs the plug-in's message loop on a thread of its own
    until the host attaches its run loop, while the host calls state and set-up functions from
    its UI thread: without this the two would rebuild the engine at the same time. */
struct MessageThreadScope
{
    std::unique_ptr<juce::MessageManagerLock> lock;
    MessageThreadScope()
    {
        auto* mm = juce::MessageManager::getInstanceWithoutCreating();
        if (mm != nullptr && ! mm->currentThreadHasLockedMessageManager())
            lock = std::make_unique<juce::MessageManagerLock>();
    }
};

constexpr const char* listenedParameters[] = { PM::ParameterIds::inputs, PM::ParameterIds::outputs, PM::ParameterIds::gain,
                                               PM::ParameterIds::mode, PM::ParameterIds::fftSize, PM::ParameterIds::zeroLatency };
} // namespace

PMAudioProcessor::BusesProperties PMAudioProcessor::buses()
{
    const auto set = PM::ChannelLayout::sixtyFourChannels();
    return BusesProperties().withInput ("Input64", set, true).withOutput ("Output64", set, true);
}

PMAudioProcessor::PMAudioProcessor() : juce::AudioProcessor (buses()), properties (*this)
{
    const juce::String root = juce::String (PM::productName) + "_" + juce::String (ms_instanceNumber.fetch_add (1)) + "_";
    const juce::String welcome = "This is " + juce::String (PM::productName) + " version " + PM::productVersion
                                 + " - Build of " + __DATE__ + " @ " + __TIME__;
    logger.reset (juce::FileLogger::createDateStampedLogger (PM::productName, root, ".log", welcome));
    std::cout << "Log file in '"
              << juce::FileLogger::getSystemLogFileFolder().getChildFile (PM::productName).getFullPathName() << "/"
              << root << ".log" << std::endl;
    juce::Logger::writeToLog (juce::String (PM::productName) + ": creating the filtering engine");
    convolver.setLogger (logger);

    for (const auto* id : listenedParameters)
        properties.state.getParameter (id)->addListener (this);

    numChannelsChanged();
    properties.setSampleRate ((float) getSampleRate());
    convolver.create (properties);
    reportLatency();
    // Always running: it applies parameter changes that arrive on other threads, performs the
    // deferred reload of a restored state, and answers engine statuses. A timer is never
    // started from the audio thread (that would take a lock there).
    startTimer (100);
}

PMAudioProcessor::~PMAudioProcessor()
{
    const MessageThreadScope onMessageThread;  // no timer callback may be running meanwhile
    stopTimer();
    reloader.destroy();
    for (const auto* id : listenedParameters)
        properties.state.getParameter (id)->removeListener (this);
    logger.reset();
}

const juce::String PMAudioProcessor::getName() const
{
    return PM::productName;
}

bool PMAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    // By channel count, never by equality with one set: hosts may offer any arrangement.
    const int ins = layouts.getMainInputChannels();
    const int outs = layouts.getMainOutputChannels();
    return ins >= 1 && ins <= PM::ChannelLayout::maxChannels && outs >= 1 && outs <= PM::ChannelLayout::maxChannels;
}

void PMAudioProcessor::numChannelsChanged()
{
    inputOrder = PM::ChannelLayout::hostToBufferOrder (getChannelLayoutOfBus (true, 0));
    outputOrder = PM::ChannelLayout::hostToBufferOrder (getChannelLayoutOfBus (false, 0));
}

void PMAudioProcessor::prepareToPlay (double sampleRate, int samplesPerBlock)
{
    const MessageThreadScope onMessageThread;
    // The rate is kept for the editor's file checks; the engine does not depend on it.
    properties.setSampleRate ((float) sampleRate);
    if (samplesPerBlock > 0 && samplesPerBlock != properties.samplesPerBlock())
    {
        properties.setSamplesPerBlock (samplesPerBlock);
        // The matrix survives: losing it whenever the host changes its block length would
        // silence the plug-in until the user loads the file again.
        updateConvolver (true);
    }
    reportLatency();
}

void PMAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const int n = buffer.getNumSamples();
    if (convolver.filters == nullptr || isSuspended())
    {
        if (! buffer.hasBeenCleared())
            buffer.clear();
        return;
    }
    isProcessing = true;

    const int channels = buffer.getNumChannels();
    const int ins = juce::jmin (properties.inputs(), getTotalNumInputChannels(), PM::ChannelLayout::maxChannels);
    const int outs = juce::jmin (properties.outputs(), getTotalNumOutputChannels(), PM::ChannelLayout::maxChannels);
    updateParameters();

    for (int i = 0; i < ins; ++i)
    {
        const int ch = inputOrder[(size_t) i];
        inputPointers[(size_t) i] = ch < channels ? buffer.getReadPointer (ch) : nullptr;
    }
    for (int o = 0; o < outs; ++o)
    {
        const int ch = outputOrder[(size_t) o];
        outputPointers[(size_t) o] = ch < channels ? buffer.getWritePointer (ch) : nullptr;
    }
    convolver.process (inputPointers.data(), ins, outputPointers.data(), outs, (unsigned long) juce::jmax (n, 0));

    // Outputs the matrix does not drive are silent, not a copy of what came in on them.
    for (int o = outs; o < getTotalNumOutputChannels() && o < PM::ChannelLayout::maxChannels; ++o)
        if (outputOrder[(size_t) o] < channels)
            buffer.clear (outputOrder[(size_t) o], 0, n);

    if (engineStatus.load() == 0)
    {
        const int status = convolver.status.exchange (0);
        if (status != 0)
        {
            if (status == PM::Convolver::statusBlockTooLong)
                requestedFftSize = 2 * PM::PropertiesBase::roundUpToPowerOfTwo (n);
            engineStatus = status;
        }
    }
    hasProcessed = true;
    isProcessing = false;
}

juce::AudioProcessorEditor* PMAudioProcessor::createEditor()
{
    return new juce::GenericAudioProcessorEditor (*this);
}

// ---------------------------------------------------------------------------------------------
void PMAudioProcessor::parameterValueChanged (int parameterIndex, float)
{
    // Lock-free test: true on the message thread and on a thread that holds its lock.
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();
    if (mm != nullptr && mm->currentThreadHasLockedMessageManager())
        react (parameterIndex);
    else if (parameterIndex >= 0 && parameterIndex < 32)
        deferredReactions.fetch_or (1u << parameterIndex);  // the timer reacts on the message thread
}

void PMAudioProcessor::react (int index)
{
    switch (index)
    {
        case inputsIndex:
        case outputsIndex:
            log (index == inputsIndex ? "Requested new inputs -> " + juce::String (properties.inputs())
                                      : "Requested new outputs -> " + juce::String (properties.outputs()));
            updateConvolver (false);
            gUpdateMatrixLayout = true;
            gNeedsGuiUpdate = 1;
            break;

        case fftSizeIndex:
            log ("Requested new fftSize -> " + juce::String (properties.fftSize()));
            updateConvolver (true);
            break;

        case modeIndex:
        {
            const int m = properties.mode();
            if (m == PM::modeOneToOne && properties.inputs() != properties.outputs())
            {
                // One-to-One needs a square matrix: fall back to Multi (which reacts in turn).
                if (auto* choice = dynamic_cast<juce::AudioParameterChoice*> (properties.state.getParameter (PM::ParameterIds::mode)))
                    *choice = PM::modeMulti;
                return;
            }
            if (convolver.filters != nullptr)
            {
                convolver.filters[0].mode = m;
                convolver.filters[1].mode = m;
            }
            log ("New mode selected -> " + juce::String (m));
            gUpdateForModeChange = true;
            break;
        }

        case zeroLatencyIndex:
        {
            const bool on = properties.zeroLatency();
            const int size = on ? 2 * properties.samplesPerBlock() : properties.fftSize();
            if (on == zeroLatencyActive)
                break;
            log ("Requested zeroLatency " + juce::String (on ? "on" : "off") + " (fftSize -> " + juce::String (size) + ")");
            updateConvolver (true);
            zeroLatencyActive = on;
            gNeedsGuiUpdate = 1;
            break;
        }

        default:
        {
            auto* p = getParameters()[index];
            log ("Parameter " + juce::String (index) + " changed to " + juce::String (p != nullptr ? p->getValue() : 0.0f));
            break;
        }
    }
    if (statusSeen)
    {
        engineStatus = 0;
        statusHandled = false;
    }
}

void PMAudioProcessor::waitWhileProcessing() const
{
    while (isProcessing.load())
        std::this_thread::sleep_for (std::chrono::microseconds (200));
}

void PMAudioProcessor::updateConvolver (bool keepMatrix)
{
    waitWhileProcessing();
    if (isSuspended())
        return;
    suspendProcessing (true);
    try
    {
        if (keepMatrix)
            convolver.recreateKeepingMatrix (properties);
        else
            convolver.update (properties);
    }
    catch (const std::bad_alloc&)
    {
        log ("Not enough memory to build the filtering engine.");
        convolver.destroy();
    }
    convolver.setMutedSamplesCounter ((int) getSampleRate() / 2);
    suspendProcessing (false);
    reportLatency();
}

void PMAudioProcessor::updateParameters()
{
    convolver.setGain (juce::Decibels::decibelsToGain (properties.outputGainDb()));
}

void PMAudioProcessor::reportLatency()
{
    if (auto* active = convolver.activeFilter())
        setLatencySamples (active->halfSize);
}

// ---------------------------------------------------------------------------------------------
int PMAudioProcessor::loadAndParseAudioFile (juce::String path)
{
    const int r = convolver.setFilterMatrix (path, properties.inputs(), properties.outputs());
    if (r > 0)
    {
        properties.setLastSelectedPath (PM::modeMulti, path);
        if (properties.autoreloadOn())
        {
            juce::File file (path);
            startReloader (file);
        }
    }
    else if (r == 0)
    {
        showAlert ("File Open Error...", "Multichannel format unsupported.");
    }
    else
    {
        showAlert ("File Open Error...", "Cannot load new matrix. Filter change in progress.");
    }
    return r;
}

void PMAudioProcessor::startReloader (juce::File& file)
{
    log ("Starting filter reloader...");
    if (reloader.isThreadRunning())
        reloader.stop();
    reloader.create (file, properties.filterAutoreloadPeriod());
    reloader.setHandler (this);
    reloader.start (-1);
}

void PMAudioProcessor::stopReloader()
{
    reloader.destroy();
}

void PMAudioProcessor::handleMessage (const juce::Message& message)
{
    const auto* change = dynamic_cast<const PM::FilterChangeMessage*> (&message);
    if (change == nullptr)
        return;
    const int r = loadAndParseAudioFile (change->file.getFullPathName());
    if (r > 0)
        gNeedsGuiUpdate = r;
}

// ---------------------------------------------------------------------------------------------
void PMAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    const MessageThreadScope onMessageThread;
    const auto tree = properties.state.copyState();
    if (auto xml = tree.createXml())
        copyXmlToBinary (*xml, destData);
}

void PMAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const MessageThreadScope onMessageThread;
    std::unique_ptr<juce::XmlElement> xml;
    if (data != nullptr && sizeInBytes > 0)
        xml = getXmlFromBinary (data, sizeInBytes);
    if (xml != nullptr && xml->hasTagName (properties.state.state.getType()))
    {
        properties.state.replaceState (properties.sanitisedState (juce::ValueTree::fromXml (*xml)));
        updateConvolver (false);
    }
    else
    {
        log ("Saved state not recognised (" + juce::String (sizeInBytes) + " bytes); settings unchanged.");
    }
    if (properties.lastSelectedPath().isNotEmpty())
        reloadPending = true;
    zeroLatencyActive = properties.zeroLatency();
    gNeedsGuiUpdate = 1;
    gUpdateFileInfo = true;
    gUpdateMatrixLayout = true;
}

void PMAudioProcessor::timerCallback()
{
    const unsigned deferred = deferredReactions.exchange (0);
    for (int index = 0; index < 32; ++index)
        if ((deferred & (1u << index)) != 0)
            react (index);

    if (hasProcessed.load() && reloadPending)
    {
        reloadPending = false;
        const int r = loadAndParseAudioFile (properties.lastSelectedPath());
        gNeedsGuiUpdate = r;
        gUpdateFileInfo = true;
    }

    const int status = engineStatus.load();
    if (status > 0)
    {
        // Seen before reacting, so that the FFT-size reaction below releases the latch and the
        // audio callback reports the engine's next status.
        statusSeen = true;
        if (status == PM::Convolver::statusBlockTooLong && ! statusHandled)
        {
            statusHandled = true;
            const int wanted = requestedFftSize.load();
            if (! properties.setFftSize (wanted))
                log ("Host blocks need an FFT size of " + juce::String (wanted)
                     + ", which the FFT size list does not offer; zero latency follows any block length.");
        }
    }
}

// ---------------------------------------------------------------------------------------------
void PMAudioProcessor::log (const juce::String& line)
{
    PM::logLine (logger.get(), line);
}

void PMAudioProcessor::showAlert (const juce::String& title, const juce::String& text)
{
    log (title + " " + text);
    // Only where a user is looking: never from a hidden instance, a headless host or off the
    // message thread, and never modal.
    if (getActiveEditor() != nullptr && juce::MessageManager::existsAndIsCurrentThread())
        juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::WarningIcon, title, text, "OK");
}
