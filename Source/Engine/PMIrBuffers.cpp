#include "PMIrBuffers.h"

#include "Files/PMSoundFile.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace PM
{
// ---------------------------------------------------------------------------------------------
void IrSpectrum::destroy()
{
    spectra.destroy();
    timeData.destroy();
    loaded = false;
}

void IrSpectrum::set (SoundFile& soundFile)
{
    const auto frames = (std::uint64_t) std::max<std::int64_t> (soundFile.info.frames, 0);
    const std::uint64_t n = std::min (frames, soundFile.samples.length);
    set (soundFile.samples.data, (unsigned long) n);
    file = soundFile.path;
}

void IrSpectrum::set (ArrayOf<float>& samples)
{
    set (samples.data, (unsigned long) samples.length);
}

void IrSpectrum::set (const float* samples, unsigned long n)
{
    timeData.create (n);
    if (n > 0 && samples != nullptr)
        Dsp::copy (samples, timeData.data, n);
    loaded = true;
}

void IrSpectrum::set (const IrSpectrum& other)
{
    if (&other == this)
        return;
    set (other.timeData.data, (unsigned long) other.timeData.length);
    file = other.file;
}

void IrSpectrum::makeDelta (unsigned long n, unsigned long position)
{
    timeData.create (n);
    if (position < n)
        timeData.data[position] = 1.0f;
    loaded = true;
}

void IrSpectrum::makeZero (unsigned long n)
{
    timeData.create (n);
    loaded = true;
}

void IrSpectrum::applyPartitionRule (std::uint64_t length, std::uint64_t fftSize)
{
    if (length == 0)
        return;
    const std::uint64_t h = fftSize / 2;
    partitionLength = h;
    partitions = h > 0 ? (int) ((length + h - 1) / h) : 1;
}

void IrSpectrum::alloc (int fftSize, int length)
{
    applyPartitionRule ((std::uint64_t) std::max (length, 0), (std::uint64_t) std::max (fftSize, 0));
    spectra.create ((unsigned long) partitions, (unsigned long) (std::max (fftSize, 0) / 2));
}

void IrSpectrum::process (int length, FftSpec& fftSpec, float processGain)
{
    const std::uint64_t n = (std::uint64_t) std::max (fftSpec.size, 0);
    const std::uint64_t h = n / 2;
    applyPartitionRule ((std::uint64_t) std::max (length, 0), n);
    spectra.create ((unsigned long) partitions, (unsigned long) h);
    if (! loaded || fftSpec.setup == nullptr || h == 0)
        return;

    std::vector<float> scratch (n);
    // A partitioning kept from another FFT size must not copy more than half this one.
    const std::uint64_t step = std::min (partitionLength, h);
    for (int i = 0; i < partitions; ++i)
    {
        std::fill (scratch.begin(), scratch.end(), 0.0f);
        const std::uint64_t start = (std::uint64_t) i * partitionLength;
        if (start < timeData.length)
        {
            const std::uint64_t count = std::min (step, timeData.length - start);
            if (processGain == 1.0f)
                Dsp::copy (timeData.data + start, scratch.data(), count);
            else
                Dsp::scale (timeData.data + start, processGain, scratch.data(), count);
        }
        Dsp::fftForwardFromReal (fftSpec.setup, scratch.data(), spectra[(std::size_t) i].split());
    }
}

void IrSpectrum::clear()
{
    Dsp::clear (timeData.data, timeData.length);
    spectra.clear();
}

// ---------------------------------------------------------------------------------------------
void SquareArrayOfIrSpectrum::create (int numRows, int numCols, unsigned long length, unsigned long fftSize)
{
    destroy();
    if (numRows <= 0 || numCols <= 0)
        return;
    const std::size_t count = detail::checkedProduct ((std::size_t) numRows, (std::size_t) numCols);
    cells = new IrSpectrum*[count]();
    rows = numRows;
    cols = numCols;
    try
    {
        for (int r = 0; r < numRows; ++r)
            for (int c = 0; c < numCols; ++c)
            {
                auto* cell = new IrSpectrum (r, c);
                cells[r * numCols + c] = cell;
                cell->alloc ((int) fftSize, (int) length);
            }
    }
    catch (...)
    {
        destroy();
        throw;
    }
    gain = 1.0f;
}

void SquareArrayOfIrSpectrum::destroy()
{
    if (cells != nullptr)
    {
        for (int i = 0; i < rows * cols; ++i)
            delete cells[i];
        delete[] cells;
    }
    cells = nullptr;
    rows = 0;
    cols = 0;
}

std::uint64_t SquareArrayOfIrSpectrum::align()
{
    std::uint64_t longest = 0;
    for (int i = 0; i < cellCount(); ++i)
        longest = std::max (longest, cells[i]->timeData.length);
    if (longest == 0)
        return 0;
    for (int i = 0; i < cellCount(); ++i)
    {
        IrSpectrum& c = *cells[i];
        if (c.timeData.length < longest)
        {
            ArrayOf<float> padded (longest);
            Dsp::copy (c.timeData.data, padded.data, c.timeData.length);
            std::swap (c.timeData.data, padded.data);
            std::swap (c.timeData.length, padded.length);
            c.timeData.maxValue = 0.0f;
            c.timeData.minValue = 0.0f;
        }
    }
    return longest;
}

void SquareArrayOfIrSpectrum::process (int length, FftSpec& fftSpec, float processGain)
{
    gain = processGain;
    for (int i = 0; i < cellCount(); ++i)
        cells[i]->process (length, fftSpec, processGain);
}

void SquareArrayOfIrSpectrum::resize (FftSpec& fftSpec)
{
    for (int i = 0; i < cellCount(); ++i)
        cells[i]->process (0, fftSpec, gain);
}

void SquareArrayOfIrSpectrum::clear()
{
    for (int i = 0; i < cellCount(); ++i)
        cells[i]->clear();
}

void SquareArrayOfIrSpectrum::move (SquareArrayOfIrSpectrum& target)
{
    if (&target == this)
        return;
    target.destroy();
    target.cells = cells;
    target.rows = rows;
    target.cols = cols;
    target.minValue = minValue;
    target.maxValue = maxValue;
    target.gain = gain;
    cells = nullptr;
    rows = 0;
    cols = 0;
}

void SquareArrayOfIrSpectrum::copyTimeDomainDataTo (SquareArrayOfIrSpectrum& target, unsigned long* length)
{
    if (&target == this)
        return;
    const int r = std::min (rows, target.rows);
    const int c = std::min (cols, target.cols);
    for (int i = 0; i < r; ++i)
        for (int k = 0; k < c; ++k)
        {
            const IrSpectrum& src = *cell (i, k);
            IrSpectrum& dst = *target.cell (i, k);
            dst.set (src.timeData.data, (unsigned long) src.timeData.length);
            dst.file = src.file;
        }
    if (length != nullptr)
        *length = (unsigned long) (cells != nullptr ? cells[0]->timeData.length : 0);
    target.gain = gain;
}

void SquareArrayOfIrSpectrum::findMaxMin()
{
    minValue = 1.0e12f;
    maxValue = -1.0e12f;
    for (int i = 0; i < cellCount(); ++i)
    {
        ArrayOf<float>& t = cells[i]->timeData;
        if (t.length == 0)
            continue;
        maxValue = std::max (maxValue, t.findMax());
        minValue = std::min (minValue, t.findMin());
    }
}

float SquareArrayOfIrSpectrum::absMax() const
{
    return std::max (std::fabs (maxValue), std::fabs (minValue));
}

float SquareArrayOfIrSpectrum::absMin() const
{
    return std::min (std::fabs (maxValue), std::fabs (minValue));
}

bool SquareArrayOfIrSpectrum::isFilled() const
{
    for (int i = 0; i < cellCount(); ++i)
        if (! cells[i]->loaded)
            return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
unsigned long SquareArrayOfIrSpectrum::loadFromFile (const juce::String& path, bool multi, int inputs, int outputs,
                                                     juce::String* error)
{
    auto fail = [error] (const juce::String& why) -> unsigned long
    {
        if (error != nullptr)
            *error = why;
        return 0;
    };

    const int numIn = inputs < 0 ? cols : inputs;
    const int numOut = outputs < 0 ? rows : outputs;
    if (numIn < 1 || numOut < 1 || numIn > cols || numOut > rows)
        return fail ("The matrix has " + juce::String (rows) + " x " + juce::String (cols)
                     + " cells; cannot load " + juce::String (numOut) + " outputs x " + juce::String (numIn) + " inputs.");

    SoundFile soundFile;
    if (soundFile.open (path, SFM_READ) == nullptr)
        return fail ("Cannot open " + path + ": " + juce::String::fromUTF8 (soundFile.errorText));

    const std::uint64_t frames = (std::uint64_t) soundFile.info.frames;
    const int channels = soundFile.info.channels;
    const int diagonal = std::min (numIn, numOut);
    std::uint64_t irLength = 0;
    if (multi)
    {
        if (channels < numOut)
            return fail ("The file has " + juce::String (channels) + " channel(s); the Multi layout needs one per output ("
                         + juce::String (numOut) + ").");
        irLength = frames / (std::uint64_t) numIn;
    }
    else if (channels == 1)
    {
        irLength = frames / (std::uint64_t) numIn;
    }
    else
    {
        if (channels < diagonal)
            return fail ("The file has " + juce::String (channels) + " channels; the One-to-One layout needs "
                         + juce::String (diagonal) + ".");
        irLength = frames;
    }
    if (irLength == 0)
        return fail ("The file has " + juce::String ((juce::int64) frames) + " frame(s), too few for "
                     + juce::String (numIn) + " input(s).");

    juce::String problem;
    if (! soundFile.readAllChecked (problem))
        return fail (problem);
    try
    {
        minValue = 1.0e12f;
        maxValue = -1.0e12f;
        const juce::File source (juce::File::getCurrentWorkingDirectory().getChildFile (path));
        const auto stride = (std::size_t) channels;
        auto writeCell = [&] (int r, int c, int channel, std::uint64_t start)
        {
            IrSpectrum& target = *cell (r, c);
            target.file = source;
            if (target.timeData.length != irLength)
                target.timeData.create ((unsigned long) irLength);
            Dsp::stridedCopy (soundFile.samples.data + start * stride + (std::size_t) channel, stride,
                              target.timeData.data, 1, (std::size_t) irLength);
            target.loaded = true;
            maxValue = std::max (maxValue, target.timeData.findMax());
            minValue = std::min (minValue, target.timeData.findMin());
        };

        if (multi)
        {
            for (int o = 0; o < numOut; ++o)
                for (int i = 0; i < numIn; ++i)
                    writeCell (o, i, o, (std::uint64_t) i * irLength);
        }
        else if (channels == 1)
        {
            for (int k = 0; k < diagonal; ++k)
                writeCell (k, k, 0, (std::uint64_t) k * irLength);
        }
        else
        {
            for (int k = 0; k < diagonal; ++k)
                writeCell (k, k, k, 0);
        }
    }
    catch (const std::bad_alloc&)
    {
        return fail ("Not enough memory to load " + path + ".");
    }
    return (unsigned long) irLength;
}
} // namespace PM
