#include "PMFilter.h"

#include "PMConvolver.h"
#include "PMLogLine.h"
#include "PMPropertiesBase.h"

#include <algorithm>

namespace PM
{
void Filter::create (Convolver* owner, const PropertiesBase& properties, int filterId)
{
    convolver = owner;
    id = filterId;
    logger = owner != nullptr ? owner->getLogger() : nullptr;
    numInputs = properties.engineInputs();
    numOutputs = properties.engineOutputs();
    mode = properties.mode();
    samplesPerBlock = properties.samplesPerBlock() > 0 ? properties.samplesPerBlock() : 512;
    fftSize = properties.engineFftSize();
    halfSize = fftSize / 2;
    scale = 1.0f / (float) fftSize;
    if (irLength < fftSize)
        irLength = halfSize;
    update();
    irMatrix.create (numOutputs, numInputs, (unsigned long) irLength, (unsigned long) fftSize);
    numPartitions = std::max (1, irMatrix.partitionCount());
    sampleRate = properties.sampleRate();
    input = owner != nullptr ? &owner->input : nullptr;
    rebuildOutputStage();
    resetFilterChangeCountdown();
}

void Filter::update()
{
    halfSize = fftSize / 2;
    if (scratch.getNumChannels() != numOutputs || scratch.getNumSamples() != fftSize)
        scratch.setSize (numOutputs, fftSize);
    fft.create (fftSize, 0);
    if (convolver != nullptr)
        convolver->crossfadeReady = false;
}

bool Filter::alignAndStoreDFTs (float gain)
{
    irLength = (int) irMatrix.align();
    if (irMatrix.cells == nullptr)
        irMatrix.create (numOutputs, numInputs, (unsigned long) irLength, (unsigned long) fftSize);
    irMatrix.process (irLength, fft, gain);
    const int p = std::max (1, irMatrix.partitionCount());
    bool changed = false;
    if (p != numPartitions)
    {
        numPartitions = p;
        rebuildOutputStage();
        changed = true;
    }
    else if (other != nullptr && irLength != other->irLength)
    {
        rebuildOutputStage();
    }
    resetFilterChangeCountdown();
    return changed;
}

void Filter::destroy()
{
    output.destroy();
    fft.destroy();
}

unsigned long Filter::loadFromFile (const juce::String& path, int inputs, int outputs)
{
    juce::String why;
    const unsigned long length = irMatrix.loadFromFile (path, mode.load() == 1, inputs, outputs, &why);
    filePath = length != 0 ? path : juce::String();
    if (length == 0)
        log ("Cannot load matrix file " + path + ": " + why);
    return length;
}

bool Filter::isEqual (const PropertiesBase& properties) const
{
    return properties.samplesPerBlock() == samplesPerBlock.load()
           && properties.engineInputs() == numInputs
           && properties.engineOutputs() == numOutputs
           && properties.engineFftSize() == fftSize;
}

void Filter::resetFilterChangeCountdown() noexcept
{
    const int block = samplesPerBlock.load();
    changeCountdown = block > 0 ? irLength / block : 0;
}

void Filter::rebuildOutputStage()
{
    output.create ((unsigned long) numOutputs, (unsigned long) numPartitions, (unsigned long) halfSize,
                   (unsigned long) std::max (1, samplesPerBlock.load()));
}

void Filter::log (const juce::String& line) const
{
    if (logger != nullptr)
        logLine (logger.get(), line);
}
} // namespace PM
